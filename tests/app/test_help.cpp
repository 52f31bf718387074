// The help actions: which file and directory the shell is asked to open, by whom, and the
// message each shows when the shell reports a failure.
#include <gtest/gtest.h>

#include <string>

#include "app/about_dlg.h"
#include "comms/page/comms_dlg.h"
#include "config/page/config_dlg.h"
#include "genisys/genisys_protocol.h"
#include "app/help.h"
#include "res/maker.h"
#include "tests/support/fake_shell.h"
#include "tests/support/fakes.h"

namespace {

class HelpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::ResetAll();
        fake::TakeShellOpens();
        fake::SetShellResult(42);
        fake::SetModulePath("C:\\KLP\\KLP_V2Orizeze.exe");
        g_hwndSheet = m_sheet.handle();
        theAbout.m_hwndPage = m_about.handle();
    }

    void TearDown() override
    {
        g_hwndSheet = nullptr;
        theAbout.m_hwndPage = nullptr;
    }

    fake::Page m_sheet;
    fake::Page m_about;
};

TEST_F(HelpTest, ManualIsOpenedFromTheProgramsDirectory)
{
    struct Case {
        const char *modulePath;
        const char *directory;
    };
    const Case cases[] = {
        {"C:\\Program Files\\KLP\\KLP_V2Orizeze.exe", "C:\\Program Files\\KLP"},
        {"C:\\KLP_V2Orizeze.exe", "C:"},
        {"\\\\server\\tools\\KLP_V2Orizeze.exe", "\\\\server\\tools"},
        {"Z:/work/build/KLP_V2Orizeze.exe", "Z:/work/build/KLP_V2Orizeze.exe"},  // no backslash
        {"", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.modulePath);
        fake::SetModulePath(c.modulePath);
        OpenManual();
        const std::vector<fake::ShellOpen> opens = fake::TakeShellOpens();
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].owner, g_hwndSheet);
        EXPECT_EQ(opens[0].file, "KLP_V2Orizeze.pdf");
        EXPECT_EQ(opens[0].directory, c.directory);
    }
    EXPECT_TRUE(fake::TakeMessages().empty());
}

TEST_F(HelpTest, ManualFailureUpTo32NamesTheDirectoryInAnInformationBoxOwnedByTheSheet)
{
    struct Case {
        intptr_t result;
        bool fails;
    };
    // Compared unsigned: a "negative" result is a large value, not a failure.
    const Case cases[] = {{0, true}, {2, true}, {31, true}, {32, true}, {33, false},
                          {1000, false}, {-1, false}};
    fake::SetModulePath("C:\\Tools\\KLP\\KLP_V2Orizeze.exe");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.result);
        fake::SetShellResult(c.result);
        OpenManual();
        const std::vector<fake::Message> boxes = fake::TakeMessages();
        if (!c.fails) {
            EXPECT_TRUE(boxes.empty());
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Failed to open C:\\Tools\\KLP\\KLP_V2Orizeze.pdf");
        EXPECT_EQ(boxes[0].icon, sys::MessageIcon::kInformation);
        EXPECT_EQ(boxes[0].owner, g_hwndSheet);
    }
}

TEST_F(HelpTest, ManualFailureMessageKeepsALongestPathWhole)
{
    const std::string dir = "C:\\" + std::string(238, 'd');
    const std::string path = dir + "\\KLP_V2Orizeze.exe";  // 259 characters, the most there is
    ASSERT_EQ(path.size(), 259u);
    fake::SetModulePath(path);
    fake::SetShellResult(2);
    OpenManual();
    const std::vector<fake::Message> boxes = fake::TakeMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Failed to open " + dir + "\\KLP_V2Orizeze.pdf");
}

TEST_F(HelpTest, WebSiteIsOpenedForTheAboutPageFromTheCurrentDirectory)
{
    OpenWebSite();
    const std::vector<fake::ShellOpen> opens = fake::TakeShellOpens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].owner, theAbout.m_hwndPage);
    EXPECT_EQ(opens[0].file, KLP_MAKER_WEB_ADDRESS);
    EXPECT_EQ(opens[0].directory, ".\\");
    EXPECT_TRUE(fake::TakeMessages().empty());
}

TEST_F(HelpTest, WebSiteFailureUpTo32IncludingNegativeShowsAnErrorBoxOwnedByTheAboutPage)
{
    struct Case {
        intptr_t result;
        bool fails;
    };
    // Compared signed: a negative result is a failure.
    const Case cases[] = {{-1, true}, {0, true}, {32, true}, {33, false}, {4096, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.result);
        fake::SetShellResult(c.result);
        OpenWebSite();
        const std::vector<fake::Message> boxes = fake::TakeMessages();
        if (!c.fails) {
            EXPECT_TRUE(boxes.empty());
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Failed to open \"" KLP_MAKER_WEB_ADDRESS "\".");
        EXPECT_EQ(boxes[0].icon, sys::MessageIcon::kError);
        EXPECT_EQ(boxes[0].owner, theAbout.m_hwndPage);
    }
}

}  // namespace
