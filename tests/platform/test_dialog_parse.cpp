// A field's text read as an unsigned number the way Windows' GetDlgItemInt reads it: blanks,
// digits, the first other character, a minus sign and the edges of 32 bits.
#include <gtest/gtest.h>

#include "platform/dialog.h"

namespace {

TEST(ParseUint, ReadsAsWindowsDoes)
{
    const struct {
        const char *text;
        unsigned value;
        bool ok;
    } cases[] = {
        {"0", 0, true},
        {"7", 7, true},
        {"300", 300, true},
        {"  42", 42, true},            // leading blanks are skipped
        {"\t9", 9, true},
        {"12abc", 12, true},           // digits up to the first other character
        {"12 34", 12, true},
        {"0007", 7, true},             // leading zeros do not count towards the size
        {"00000000000000000004294967295", 4294967295u, true},
        {"4294967294", 4294967294u, true},
        {"4294967295", 4294967295u, true},  // the top value is a value, not an overflow
        {"4294967296", 0, false},      // past 32 bits
        {"18446744073709551621", 0, false},  // past 64 bits too: no wrap back into range
        {"99999999999999999999999", 0, false},
        {"", 0, false},
        {"   ", 0, false},
        {"abc", 0, false},
        {"-5", 0, false},              // not 4294967291
        {"-0", 0, false},
        {" -1", 0, false},
        {"+5", 0, false},
        {"x12", 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        bool ok = !c.ok;
        EXPECT_EQ(dlg::ParseUint(c.text, &ok), c.value);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(dlg::ParseUint(c.text), c.value);  // the flag is optional
    }
}

TEST(ParseUint, NoTextReadsAsZeroWithFailure)
{
    bool ok = true;
    EXPECT_EQ(dlg::ParseUint(nullptr, &ok), 0u);
    EXPECT_FALSE(ok);
}

}  // namespace
