// ConfigRecord: the unit's 14-byte configuration, the same bytes on the form, in the file and
// in configuration frames.
#pragma once
#include <cstddef>
#include <cstdint>

struct ConfigRecord {
    static constexpr size_t kSize = 14;

    uint8_t options;         // 0: option bits (OPT_*)
    uint8_t genisysOptions;  // 1: bit 0 = use secure polls
    uint8_t genisysBaud;     // 2: 1 = 1200 ... 5 = 19200
    uint8_t genisysSlaveId;  // 3: 1 to 255
    uint8_t pollTime;        // 4: units of 10 ms, 10 to 255
    uint8_t recallTime;      // 5: seconds, 1 to 255
    uint8_t genisysTimeout;  // 6: seconds, 3 to 255
    uint8_t s2Id1;           // 7: 0 to 63
    uint8_t s2Id2;           // 8: bits 0-5 the ID, bit 6 set = second ID not polled
    uint8_t s2Timeout;       // 9: seconds, 3 to 255
    uint8_t isd;             // 10: units of 10 ms, 2 to 255
    uint8_t directBaud;      // 11: direct baud rate code, 10 to 15 from the page
    uint8_t preamble;        // 12: units of 6.666666 ms
    uint8_t postamble;       // 13: units of 6.666666 ms

    uint8_t *bytes() { return &options; }
    const uint8_t *bytes() const { return &options; }
};
static_assert(sizeof(ConfigRecord) == ConfigRecord::kSize, "the record is 14 bytes, no gaps");
