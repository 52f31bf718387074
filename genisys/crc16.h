// CRC-16/ARC (reflected 0xA001, init 0, no final XOR), the checksum of every Genisys frame,
// and CRC-16/MODBUS, the same started at 0xFFFF, which some equipment computes instead.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace genisys {

constexpr uint16_t kCrcPolynomial = 0xA001;  // 0x8005, bit-reversed

// Which start value a decoder checks frames with; kAuto takes the first that a frame passes.
enum class CrcChoice : uint8_t { kArc, kModbus, kAuto };

constexpr uint16_t CrcStart(CrcChoice c) { return c == CrcChoice::kModbus ? 0xFFFF : 0; }

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
