// ConfigRecord: the unit's 14-byte configuration, the same bytes on the form, in the file and
// in configuration frames.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

struct ConfigRecord {
    static constexpr size_t kSize = 14;

    uint8_t options;         // 0: option bits (config::ConfigOption)
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

    // The 14 bytes in order: the record's own object representation, which a trivially
    // copyable type may be read and written through (not &options, whose neighbours lie
    // outside that one member).
    uint8_t *Bytes() { return reinterpret_cast<unsigned char *>(this); }
    const uint8_t *Bytes() const { return reinterpret_cast<const unsigned char *>(this); }
};
static_assert(sizeof(ConfigRecord) == ConfigRecord::kSize, "the record is 14 bytes, no gaps");
static_assert(std::is_trivially_copyable<ConfigRecord>::value &&
                  std::is_standard_layout<ConfigRecord>::value,
              "the record's bytes are its object representation");
static_assert(offsetof(ConfigRecord, options) == 0 && offsetof(ConfigRecord, postamble) == 13,
              "the members lie at their byte positions");

namespace config {

// Bits of ConfigRecord::options.
enum ConfigOption : uint8_t {
    kOptRxEqualise = 1 << 0,   // "Rx audio equalisation"
    kOptV22TxHigh = 1 << 1,    // "V.22 Tx high/Rx low"
    kOptNrzi = 1 << 2,         // "NRZ I"
    kOptNoCtrlByte = 1 << 3,   // "No CTRL byte"
    kOptSend32Bits = 1 << 4,   // "Send 32 bits"
    kOptSyncClock = 1 << 5,    // "Sync use clock lines"
    kOptKeepSending = 1 << 6,  // "Keep sending (zeros) when comms down"
    kOptGeHarmon = 1 << 7,     // protocol implementation: 0 = "US&S", 1 = "GE/Harmon"
};

constexpr uint8_t kSecurePolls = 0x01;  // genisysOptions bit 0
constexpr uint8_t kS2Id2Off = 0x40;     // s2Id2 bit 6: the second S2 ID is not polled
constexpr uint8_t kS2IdMask = 0x3F;     // s2Id2 bits 0-5

// Units of the VF preamble and postamble, in milliseconds (as the unit counts them).
constexpr double kVfUnitMs = 6.666666;

// The record a fresh page shows, and "Default" restores.
ConfigRecord DefaultRecord();

// Direct baud rate codes (byte 11), both ways, in one table. The page's list holds the rows
// with an item, in table order; its items begin with their rate, which is how the page finds
// a code's item (by the rate text, as a prefix) and reads an item back (by the number at its
// start). Codes 0, 1, 8 and 9 name rates no item offers; they come only from a file or a unit.
struct DirectRate {
    uint8_t code;
    const char *rate;  // the rate text
    const char *item;  // the page's list item for it, or null
};
inline constexpr DirectRate kDirectRates[] = {
    {15, "300", "300/1200"},   {14, "600", "600/1200"},   {13, "1200", "1200/1200"},
    {12, "2400", "2400/2400"}, {11, "4800", "4800/1200"}, {10, "9600", "9600/1200"},
    {9, "19200", nullptr},     {8, "38400", nullptr},     {1, "57600", nullptr},
    {0, "115200", nullptr},
};
constexpr uint8_t kDirectBaudFallback = 12;  // 2400: no selection, or a rate not in the table

// The rate text a code is shown as; codes outside the table show as "9600".
const char *DirectBaudText(uint8_t code);
// The page's list item a code selects, counting from 0: the first item beginning with its rate
// text; -1 when none does (0, 1, 8 and 9), and the list then keeps what it showed.
int DirectBaudItem(uint8_t code);
// The code for a rate number; numbers outside the table give 12.
uint8_t DirectBaudCode(unsigned long rate);
// The code the page reads from a list item's text: the decimal number at its start ("4800/1200"
// reads as 4800), through DirectBaudCode; an empty text (no selection) reads as 0, so 12.
uint8_t DirectBaudCodeOfText(const char *text);

// The range a byte is kept to when the page is taken into the record.
struct ByteRange {
    uint8_t low;
    uint8_t high;
};
// Ranges of every byte as stored from the page, derived from the fields that share each byte
// (config_fields.cpp): byte 0 is any bit pattern, byte 1 bit 0 alone, byte 8 an ID of 0 to 63
// with "not polled" in bit 6.
extern const ByteRange kStoredRange[ConfigRecord::kSize];
// True when every byte is one ControlsToRecord could have produced.
bool IsStorable(const ConfigRecord &r);

}  // namespace config
