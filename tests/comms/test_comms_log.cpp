// CCommsDlg::LogMessage against the in-memory log control: line format, the printable filter,
// the trim rule, long lines, and the appends to CommsLog.txt.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "comms/page/comms_dlg.h"
#include "comms/log_line.h"
#include "res/resource.h"
#include "tests/comms/log_dir.h"
#include "tests/support/fakes.h"

namespace {

using Lines = std::vector<std::string>;

class MessageLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::ResetAll();
        fake::AddCommsControls(page);
        log.m_hwndPage = page.handle();
    }

    fake::Control &Control() { return page.At(IDC_LOG); }
    std::string Text() { return page.Text(IDC_LOG); }
    // As the Comms page keeps the box's state for the threads that log.
    void TickFile(bool on) { log.m_writeLogFile = on; }

    // Lines L1..Ln, each logged as a message.
    void LogNumbered(int from, int to)
    {
        for (int i = from; i <= to; ++i)
            log.LogMessage("L%d\n", i);
    }

    fake::Page page;
    CCommsDlg log;
};

std::string Stamped(const std::string &text) { return "10:54:31\t" + text + "\r\n"; }

}  // namespace

TEST_F(MessageLogTest, LineIsTimeTabTextCrLfAppendedAtTheEndAndScrolledTo)
{
    log.LogMessage("Port %s opened at %d baud.\n", "COM1", 9600);
    log.LogMessage("ID %d Tx: 0x%02X message.\n", 5, 0xAB);
    EXPECT_EQ(Text(), Stamped("Port COM1 opened at 9600 baud.") + Stamped("ID 5 Tx: 0xAB message."));
    EXPECT_EQ(Control().scrollCarets, 2);
    EXPECT_EQ(Control().selStart, static_cast<int>(Text().size()));
    EXPECT_EQ(Control().selEnd, Control().selStart);
}

TEST_F(MessageLogTest, FormattingAndThePrintableFilter)
{
    struct Case {
        const char *name;
        std::function<void(CCommsDlg &)> log;
        const char *text;  // nullptr: nothing logged at all
    };
    const Case cases[] = {
        {"just a line feed", [](CCommsDlg &l) { l.LogMessage("\n"); }, ""},
        {"TAB between letters", [](CCommsDlg &l) { l.LogMessage("A\tB"); }, "AB"},
        {"control and 8-bit bytes",
         [](CCommsDlg &l) { l.LogMessage("%s", "A\r\nB\x01\x1F\x7F\x80\xE9\xFF C~"); }, "AB C~"},
        {"only dropped characters", [](CCommsDlg &l) { l.LogMessage("%s", "\x01\x02\r\n"); }, ""},
        {"one digit after the point", [](CCommsDlg &l) { l.LogMessage("%0.01f", 7650 / 9600.0); }, "0.8"},
        {"an empty result", [](CCommsDlg &l) { l.LogMessage("%s", ""); }, nullptr},
        {"an empty format", [](CCommsDlg &l) { const char *empty = ""; l.LogMessage(empty, 0); }, nullptr},
    };
    for (const Case &c : cases) {
        Control().text.clear();
        c.log(log);
        EXPECT_EQ(Text(), c.text ? Stamped(c.text) : std::string()) << c.name;
    }
}

TEST_F(MessageLogTest, EmptyMessageWritesNothingToTheFileEither)
{
    ScopedLogDir dir;
    TickFile(true);
    log.LogMessage("%s", "");
    EXPECT_FALSE(FileExists("CommsLog.txt"));
    EXPECT_EQ(Control().scrollCarets, 0);
}

TEST_F(MessageLogTest, FiftyEightPlusOneIsFiftyNineFiftyNinePlusOneIsFifty)
{
    LogNumbered(1, 58);
    ASSERT_EQ(page.LogLines(IDC_LOG).size(), 58u);
    LogNumbered(59, 59);
    EXPECT_EQ(page.LogLines(IDC_LOG).size(), 59u);
    LogNumbered(60, 60);
    const Lines lines = page.LogLines(IDC_LOG);
    ASSERT_EQ(lines.size(), 50u);
    for (int i = 0; i < 50; ++i)  // L11 .. L60, oldest first, newest last
        EXPECT_EQ(lines[i], "10:54:31\tL" + std::to_string(i + 11));
    EXPECT_EQ(Control().scrollCarets, 60);
    EXPECT_EQ(Control().selStart, static_cast<int>(Text().size()));
}

TEST_F(MessageLogTest, SteadyStateNeverHoldsMoreThanFiftyNineLines)
{
    size_t most = 0, fewest = 1000;
    for (int i = 1; i <= 500; ++i) {
        log.LogMessage("line %d", i);
        const size_t n = page.LogLines(IDC_LOG).size();
        most = std::max(most, n);
        if (i > 60)
            fewest = std::min(fewest, n);
    }
    EXPECT_EQ(most, 59u);
    EXPECT_EQ(fewest, 50u);
    EXPECT_EQ(page.LogLines(IDC_LOG).back(), "10:54:31\tline 500");
}

TEST_F(MessageLogTest, TextTheUserPutInIsTrimmedByTenLinesAtATime)
{
    std::string pasted;
    for (int i = 0; i < 100; ++i)
        pasted += "typed " + std::to_string(i) + "\r\n";
    Control().text = pasted;
    log.LogMessage("new");
    const Lines lines = page.LogLines(IDC_LOG);
    ASSERT_EQ(lines.size(), 91u);
    EXPECT_EQ(lines.front(), "typed 10");
    EXPECT_EQ(lines.back(), "10:54:31\tnew");
}

// With the 8-character time a line holds 244 characters of text (8 + TAB + 244 + CR LF = 255).
TEST_F(MessageLogTest, LinesUpTo255CharactersStayWholeLongerOnesAreCutAndMarked)
{
    struct Case {
        const char *time;
        size_t textLength;
        bool cut;
    };
    const std::string hugeStamp(300, '9');  // a locale's stamp is kept to 64 characters
    const Case cases[] = {
        {"10:54:31", 244, false}, {"10:54:31", 245, true}, {"10:54:31", 255, true},
        {"10:54:31", 600, true},  {"10:54:31 PM", 241, false}, {"10:54:31 PM", 242, true},
        {"", 252, false},         {"", 253, true}, {hugeStamp.c_str(), 10, false},
    };
    for (const Case &c : cases) {
        fake::SetTimeText(c.time);
        Control().text.clear();
        const std::string text(c.textLength - 1, 'x');
        log.LogMessage("%sy", text.c_str());  // the last character tells whether it was kept
        const std::string line = Text();
        const std::string stamp = std::string(c.time).substr(0, 64) + "\t";
        SCOPED_TRACE(std::string(c.time) + " / " + std::to_string(c.textLength));
        ASSERT_GE(line.size(), stamp.size() + 2);
        EXPECT_EQ(line.compare(0, stamp.size(), stamp), 0);
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
        EXPECT_EQ(page.LogLines(IDC_LOG).size(), 1u);
        if (c.cut) {
            EXPECT_EQ(line.size(), 255u);
            EXPECT_EQ(line.substr(line.size() - 5), "...\r\n");
            EXPECT_EQ(line.find_first_not_of('x', stamp.size()), line.size() - 5);
        } else {
            EXPECT_EQ(line, stamp + text + "y\r\n");
        }
    }
}

TEST_F(MessageLogTest, FileGetsDateTabAndTheLineAfterWhatItHeld)
{
    ScopedLogDir dir;
    log.LogMessage("before the tick");
    EXPECT_FALSE(FileExists("CommsLog.txt"));

    TickFile(true);
    log.LogMessage("first\n");
    EXPECT_EQ(ReadFile("CommsLog.txt"), "15/12/2011\t10:54:31\tfirst\r\n");

    WriteFile("CommsLog.txt", "kept from before\r\n");
    fake::SetDateText("16/12/2011");
    log.LogMessage("ID %d Rx: Recall message.\n", 3);
    log.LogMessage("\n");
    EXPECT_EQ(ReadFile("CommsLog.txt"), "kept from before\r\n"
                                        "16/12/2011\t10:54:31\tID 3 Rx: Recall message.\r\n"
                                        "16/12/2011\t10:54:31\t\r\n");
    TickFile(false);
    log.LogMessage("after the untick");
    EXPECT_EQ(SplitCrLf(ReadFile("CommsLog.txt")).size(), 3u);
    EXPECT_EQ(page.LogLines(IDC_LOG).size(), 5u);  // the control shows every line
}

TEST_F(MessageLogTest, CutLineGoesToTheFileExactlyAsShown)
{
    ScopedLogDir dir;
    TickFile(true);
    const std::string longText(400, 'z');
    log.LogMessage("%s", longText.c_str());
    const std::string shown = Text();
    ASSERT_EQ(shown.size(), 255u);
    EXPECT_EQ(ReadFile("CommsLog.txt"), "15/12/2011\t" + shown);
}

TEST_F(MessageLogTest, UnwritableFileStillShowsTheLineAndReportsNothing)
{
    ScopedLogDir dir;
    std::filesystem::create_directory("CommsLog.txt");  // a name that cannot be opened as a file
    TickFile(true);
    log.LogMessage("still shown %d", 1);
    log.LogMessage("still shown %d", 2);
    EXPECT_EQ(page.LogLines(IDC_LOG), (Lines{"10:54:31\tstill shown 1", "10:54:31\tstill shown 2"}));
    EXPECT_TRUE(fake::TakeMessages().empty());
    EXPECT_TRUE(std::filesystem::is_directory("CommsLog.txt"));
}

// Both threads log at once: every line reaches the file whole, each thread's in its order.
TEST_F(MessageLogTest, TwoThreadsLoggingAtOnceLoseNoFileLine)
{
    ScopedLogDir dir;
    TickFile(true);
    constexpr int kPerThread = 2000;  // enough that the two threads are sure to meet
    std::promise<void> go;
    std::shared_future<void> start = go.get_future().share();
    auto writer = [this, start](char who) {
        start.wait();  // both begin together
        for (int i = 0; i < kPerThread; ++i)
            log.LogMessage("%c %d", who, i);
    };
    std::thread ui(writer, 'U'), reader(writer, 'R');
    go.set_value();
    ui.join();
    reader.join();

    const Lines lines = SplitCrLf(ReadFile("CommsLog.txt"));
    ASSERT_EQ(lines.size(), 2u * kPerThread);
    int next[2] = {0, 0};
    for (const std::string &line : lines) {
        const std::string prefix = "15/12/2011\t10:54:31\t";
        ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
        const char who = line[prefix.size()];
        ASSERT_TRUE(who == 'U' || who == 'R') << line;
        int &n = next[who == 'R'];
        EXPECT_EQ(line, prefix + who + " " + std::to_string(n) + "\r\n");
        ++n;
    }
    for (const std::string &shown : page.LogLines(IDC_LOG))
        EXPECT_EQ(shown.compare(0, 9, "10:54:31\t"), 0) << shown;
}

// The window shows lines in batches. Whatever the batches, with the user typing into the log
// between them and lines logged on the user-interface thread among them, the control and the
// file end up exactly as appending the lines one at a time would leave them.
TEST_F(MessageLogTest, BatchesLeaveTheTextAndFileOfOneAtATime)
{
    // The control's rule, line by line: at 60 lines or more (the text after the last CR LF
    // counts as one), the text up to the start of line 10 goes; the line goes at the end.
    auto appendOne = [](std::string &text, const std::string &line) {
        size_t lines = 1;
        for (size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2)
            ++lines;
        if (lines >= 60) {
            size_t p = 0;
            for (int i = 0; i < 10; ++i)
                p = text.find("\r\n", p) + 2;
            text.erase(0, p);
        }
        text += line;
    };
    std::mt19937 rng(20261208);
    auto randomText = [&rng] {
        std::string s(rng() % 300, 'a');  // some longer than a line holds
        for (char &c : s)
            c = static_cast<char>(rng() % 4 == 0 ? 1 + rng() % 255 : 'a' + rng() % 26);
        return s;
    };
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ScopedLogDir dir;
        Control().text.clear();
        fake::DeferUiCalls(true);
        std::string expected, expectedFile;
        const int lines = 1 + static_cast<int>(rng() % 200);
        const unsigned batchOdds = 1 + rng() % 100;  // from one line a batch to most of them
        for (int i = 0; i < lines; ++i) {
            const bool toFile = rng() % 3 != 0;
            TickFile(toFile);
            const std::string date = rng() % 2 ? "15/12/2011" : "16/12/2011";
            fake::SetDateText(date);
            const bool fromUi = rng() % 10 == 0;
            fake::CallFromUiThread(fromUi);
            const std::string message = randomText();
            log.LogMessage("%d %s", i, message.c_str());
            fake::CallFromUiThread(false);
            // What the line is, built the way the log builds it.
            logline::Message m;
            const std::string formatted = std::to_string(i) + " " + message;
            ASSERT_TRUE(logline::FromText(m, formatted.data(), formatted.size()));
            char line[logline::kBufferSize];
            const std::string built(line, logline::Build(line, "10:54:31", m));
            appendOne(expected, built);
            if (toFile)
                expectedFile += date + "\t" + built;
            if (rng() % batchOdds == 0) {
                fake::RunUiCalls();  // a batch ends here
                if (rng() % 2) {      // and the user edits the log
                    std::string &text = Control().text;
                    const size_t at = text.empty() ? 0 : rng() % (text.size() + 1);
                    if (rng() % 2)
                        text.insert(at, rng() % 2 ? "typed\r\n" : "x");
                    else
                        text.erase(at, rng() % 40);
                    expected = text;
                }
            }
        }
        while (fake::RunUiCalls() > 0) {
        }
        EXPECT_EQ(Text(), expected);
        EXPECT_EQ(ReadFile("CommsLog.txt"), expectedFile);
    }
    fake::DeferUiCalls(false);
}

// Lines cut at the limit, given literally: the control characters go before the line is
// measured, the cut keeps 241 characters and marks the cut with "...".
TEST_F(MessageLogTest, CutLinesWithControlCharactersAreExactlyThese)
{
    ScopedLogDir dir;
    TickFile(true);
    const std::string b240(240, 'b'), c241(241, 'c'), d244(244, 'd');
    struct Case {
        std::string message, shown;
    };
    const Case cases[] = {
        {"A\x01\x02\r\n" + b240 + "bbbbbbb", "10:54:31\tA" + b240 + "...\r\n"},
        {c241 + "\x7F\x1F\t\x80" + "cc", "10:54:31\t" + c241 + "cc\r\n"},  // 243 once filtered
        {"\x01" + d244, "10:54:31\t" + d244 + "\r\n"},
        {"\x01" + d244 + "e", "10:54:31\t" + d244.substr(0, 241) + "...\r\n"},
        {"\x01\x02" + std::string(300, 'f'), "10:54:31\t" + std::string(241, 'f') + "...\r\n"},
    };
    std::string file;
    for (const Case &c : cases) {
        Control().text.clear();
        log.LogMessage("%s", c.message.c_str());
        EXPECT_EQ(Text(), c.shown) << c.message.size();
        file += "15/12/2011\t" + c.shown;
    }
    EXPECT_EQ(ReadFile("CommsLog.txt"), file);
}

// The label's last value shows even when the counters change just as a timed flush that
// found nothing lets its pending flag go: the reader then posted nothing.
TEST_F(MessageLogTest, CountersChangedAsAnIdleFlushEndsStillShow)
{
    fake::DeferUiCalls(true);
    log.LogMessage("a line from the reader");  // posts a flush, which then sets the timer
    log.m_afterIdleFlush = [](CCommsDlg *l) {
        l->m_afterIdleFlush = nullptr;
        l->ShowCounters(7, 5);  // the reader counts a poll, finds the flush still pending
    };
    while (fake::RunUiCalls() > 0) {
    }
    EXPECT_EQ(log.m_afterIdleFlush, nullptr);  // the moment came
    EXPECT_EQ(page.Text(IDC_COUNTERS), "7/5");
    fake::DeferUiCalls(false);
}

// Past 32 KiB queued the reader stops and waits for the window to take the lot; below it,
// nothing is shown before the window gets round to it.
TEST_F(MessageLogTest, ReaderWaitsForTheWindowOnceThirtyTwoKilobytesAreQueued)
{
    fake::DeferUiCalls(true);
    int waits = 0;
    fake::BeforeUiCall([&waits] { ++waits; });
    const std::string text(244, 'q');  // 2 + 255 bytes queued a line: the 128th passes 32 KiB
    for (int i = 1; i <= 127; ++i)
        log.LogMessage("%s", text.c_str());
    EXPECT_EQ(waits, 0);
    EXPECT_EQ(Text(), "");
    log.LogMessage("%s", text.c_str());
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(page.LogLines(IDC_LOG).size(), 58u);  // 128 lines, trimmed as one by one
    fake::BeforeUiCall(nullptr);
    fake::DeferUiCalls(false);
}

// Whoever sees a line in the control finds it in CommsLog.txt already.
TEST_F(MessageLogTest, FileHasEachLineBeforeTheControlShowsIt)
{
    ScopedLogDir dir;
    TickFile(true);
    std::vector<std::string> fileWhenShown;
    page.onReplaceSel = [&](int id, const char *) {
        if (id == IDC_LOG)
            fileWhenShown.push_back(ReadFile("CommsLog.txt"));
    };
    log.LogMessage("one");
    log.LogMessage("two");
    page.onReplaceSel = nullptr;
    EXPECT_EQ(fileWhenShown, (Lines{"15/12/2011\t10:54:31\tone\r\n",
                                    "15/12/2011\t10:54:31\tone\r\n15/12/2011\t10:54:31\ttwo\r\n"}));
}
