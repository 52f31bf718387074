// The record's defaults, the check of its stored ranges and the direct baud rate rules.
#include "config/config_record.h"

namespace config {

namespace {

// The rate a code outside the table is shown as.
const char kUnlistedCodeText[] = "9600";

// Reads the decimal digits at the start of text; stops at the first other character. A number
// too long to be a rate gives one no table holds.
constexpr unsigned long LeadingNumber(const char *text)
{
    unsigned long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<unsigned long>(*text - '0');
        if (value > 99999999ul)
            return 0xFFFFFFFFul;
    }
    return value;
}

// The page's list matches without regard to letter case; rate texts are digits alone.
constexpr bool BeginsWith(const char *text, const char *prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix)
        if (*text != *prefix)
            return false;
    return true;
}

// Each item is the first one its own rate finds, and reads back as that rate, so every code
// with an item survives a trip through the page; no code or rate is listed twice.
constexpr bool RatesRoundTrip()
{
    const size_t n = sizeof kDirectRates / sizeof kDirectRates[0];
    for (size_t i = 0; i < n; ++i) {
        const DirectRate &d = kDirectRates[i];
        for (size_t j = 0; j < n; ++j) {
            const DirectRate &e = kDirectRates[j];
            if (j != i && (e.code == d.code || LeadingNumber(e.rate) == LeadingNumber(d.rate)))
                return false;
            if (j < i && e.item && d.item && BeginsWith(e.item, d.rate))
                return false;
        }
        if (d.item && (!BeginsWith(d.item, d.rate) || LeadingNumber(d.item) != LeadingNumber(d.rate)))
            return false;
    }
    return true;
}
static_assert(RatesRoundTrip(), "each list item is found by its own rate and reads back as it");

}  // namespace

ConfigRecord DefaultRecord()
{
    ConfigRecord r;
    static const uint8_t kDefaults[ConfigRecord::kSize] = {0x01, 0x00, 4, 1,  100, 30, 5,
                                                           1,    2,    5, 50, 12,  18, 6};
    for (size_t i = 0; i < ConfigRecord::kSize; ++i)
        r.Bytes()[i] = kDefaults[i];
    return r;
}

const char *DirectBaudText(uint8_t code)
{
    for (const DirectRate &d : kDirectRates)
        if (d.code == code)
            return d.rate;
    return kUnlistedCodeText;
}

int DirectBaudItem(uint8_t code)
{
    const char *rate = DirectBaudText(code);
    int index = 0;
    for (const DirectRate &d : kDirectRates) {
        if (!d.item)
            continue;
        if (BeginsWith(d.item, rate))
            return index;
        ++index;
    }
    return -1;
}

uint8_t DirectBaudCode(unsigned long rate)
{
    for (const DirectRate &d : kDirectRates)
        if (LeadingNumber(d.rate) == rate)
            return d.code;
    return kDirectBaudFallback;
}

uint8_t DirectBaudCodeOfText(const char *text)
{
    return DirectBaudCode(LeadingNumber(text));
}

bool IsStorable(const ConfigRecord &r)
{
    for (size_t i = 0; i < ConfigRecord::kSize; ++i) {
        const uint8_t b = r.Bytes()[i];
        if (b < kStoredRange[i].low || b > kStoredRange[i].high)
            return false;
    }
    return true;
}

}  // namespace config
