// The link's log texts: hex dumps of frame bytes and the line formats filled without printf.
#include "genisys/line_text.h"


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
    constexpr long kLongestNumber = 12;  // "-2147483648" or two hex digits
    char *p = out;
    char *const end = out + kLineTextSize - 1;
    for (const char *f = format; *f != '\0' && end - p > kLongestNumber; ++f) {
        if (*f != '%') {
            *p++ = *f;
        } else if (f[1] == 'd') {
            p = PutDecimal(p, address);
            f += 1;
        } else if (f[1] == '0' && f[2] == '2' && f[3] == 'X') {
            *p++ = kHexDigits[header >> 4];
            *p++ = kHexDigits[header & 0x0F];
            f += 3;
        } else if (f[1] == 's') {
            for (const char *t = text; *t != '\0' && p < end; ++t)
                *p++ = *t;
            f += 1;
        } else {
            *p++ = *f;
        }
    }
    *p = '\0';
    return static_cast<size_t>(p - out);
}

}  // namespace genisys
