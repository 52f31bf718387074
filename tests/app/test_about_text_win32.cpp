// The About page's version text, read from a program's version block: the program's own
// block, a program without one, no program at all, and a buffer too small for the text.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "app/pages_win32.h"
#include "klp_version.h"
#include "tests/support/win32_helpers.h"

namespace {

const char kStamp[] = "compiled on [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} at [0-2][0-9]:[0-5][0-9]:[0-5][0-9]";

std::string ProgramPath() { return win32test::WindowsPath(KLP_PROGRAM_PATH); }

std::string VersionText(const std::string &path)
{
    char text[256];
    AboutVersionText(path.c_str(), text, sizeof text);
    return text;
}

TEST(AboutVersionText, TheProgramShowsTheFileVersionOfItsBlock)
{
    const std::string text = VersionText(ProgramPath());
    EXPECT_TRUE(std::regex_match(text, std::regex("v" KLP_VERSION_TEXT ", " + std::string(kStamp))))
        << text;
}

TEST(AboutVersionText, WithoutAVersionBlockOnlyTheBuildTimeShows)
{
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);  // this test has no block
    for (const std::string &path : {std::string(self), std::string("C:\\no\\such\\program.exe")}) {
        SCOPED_TRACE(path);
        const std::string text = VersionText(path);
        EXPECT_TRUE(std::regex_match(text, std::regex(std::string("C") + (kStamp + 1)))) << text;
    }
}

TEST(AboutVersionText, ASmallBufferGetsTheTextCutAndTerminated)
{
    char text[12];
    std::memset(text, 'x', sizeof text);
    AboutVersionText(ProgramPath().c_str(), text, 8);
    EXPECT_EQ(std::string(text), std::string("v" KLP_VERSION_TEXT).substr(0, 7));
    EXPECT_EQ(text[8], 'x');  // nothing written past the given size
}

}  // namespace
