// The message log's line format: a message filtered to printable characters, time-stamped and
// ended with CR LF in at most 255 characters, and the date that leads it in CommsLog.txt.
// Portable: the property sheet and the command-line tool write the same lines.
#pragma once
#include <cstdarg>
#include <cstddef>

namespace logline {

constexpr size_t kBufferSize = 256;     // a line, with its CR LF, is at most 255 characters
constexpr size_t kMaxStampLength = 64;  // a locale's time or date text is far shorter than this

// A message on its way to a line: at most 255 characters, and whether it had to be cut.
struct Message {
    char text[kBufferSize];
    size_t length = 0;
    bool cut = false;
    bool filtered = false;  // already only printable characters
};

// printf into the message; false when that gives nothing to log (an empty text, or none).
bool Format(Message &m, const char *format, va_list args);
// A text made elsewhere (the link's lines), filtered as it is copied; false when it is empty.
bool FromText(Message &m, const char *text, size_t length);

// Keeps only the characters 0x20 to 0x7E, closing up the rest; returns the new length.
size_t KeepPrintable(char *text, size_t length);

// time, TAB, the filtered message, CR LF into line (kBufferSize bytes); returns its length.
// A message that does not fit, or was already cut, is shortened and ends in "..." so the cut is
// visible.
size_t Build(char *line, const char *time, Message &m);

// The date and TAB that lead a line in CommsLog.txt, into out (kBufferSize bytes); returns
// the length.
size_t DatePrefix(char *out, const char *date);

}  // namespace logline
