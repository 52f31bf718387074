// The message log's line format: a message filtered to printable characters, time-stamped and
// ended with CR LF in at most 255 characters, and the date that leads it in CommsLog.txt; and
// which of the link's lines are logged. Portable: the property sheet and the command-line tool
// write the same lines.
#pragma once
#include <cstdarg>
#include <cstddef>

#include "genisys/link_events.h"

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

// Whether a line of the link goes to a log: polls and acknowledgements only while the user asks
// for them ("Show Polls/ACKs", klp's --polls); they are counted always.
bool Shows(const genisys::LineEvent &line, bool showPolls);

// One message stamped from the clock for a log: its line as Build makes it and, when it goes to a
// file, the date and TAB that lead it in CommsLog.txt.
struct StampedLine {
    StampedLine() { time[0] = '\0'; }  // no time until the clock is read; nothing else cleared

    char time[kBufferSize];
    char line[kBufferSize];
    size_t length = 0;
    char prefix[kBufferSize];
    size_t prefixLength = 0;  // 0: not dated
    size_t textStart = 0;     // the message, after the time and its TAB

    // Reads the clock's time, and its date too when the line is dated (it goes to a file).
    void ReadClock(bool dated);
    // Reads the clock's date alone, for a line whose time was read without it.
    void ReadDate();
    // m's line, stamped with the time read.
    void Build(Message &m);
    const char *Text() const { return line + textStart; }
    size_t TextLength() const { return length - 2 - textStart; }  // without CR LF
};

}  // namespace logline
