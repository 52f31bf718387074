// The message log on a real Win32 multi-line edit control (under Wine in CI): the control's own
// line counting drives the trim, and the check box drives the file.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "comms/page/comms_dlg.h"
#include "platform/system.h"
#include "res/resource.h"
#include "tests/comms/log_dir.h"

namespace {

// A top-level window holding the log's two controls with the Comms page's ids and styles.
class LogEditTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sys::InitUiThread();
        m_page = CreateWindowExA(0, "STATIC", "Comms", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(m_page, nullptr);
        const DWORD editStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_MULTILINE |
                                ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_HSCROLL | WS_VSCROLL;
        m_edit = CreateWindowExA(0, "EDIT", "", editStyle, 10, 60, 600, 380, m_page,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_LOG)),
                                GetModuleHandleA(nullptr), nullptr);
        m_check = CreateWindowExA(0, "BUTTON", "Write to CommsLog.txt",
                                 WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 10, 10, 200, 20, m_page,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_WRITE_LOG_FILE)),
                                 GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(m_edit, nullptr);
        ASSERT_NE(m_check, nullptr);
        log.m_hwndPage = reinterpret_cast<WindowHandle>(m_page);
    }

    void TearDown() override
    {
        log.m_hwndPage = nullptr;
        if (m_page)
            DestroyWindow(m_page);
    }

    std::string Text()
    {
        const int n = GetWindowTextLengthA(m_edit);
        std::string text(static_cast<size_t>(n) + 1, '\0');
        text.resize(static_cast<size_t>(GetWindowTextA(m_edit, &text[0], n + 1)));
        return text;
    }

    // The messages shown, without the locale's time stamp and the CR LF.
    std::vector<std::string> Messages()
    {
        std::vector<std::string> out;
        for (const std::string &line : SplitCrLf(Text())) {
            const size_t tab = line.find('\t');
            EXPECT_NE(tab, std::string::npos) << line;
            EXPECT_EQ(line.substr(line.size() - 2), "\r\n") << line;
            out.push_back(line.substr(tab + 1, line.size() - tab - 3));
        }
        return out;
    }

    int LineCount() { return static_cast<int>(SendMessageA(m_edit, EM_GETLINECOUNT, 0, 0)); }

    HWND m_page = nullptr, m_edit = nullptr, m_check = nullptr;
    CCommsDlg log;
};

}  // namespace

TEST_F(LogEditTest, FiftyNineLinesThenTheOldestTenGoAndTheNewestIsLast)
{
    for (int i = 1; i <= 58; ++i)
        log.LogMessage("L%d\n", i);
    EXPECT_EQ(Messages().size(), 58u);
    EXPECT_EQ(LineCount(), 59);  // the empty text after the last CR LF counts as a line

    log.LogMessage("L%d\n", 59);
    EXPECT_EQ(Messages().size(), 59u);
    EXPECT_EQ(LineCount(), 60);

    log.LogMessage("L%d\n", 60);
    const std::vector<std::string> shown = Messages();
    ASSERT_EQ(shown.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(shown[i], "L" + std::to_string(i + 11));

    // The caret sits at the end of the text, after the newest line.
    DWORD start = 0, end = 0;
    SendMessageA(m_edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, static_cast<DWORD>(Text().size()));
    EXPECT_EQ(end, start);
}

TEST_F(LogEditTest, FilteredAndLongLinesStayWholeInTheControl)
{
    log.LogMessage("A\tB\r\n");
    const std::string longText(400, 'q');
    log.LogMessage("%s", longText.c_str());
    const std::vector<std::string> lines = SplitCrLf(Text());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Messages()[0], "AB");
    EXPECT_LE(lines[1].size(), 255u);
    EXPECT_EQ(lines[1].substr(lines[1].size() - 5), "...\r\n");
}

TEST_F(LogEditTest, TickedCheckBoxAppendsEachShownLineToTheFile)
{
    ScopedLogDir dir;
    log.LogMessage("not in the file");
    SendMessageA(m_check, BM_SETCHECK, BST_CHECKED, 0);
    log.m_writeLogFile = true;  // as the page keeps it when the box is clicked
    log.LogMessage("ID %d Rx: Recall message.\n", 7);
    const std::vector<std::string> shown = SplitCrLf(Text());
    ASSERT_EQ(shown.size(), 2u);
    const std::string file = ReadFile("CommsLog.txt");
    const size_t tab = file.find('\t');
    ASSERT_NE(tab, std::string::npos);
    EXPECT_GT(tab, 0u);  // the locale's date comes first
    EXPECT_EQ(file.substr(tab + 1), shown[1]);
}

namespace {

// Counts the insertions a control is asked for, to see how many edits a batch takes.
WNDPROC g_editProc = nullptr;
int g_replaceSels = 0;
LRESULT CALLBACK CountingEditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == EM_REPLACESEL)
        ++g_replaceSels;
    return CallWindowProcA(g_editProc, hwnd, message, wParam, lParam);
}

// The text with each line's time stamp (up to its TAB) taken out: stamps differ by the second.
std::string WithoutStamps(const std::string &text)
{
    return std::regex_replace(text, std::regex("(^|\r\n)[^\t\r\n]*\t"), "$1");
}

}  // namespace

// Lines logged by another thread while the window is busy reach the control as one batch
// when it gets to them: one insertion, and the text that appending them one at a time, each
// after the 60-line trim of the real control, leaves.
TEST_F(LogEditTest, ABatchAcrossTheTrimLeavesTheTextOfLineByLine)
{
    HWND reference = CreateWindowExA(0, "EDIT", "", GetWindowLongA(m_edit, GWL_STYLE), 10, 60, 600,
                                     380, m_page, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(reference, nullptr);
    auto appendOne = [reference](const std::string &line) {  // the control's own rule, by hand
        if (SendMessageA(reference, EM_GETLINECOUNT, 0, 0) >= 60) {
            const LRESULT end = SendMessageA(reference, EM_LINEINDEX, 10, 0);
            SendMessageA(reference, EM_SETSEL, 0, end);
            SendMessageA(reference, WM_CLEAR, 0, 0);
        }
        SendMessageA(reference, EM_SETSEL, 0x8000, 0x8000);
        SendMessageA(reference, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
    };
    const char typed[] = "typed\r\nby hand";  // the user's text, its last line unfinished
    SetWindowTextA(m_edit, typed);
    SetWindowTextA(reference, typed);
    for (int i = 1; i <= 40; ++i) {
        log.LogMessage("L%d", i);
        appendOne("T\tL" + std::to_string(i) + "\r\n");
    }
    g_editProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(m_edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingEditProc)));
    g_replaceSels = 0;
    std::thread reader([this] {
        for (int i = 41; i <= 120; ++i)
            log.LogMessage("L%d", i);
    });
    reader.join();
    EXPECT_EQ(g_replaceSels, 0) << "the window has not got to them yet";
    for (int i = 41; i <= 120; ++i)
        appendOne("T\tL" + std::to_string(i) + "\r\n");
    MSG msg;
    for (DWORD until = GetTickCount() + 500; GetTickCount() < until;) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        Sleep(5);
    }
    EXPECT_EQ(g_replaceSels, 1);
    const int n = GetWindowTextLengthA(reference);
    std::string expected(static_cast<size_t>(n) + 1, '\0');
    expected.resize(static_cast<size_t>(GetWindowTextA(reference, &expected[0], n + 1)));
    EXPECT_EQ(WithoutStamps(Text()), WithoutStamps(expected));
    EXPECT_EQ(LineCount(), static_cast<int>(SendMessageA(reference, EM_GETLINECOUNT, 0, 0)));
}

// The calls other threads hand to the window (the log's flush, the configuration frame) run
// in the hand-off window's procedure: one that throws must not unwind into the window system,
// and the calls after it still run. Sent from another thread, posted, and on the timer.
TEST_F(LogEditTest, ACallThatThrowsStaysInTheHandOffWindow)
{
    struct Calls {
        int ran = 0;
        static void Throw(void *self)
        {
            ++static_cast<Calls *>(self)->ran;
            throw std::runtime_error("a failing call");
        }
        static void Count(void *self) { ++static_cast<Calls *>(self)->ran; }
    };
    auto pump = [](int rounds) {
        for (int i = 0; i < rounds; ++i) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            Sleep(5);  // the timer's 1 ms comes due
        }
    };
    const char *ways[] = {"sent", "posted", "timer"};
    for (const char *way : ways) {
        SCOPED_TRACE(way);
        Calls calls;
        try {
            if (way == ways[0]) {
                std::thread other([&] {
                    sys::RunOnUiThread(Calls::Throw, &calls);
                    sys::RunOnUiThread(Calls::Count, &calls);
                });
                while (calls.ran < 2)
                    pump(1);
                other.join();
            } else if (way == ways[1]) {
                sys::PostToUiThread(Calls::Throw, &calls);
                sys::PostToUiThread(Calls::Count, &calls);
                pump(3);
            } else {
                sys::RunOnUiThreadLater(1, Calls::Throw, &calls);
                pump(20);
                sys::RunOnUiThreadLater(1, Calls::Count, &calls);
                pump(20);
            }
        } catch (...) {
            ADD_FAILURE() << "the exception left the window procedure";
        }
        EXPECT_EQ(calls.ran, 2);
    }
}
