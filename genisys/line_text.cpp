// The link's log texts: hex dumps of frame bytes and the line formats filled without printf.
#include "genisys/line_text.h"

#include <cstring>


namespace genisys {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

char *PutHex(char *p, char separator, uint8_t b)
{
    p[0] = separator;
    p[1] = kHexDigits[b >> 4];
    p[2] = kHexDigits[b & 0x0F];
    return p + 3;
}

char *PutDecimal(char *p, int value)
{
    if (value < 0) {
        *p++ = '-';
        value = -value;
    }
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (n > 0)
        *p++ = digits[--n];
    return p;
}

}  // namespace

size_t SingleText(const uint8_t *frame, int first, int last, char *text)
{
    char *p = text;
    for (int i = first; i <= last; ++i)
        p = PutHex(p, ' ', frame[i]);
    *p = '\0';
    return static_cast<size_t>(p - text);
}

size_t PairText(const uint8_t *frame, int k, char *text)
{
    char *p = text;
    for (int i = 2; i < k - 3; i += 2) {
        p = PutHex(p, ' ', frame[i]);
        p = PutHex(p, '-', frame[i + 1]);
    }
    *p = '\0';
    return static_cast<size_t>(p - text);
}

size_t FormatLine(char *out, const char *format, int address, uint8_t header, const char *text)
{
    constexpr size_t kLongestNumber = 12;  // "-2147483648" or two hex digits
    char *p = out;
    char *const end = out + kLineTextSize - 1;
    const char *f = format;
    for (;;) {
        // The words between conversions go in whole.
        const char *mark = std::strchr(f, '%');
        const size_t words = mark ? static_cast<size_t>(mark - f) : std::strlen(f);
        const size_t room = static_cast<size_t>(end - p);
        std::memcpy(p, f, words < room ? words : room);
        p += words < room ? words : room;
        if (mark == nullptr || static_cast<size_t>(end - p) < kLongestNumber)
            break;
        f = mark + 1;
        if (*f == 'd') {
            p = PutDecimal(p, address);
        } else if (f[0] == '0' && f[1] == '2' && f[2] == 'X') {
            *p++ = kHexDigits[header >> 4];
            *p++ = kHexDigits[header & 0x0F];
            f += 2;
        } else if (*f == 's') {
            const size_t n = std::strlen(text);
            const size_t left = static_cast<size_t>(end - p);
            std::memcpy(p, text, n < left ? n : left);
            p += n < left ? n : left;
        } else {
            *p++ = '%';  // not one of the link's conversions: kept as written
            continue;
        }
        ++f;
    }
    *p = '\0';
    return static_cast<size_t>(p - out);
}

}  // namespace genisys
