// Genisys frame layout: header, address, data, CRC-16, terminator, with the 0xF0 escape.
#pragma once
#include <cstddef>
#include <cstdint>

// Flags of CGenisysProtocol::SendFrame.
enum SendFlags {
    SEND_CRC = 1,     // compute and append the CRC-16
    SEND_CONFIG = 2,  // configuration frame: CRC XOR the marker, configuration log texts
    SEND_NOLOG = 4,   // write no log line
};

namespace genisys {

using ::SEND_CONFIG;
using ::SEND_CRC;
using ::SEND_NOLOG;

constexpr uint8_t kEscape = 0xF0;      // prefix of an escaped byte; value - 0xF0 follows
constexpr uint8_t kTerminator = 0xF6;  // ends every frame, never escaped
constexpr uint16_t kConfigMarker = 0x0F0F;  // XORed into the CRC of configuration frames

// Header bytes (message types) seen on the line.
enum Header : uint8_t {
    kHdrAckMaster = 0xF1,
    kHdrIndication = 0xF2,      // also the configuration read response
    kHdrCheckback = 0xF3,
    kHdrDateTime = 0xF8,
    kHdrCommonControl = 0xF9,
    kHdrAckSlave = 0xFA,        // also the configuration write acknowledgement
    kHdrPoll = 0xFB,            // also the configuration read request
    kHdrControl = 0xFC,         // also the configuration write request
    kHdrRecall = 0xFD,
    kHdrCommit = 0xFE,          // configuration commit & reset request
};

// A byte above 0xF0 other than the terminator starts a frame at a receiver.
constexpr bool IsHeaderByte(uint8_t b) { return b > kEscape && b != kTerminator; }

// Worst case on the wire for n data bytes: header, 2 x (address + n data + 2 CRC), terminator.
constexpr size_t MaxWireLength(size_t n) { return 2 * n + 8; }

// Encodes one frame into out (which must hold MaxWireLength(n) bytes) and returns its length.
size_t EncodeFrame(uint8_t header, uint8_t address, const uint8_t *data, size_t n, int flags,
                   uint8_t *out);

}  // namespace genisys
