// The record's defaults, the check of its stored ranges and the direct baud rate code table.
#include "config/config_record.h"

namespace config {

namespace {

struct DirectRate {
    uint8_t code;
    unsigned long rate;
    const char *text;
};

// Codes 0, 1, 8 and 9 match no item of the page's list; they come only from a file or a unit.
const DirectRate kDirectRates[] = {
    {0, 115200, "115200"}, {1, 57600, "57600"}, {8, 38400, "38400"}, {9, 19200, "19200"},
    {10, 9600, "9600"},    {11, 4800, "4800"},  {12, 2400, "2400"},  {13, 1200, "1200"},
    {14, 600, "600"},      {15, 300, "300"},
};

const char kUnlistedCodeText[] = "9600";

}  // namespace

ConfigRecord DefaultRecord()
{
    ConfigRecord r;
    static const uint8_t kDefaults[ConfigRecord::kSize] = {0x01, 0x00, 4, 1,  100, 30, 5,
                                                           1,    2,    5, 50, 12,  18, 6};
    for (size_t i = 0; i < ConfigRecord::kSize; ++i)
        r.bytes()[i] = kDefaults[i];
    return r;
}

const char *DirectBaudText(uint8_t code)
{
    for (const DirectRate &d : kDirectRates)
        if (d.code == code)
            return d.text;
    return kUnlistedCodeText;
}

uint8_t DirectBaudCode(unsigned long rate)
{
    for (const DirectRate &d : kDirectRates)
        if (d.rate == rate)
            return d.code;
    return kDirectBaudFallback;
}

bool IsStorable(const ConfigRecord &r)
{
    for (size_t i = 0; i < ConfigRecord::kSize; ++i) {
        const uint8_t b = r.bytes()[i];
        if (b < kStoredRange[i].low || b > kStoredRange[i].high)
            return false;
    }
    return true;
}

}  // namespace config
