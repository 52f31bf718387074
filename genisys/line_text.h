// The link's log texts, written by hand: the decoder makes one for nearly every frame, and
// printf would be most of the receive path's cost.
#pragma once
#include <cstddef>
#include <cstdint>

namespace genisys {

// Room for " XX" per byte of the largest frame (128 bytes), and the terminating zero.
constexpr size_t kDataTextSize = 3 * 128 + 1;
// Room for the longest line the link makes: a CRC failure's dump and its words.
constexpr size_t kLineTextSize = kDataTextSize + 32;

// " XX" (upper-case hex) for each byte from first to last, inclusive; returns the length.
size_t SingleText(const uint8_t *frame, int first, int last, char *text);
// " XX-YY" per pair of the data bytes of a k-byte frame (from index 2 while below k - 3);
// an odd count pairs the last one with the CRC's low byte. Returns the length.
size_t PairText(const uint8_t *frame, int k, char *text);

// Fills one of the link's line formats: %d takes the address, %02X the header and %s the
// text; any other character is copied. out holds kLineTextSize bytes; returns the length.
size_t FormatLine(char *out, const char *format, int address, uint8_t header, const char *text);

}  // namespace genisys
