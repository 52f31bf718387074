// The message log's line format, shared by every front end.
#include "comms/log_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"

namespace logline {

namespace {

const char kCutMark[] = "...";

bool IsPrintable(char c) { return c >= 0x20 && c <= 0x7E; }

size_t StampLength(const char *stamp) { return std::min(std::strlen(stamp), kMaxStampLength); }

}  // namespace

bool Format(Message &m, const char *format, va_list args)
{
    int length;
    if (std::strchr(format, '%') == nullptr) {
        // A plain text needs no formatting.
        length = static_cast<int>(std::strlen(format));
        std::memcpy(m.text, format, std::min(static_cast<size_t>(length) + 1, sizeof m.text));
        m.text[sizeof m.text - 1] = '\0';
    } else {
        length = std::vsnprintf(m.text, sizeof m.text, format, args);
    }
    if (length <= 0)
        return false;  // nothing to say (or nothing that could be formatted)
    m.cut = static_cast<size_t>(length) >= sizeof m.text;
    m.length = m.cut ? sizeof m.text - 1 : static_cast<size_t>(length);
    return true;
}

bool FromText(Message &m, const char *text, size_t length)
{
    if (length == 0)
        return false;
    m.cut = length >= sizeof m.text;
    const size_t kept = m.cut ? sizeof m.text - 1 : length;
    size_t out = 0;
    for (size_t in = 0; in < kept; ++in) {
        m.text[out] = text[in];
        out += IsPrintable(text[in]);
    }
    m.text[out] = '\0';
    m.length = out;
    m.filtered = true;
    return true;
}

// Most messages are all printable but for a final line feed, so skip to the first character
// that goes before moving anything.
size_t KeepPrintable(char *text, size_t length)
{
    size_t out = 0;
    while (out < length && IsPrintable(text[out]))
        ++out;
    for (size_t in = out; in < length; ++in)
        if (IsPrintable(text[in]))
            text[out++] = text[in];
    text[out] = '\0';
    return out;
}

size_t Build(char *line, const char *time, Message &m)
{
    if (!m.filtered)
        m.length = KeepPrintable(m.text, m.length);
    m.filtered = true;
    const size_t timeLength = StampLength(time);
    const size_t room = kBufferSize - 1 - timeLength - 3;  // TAB, CR, LF
    const bool cut = m.cut || m.length > room;
    const size_t textLength = std::min(m.length, room);

    char *p = line;
    std::memcpy(p, time, timeLength);
    p += timeLength;
    *p++ = '\t';
    std::memcpy(p, m.text, textLength);
    if (cut && textLength >= sizeof kCutMark - 1)
        std::memcpy(p + textLength - (sizeof kCutMark - 1), kCutMark, sizeof kCutMark - 1);
    p += textLength;
    std::memcpy(p, "\r\n", 3);
    return static_cast<size_t>(p + 2 - line);
}

size_t DatePrefix(char *out, const char *date)
{
    const size_t length = StampLength(date);
    std::memcpy(out, date, length);
    out[length] = '\t';
    out[length + 1] = '\0';
    return length + 1;
}

bool Shows(const genisys::LineEvent &line, bool showPolls)
{
    return showPolls || line.kind != genisys::LineKind::kPollOrAck;
}

void StampedLine::ReadClock(bool dated)
{
    sys::TimeText(time, sizeof time);
    prefixLength = 0;
    if (dated)
        ReadDate();
}

void StampedLine::ReadDate()
{
    char date[kBufferSize];
    sys::DateText(date, sizeof date);
    prefixLength = DatePrefix(prefix, date);
}

void StampedLine::Build(Message &m)
{
    length = logline::Build(line, time, m);
    textStart = StampLength(time) + 1;
}

}  // namespace logline
