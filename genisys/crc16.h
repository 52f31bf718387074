// CRC-16/ARC (reflected 0xA001, init 0, no final XOR), the checksum of every Genisys frame.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace genisys {

constexpr uint16_t kCrcPolynomial = 0xA001;  // 0x8005, bit-reversed

// Built at compile time from the polynomial, so no table is pasted by hand.
constexpr std::array<uint16_t, 256> MakeCrcTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ kCrcPolynomial)
                            : static_cast<uint16_t>(crc >> 1);
        table[i] = crc;
    }
    return table;
}

inline constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

constexpr uint16_t Crc16(const uint8_t *bytes, size_t count, uint16_t crc = 0)
{
    for (size_t i = 0; i < count; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ bytes[i]) & 0xFF]);
    return crc;
}

}  // namespace genisys
