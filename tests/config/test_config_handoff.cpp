// Read responses arriving on a reader thread while the user-interface thread works the page:
// the hand-off keeps the record and the page whole (run under ThreadSanitizer too).
#include <atomic>
#include <thread>

#include "tests/config/config_fixture.h"

namespace {

using ConfigHandOff = ConfigTest;

// Runs fn as the user-interface thread would: one message at a time.
template <typename Fn>
void OnUiThread(Fn fn)
{
    sys::RunOnUiThread([](void *arg) { (*static_cast<Fn *>(arg))(); }, &fn);
}

// Each response carries the same number in "Slave ID" and "Recall time", so a record or page
// caught half-way between two responses shows two different numbers.
RecordBytes Numbered(int i)
{
    RecordBytes r = kDefaultBytes;
    r[3] = static_cast<uint8_t>(1 + i % 255);
    r[5] = r[3];
    return r;
}

TEST_F(ConfigHandOff, ResponsesFromTheReaderNeverTearThePage)
{
    constexpr int kResponses = 2000;
    OnUiThread([&] {
        SetRecord(Numbered(0));
        theConfig.RecordToControls(Handle());
        Command(IDC_CFG_READ);
    });
    std::atomic<bool> done{false};
    std::thread reader([&] {
        for (int i = 0; i < kResponses; ++i)
            Deliver(ReadResponse(2, 5, 2, Numbered(i)));
        done = true;
    });
    int torn = 0, rounds = 0;
    while (!done.load() || rounds == 0) {
        OnUiThread([&] {
            theConfig.ControlsToRecord(Handle());
            if (theConfig.m_record.genisysSlaveId != theConfig.m_record.recallTime)
                ++torn;
            theConfig.RecordToControls(Handle());
            Command(IDC_CFG_READ);  // a response counts once per read: ask again
        });
        ++rounds;
    }
    reader.join();
    OnUiThread([&] { Command(IDC_CFG_READ); });
    Deliver(ReadResponse(2, 5, 2, Numbered(kResponses - 1)));
    EXPECT_EQ(torn, 0) << "after " << rounds << " rounds";
    EXPECT_EQ(Record(), Numbered(kResponses - 1));
    EXPECT_EQ(Text(IDC_CFG_SLAVE_ID), std::to_string(Numbered(kResponses - 1)[3]));
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Read complete. (F/W v2.5)");
}

}  // namespace

// The decoder notes when a read response arrived before it waits for the window; a window
// busy for longer than the response window still accepts an answer that came in time.
TEST_F(ConfigHandOff, AnswerInTimeIsAcceptedWhileTheWindowIsBusyPastTheWindow)
{
    Command(IDC_CFG_READ);
    fake::AdvanceTick(300);
    fake::BeforeUiCall([] { fake::AdvanceTick(1500); });  // the window is busy meanwhile
    const RecordBytes record = Numbered(7);
    const Wire wire = ConfigWire(genisys::kHdrIndication, 1,
                                 ReadResponse(2, 5, 2, record).data() + 2, 17);
    theLink.OnReceive(wire.data(), static_cast<uint32_t>(wire.size()));
    fake::BeforeUiCall(nullptr);
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Read complete. (F/W v2.5)");
    EXPECT_EQ(Record(), record);
}
