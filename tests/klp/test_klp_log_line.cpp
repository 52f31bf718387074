// The Comms page's CommsLog.txt and klp monitor --log hold the same bytes for the same frames
// and clock: the real capture, polls shown or not, and lines that must be filtered and cut.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/sheet_events.h"
#include "comms/page/comms_dlg.h"
#include "genisys/genisys_protocol.h"
#include "klp/line_printer.h"
#include "tests/comms/log_dir.h"
#include "tests/support/fakes.h"

namespace {

// Hands each of the link's lines to the page's events and to klp's printer alike.
class BothFrontEnds : public genisys::LinkEvents {
public:
    explicit BothFrontEnds(klp::LinePrinter *printer) : m_printer(printer) {}
    void OnLine(const genisys::LineEvent &line) override
    {
        theSheetEvents.OnLine(line);
        m_printer->OnLine(line);
    }
    void OnCounters(uint32_t, uint32_t) override {}
    void OnConfigFrame(const uint8_t *, uint8_t, uint32_t) override {}
    void OnPortStalled() override {}

private:
    klp::LinePrinter *m_printer;
};

std::vector<uint8_t> Capture()
{
    std::ifstream in(KLP_CAPTURE_FILE, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(SharedLogLine, PageAndKlpLogTheSameBytes)
{
    const std::vector<uint8_t> capture = Capture();
    ASSERT_GT(capture.size(), 1000u);
    // A text longer than a line, with characters the log drops, as bytes outside a frame give.
    std::string odd(300, 'x');
    odd[0] = '\x01';
    odd[17] = '\t';
    odd[200] = '\x7f';
    const genisys::LineEvent oddLine = {genisys::LineKind::kUnknownData, 0, -1, odd.data(),
                                        odd.size()};
    for (bool polls : {false, true}) {
        SCOPED_TRACE(polls ? "polls shown" : "polls hidden");
        ScopedLogDir dir;
        fake::ResetAll();
        fake::SetTimeText("09:05:07 AM");
        fake::SetDateText("09/12/2026");
        fake::Page page;
        fake::AddCommsControls(page);
        theComms.m_hwndPage = page.handle();
        theComms.m_writeLogFile = true;
        theComms.m_showPolls = polls;

        klp::PrintOptions o;
        o.polls = polls;
        klp::LinePrinter printer(o, nullptr);
        ASSERT_TRUE(printer.OpenLog("klp-monitor.log"));
        BothFrontEnds both(&printer);
        CGenisysProtocol link(&both);
        link.OnReceive(capture.data(), static_cast<uint32_t>(capture.size()));
        both.OnLine(oddLine);
        ASSERT_TRUE(printer.CloseLog());
        theComms.m_hwndPage = nullptr;

        const std::string pageLog = ReadFile(kCommsLogFile);
        EXPECT_EQ(ReadFile("klp-monitor.log"), pageLog);
        // Not two empty files: every line is dated, stamped and ended alike, polls as asked.
        EXPECT_EQ(pageLog.rfind("09/12/2026\t09:05:07 AM\t", 0), 0u);
        EXPECT_EQ(pageLog.find("Rx: Ack master message.") != std::string::npos, polls);
        EXPECT_NE(pageLog.find("\txxxxxxxxxxxxxxxxxxxx"), std::string::npos);  // filtered
        EXPECT_NE(pageLog.find("xxx...\r\n"), std::string::npos);               // and cut
    }
}
