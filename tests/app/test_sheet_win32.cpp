// The real program, started as a technician starts it: the sheet, its buttons and pages as
// they open, the About text, help without a manual, and closing. Driven from outside by
// window caption, control id and standard messages; every wait is bounded.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "klp_version.h"
#include "res/resource.h"
#include "tests/support/win32_helpers.h"

namespace {

const char kSheetCaption[] = "Kelpro (S2 to Genisys, 2 x 64 bit version)";
const char kBoxCaption[] = "Kelpro - Config S2-QTX";
constexpr DWORD kStartMs = 20000;  // a first Wine window can take a while
constexpr DWORD kWaitMs = 10000;
constexpr int kApplyButton = 0x3021;

// The program's path as Windows sees it: the build passes a Unix path, Wine serves it on Z:.
std::string ProgramPath() { return win32test::WindowsPath(KLP_PROGRAM_PATH); }

// Polls until cond holds or the time is up; true when it held.
bool WaitFor(const std::function<bool()> &cond, DWORD ms)
{
    const DWORD start = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - start > ms)
            return false;
        Sleep(20);
    }
    return true;
}

std::string Text(HWND hwnd)
{
    char buf[4096] = "";
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return buf;
}

struct Find {
    DWORD pid;
    std::string caption;
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND hwnd, LPARAM lParam)
{
    Find *f = reinterpret_cast<Find *>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == f->pid && IsWindowVisible(hwnd) && std::strcmp(cls, "#32770") == 0 &&
        Text(hwnd) == f->caption) {
        f->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND TopLevel(DWORD pid, const std::string &caption)
{
    Find f{pid, caption, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

BOOL CALLBACK CollectStatic(HWND hwnd, LPARAM lParam)
{
    char cls[64] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    if (_stricmp(cls, "Static") == 0) {
        const std::string text = Text(hwnd);
        std::string &longest = *reinterpret_cast<std::string *>(lParam);
        if (text.size() > longest.size())
            longest = text;
    }
    return TRUE;
}

// A message box's message: its longest static text.
std::string BoxText(HWND box)
{
    std::string text;
    EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&text));
    return text;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A directory of its own: no manual beside the program, no CommsLog.txt left behind.
        char tmp[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, tmp), 0u);
        m_dir = std::string(tmp) + "klp-sheet-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(m_dir.c_str(), nullptr);
        m_exe = m_dir + "\\KLP_V2Orizeze.exe";
        ASSERT_TRUE(CopyFileA(ProgramPath().c_str(), m_exe.c_str(), FALSE)) << ProgramPath();
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::string cmd = "\"" + m_exe + "\"";
        ASSERT_TRUE(CreateProcessA(m_exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   m_dir.c_str(), &si, &m_pi));
        ASSERT_TRUE(WaitFor([&] { return (m_sheet = TopLevel(m_pi.dwProcessId, kSheetCaption)); },
                            kStartMs));
    }

    void TearDown() override
    {
        if (m_pi.hProcess) {
            if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(m_pi.hProcess, 99);
                WaitForSingleObject(m_pi.hProcess, 5000);
            }
            CloseHandle(m_pi.hProcess);
            CloseHandle(m_pi.hThread);
        }
        DeleteFileA((m_dir + "\\CommsLog.txt").c_str());
        DeleteFileA(m_exe.c_str());
        RemoveDirectoryA(m_dir.c_str());
    }

    HWND Page(int index)
    {
        return reinterpret_cast<HWND>(SendMessageA(m_sheet, PSM_INDEXTOHWND, index, 0));
    }

    HWND Box() { return TopLevel(m_pi.dwProcessId, kBoxCaption); }

    // Waits for a message box of the program, returns its text and dismisses it.
    std::string TakeBox()
    {
        HWND box = nullptr;
        if (!WaitFor([&] { return (box = Box()); }, kWaitMs))
            return "(no message box)";
        const std::string text = BoxText(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return !IsWindow(box); }, kWaitMs);
        return text;
    }

    // The automatic open ends with an "Opened" or a "Failed to open" line (after its box).
    std::string AwaitAutoOpen()
    {
        HWND log = GetDlgItem(Page(0), IDC_LOG);
        std::string text;
        WaitFor([&] {
            if (HWND box = Box())
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            text = Text(log);
            return text.find(" baud.") != std::string::npos;
        }, kWaitMs);
        return text;
    }

    DWORD CloseAndWait()
    {
        PostMessageA(m_sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        if (WaitForSingleObject(m_pi.hProcess, kWaitMs) != WAIT_OBJECT_0)
            return 0xDEADBEEF;
        DWORD code = 0;
        GetExitCodeProcess(m_pi.hProcess, &code);
        return code;
    }

    std::string m_dir, m_exe;
    PROCESS_INFORMATION m_pi = {};
    HWND m_sheet = nullptr;
};

TEST_F(ProgramTest, StartsCentredOnTheCommsPageWithCloseAndHelpOnly)
{
    RECT r, work;
    GetWindowRect(m_sheet, &r);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((r.left + r.right) / 2, (work.left + work.right) / 2, 2);
    EXPECT_NEAR((r.top + r.bottom) / 2, (work.top + work.bottom) / 2, 2);

    HWND ok = GetDlgItem(m_sheet, IDOK);
    EXPECT_TRUE(!ok || (!IsWindowVisible(ok) && !IsWindowEnabled(ok)));
    HWND apply = GetDlgItem(m_sheet, kApplyButton);
    EXPECT_TRUE(!apply || !IsWindowVisible(apply));
    HWND close = GetDlgItem(m_sheet, IDCANCEL);
    ASSERT_TRUE(close);
    EXPECT_EQ(Text(close), "Close");
    EXPECT_TRUE(IsWindowVisible(close));
    HWND help = GetDlgItem(m_sheet, IDHELP);
    ASSERT_TRUE(help);
    EXPECT_TRUE(IsWindowVisible(help));

    HWND tabs = reinterpret_cast<HWND>(SendMessageA(m_sheet, PSM_GETTABCONTROL, 0, 0));
    EXPECT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 3);
    HWND comms = Page(0);
    ASSERT_TRUE(comms);
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageA(m_sheet, PSM_GETCURRENTPAGEHWND, 0, 0)), comms);
    EXPECT_EQ(Page(1), nullptr);  // created when first shown
    EXPECT_EQ(Page(2), nullptr);
    EXPECT_EQ(CloseAndWait(), 0u);
}

TEST_F(ProgramTest, CommsPageStartsWithItsListsFieldsAndOneAutomaticOpen)
{
    HWND comms = Page(0);
    HWND ports = GetDlgItem(comms, IDC_PORT_LIST);
    HWND bauds = GetDlgItem(comms, IDC_BAUD_LIST);
    EXPECT_EQ(SendMessageA(bauds, CB_GETCOUNT, 0, 0), 5);
    EXPECT_EQ(Text(bauds), "9600");
    EXPECT_EQ(Text(GetDlgItem(comms, IDC_SLAVE_TO_CONFIG)), "1");
    EXPECT_EQ(Text(GetDlgItem(comms, IDC_COUNTERS)), "0/0");
    EXPECT_GE(SendMessageA(ports, CB_GETCOUNT, 0, 0), 1);

    const std::string log = AwaitAutoOpen();
    const std::regex line("\t(Opened (COM[1-9]|\\\\\\\\\\.\\\\COM[1-3][0-9]) at 9600 baud\\."
                          "|Failed to open .* at 9600 baud\\.)\r\n$");
    EXPECT_TRUE(std::regex_search(log, line)) << log;
    const bool opened = log.find("\tOpened ") != std::string::npos;
    EXPECT_EQ(SendMessageA(ports, CB_GETCURSEL, 0, 0), opened ? 1 : 0);
    // Exactly one attempt: the timer does not fire again.
    Sleep(600);
    EXPECT_EQ(Text(GetDlgItem(comms, IDC_LOG)), log);
    EXPECT_EQ(CloseAndWait(), 0u);
}

TEST_F(ProgramTest, AboutPageShowsTheVersionFromTheVersionBlock)
{
    AwaitAutoOpen();
    PostMessageA(m_sheet, PSM_SETCURSEL, 2, 0);
    ASSERT_TRUE(WaitFor([&] { return Page(2) != nullptr; }, kWaitMs));
    const std::string version = Text(GetDlgItem(Page(2), IDC_ABOUT_VERSION));
    const std::regex expected("v" KLP_VERSION_TEXT ", compiled on [A-Z][a-z]{2} [ 1-3][0-9] "
                              "[0-9]{4} at [0-2][0-9]:[0-5][0-9]:[0-5][0-9]");
    EXPECT_TRUE(std::regex_match(version, expected)) << version;
    EXPECT_EQ(CloseAndWait(), 0u);
}

TEST_F(ProgramTest, ConfigPageJoinsTheSheetAndSetsItsDefaultsWhenFirstShown)
{
    AwaitAutoOpen();
    PostMessageA(m_sheet, PSM_SETCURSEL, 1, 0);
    ASSERT_TRUE(WaitFor([&] { return Page(1) != nullptr; }, kWaitMs));
    HWND status = GetDlgItem(Page(1), IDC_CFG_STATUS);
    EXPECT_TRUE(WaitFor([&] { return Text(status) == "Set to defaults."; }, kWaitMs))
        << Text(status);
    EXPECT_EQ(CloseAndWait(), 0u);
}

TEST_F(ProgramTest, HelpWithoutTheManualNamesItBesideTheProgramOnEveryPage)
{
    AwaitAutoOpen();
    const std::string expected = "Failed to open " + m_dir + "\\KLP_V2Orizeze.pdf";
    for (int index : {0, 1, 2}) {
        SCOPED_TRACE(index);
        PostMessageA(m_sheet, PSM_SETCURSEL, index, 0);
        ASSERT_TRUE(WaitFor([&] { return Page(index) != nullptr; }, kWaitMs));
        PostMessageA(m_sheet, PSM_PRESSBUTTON, PSBTN_HELP, 0);
        EXPECT_EQ(TakeBox(), expected);
    }
    EXPECT_EQ(CloseAndWait(), 0u);
}

}  // namespace
