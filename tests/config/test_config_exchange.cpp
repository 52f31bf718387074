// "Read", "Write" and the unit's answers: frames sent, status texts, the response window.
#include "tests/config/config_fixture.h"

namespace {

const char kUnexpectedRead[] = "Received unexpected configuration read message.";
const char kUnexpectedAck[] = "Received unexpected write complete message.";
const char kCommitted[] = "Upload completed successfully, sent save/reset.";

using ConfigExchange = ConfigTest;

Wire Ack(uint8_t address) { return {genisys::kHdrAckSlave, address, 0x00, 0x00, genisys::kTerminator}; }

TEST_F(ConfigExchange, RequestsGoToTheLowByteOfSlaveToConfig)
{
    const struct {
        int32_t slaveToConfig;
        uint8_t address;
    } cases[] = {{1, 1}, {3, 3}, {259, 3}, {256, 0}, {-1, 255}, {0x12345678, 0x78}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.slaveToConfig);
        theLink.m_slaveToConfig = c.slaveToConfig;
        Command(IDC_CFG_READ);
        Command(IDC_CFG_WRITE);
        const std::vector<Wire> writes = TakeWrites();
        ASSERT_EQ(writes.size(), 2u);
        EXPECT_EQ(writes[0], ConfigWire(genisys::kHdrPoll, c.address));
        EXPECT_EQ(writes[1], ConfigWire(genisys::kHdrControl, c.address, kDefaultBytes.data(), 14));
    }
}

TEST_F(ConfigExchange, ReadShowsItsStatusAndOpensTheWindow)
{
    fake::SetTick(4242);
    Command(IDC_CFG_READ);
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Sent config read request...");
    EXPECT_TRUE(Exchange().Read().made);
    EXPECT_FALSE(Exchange().Write().made);
    EXPECT_EQ(Exchange().Read().requestTick, 4242u);
    EXPECT_TRUE(fake::TakeMessages().empty());
}

TEST_F(ConfigExchange, UnsentReadIsReportedAndStillOpensTheWindow)
{
    theLink.Close();
    g_hwndSheet = reinterpret_cast<WindowHandle>(0x5eed);
    // The tick is taken once the box has been closed.
    fake::OnMessage([](const fake::Message &) { fake::AdvanceTick(30000); });
    Command(IDC_CFG_READ);
    const std::vector<fake::Message> boxes = fake::TakeMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Failed to send read request packet");
    EXPECT_EQ(boxes[0].owner, g_hwndSheet);
    EXPECT_EQ(boxes[0].icon, sys::MessageIcon::kError);
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Set to defaults.");
    EXPECT_TRUE(Exchange().Read().made);
    EXPECT_EQ(Exchange().Read().requestTick, kStartTick + 30000);
    g_hwndSheet = nullptr;
}

TEST_F(ConfigExchange, WriteSendsTheClampedPageAndShowsIt)
{
    Type(IDC_CFG_POLL_TIME, "5");
    Type(IDC_CFG_SLAVE_ID, "300");
    Command(IDC_CFG_WRITE);
    EXPECT_EQ(Text(IDC_CFG_POLL_TIME), "100");
    EXPECT_EQ(Text(IDC_CFG_SLAVE_ID), "255");
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Sending write command.");
    RecordBytes sent = kDefaultBytes;
    sent[4] = 10;
    sent[3] = 255;
    EXPECT_EQ(Record(), sent);
    const std::vector<Wire> writes = TakeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], ConfigWire(genisys::kHdrControl, 1, sent.data(), sent.size()));
    EXPECT_TRUE(Exchange().Write().made);
    EXPECT_FALSE(Exchange().Read().made);
    EXPECT_EQ(Exchange().Write().requestTick, kStartTick);
}

TEST_F(ConfigExchange, UnsentWriteIsReported)
{
    theLink.Close();
    Command(IDC_CFG_WRITE);
    const std::vector<fake::Message> boxes = fake::TakeMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Failed to send write request packet");
    EXPECT_EQ(boxes[0].owner, g_hwndSheet);
    EXPECT_TRUE(Exchange().Write().made);
}

TEST_F(ConfigExchange, ReadResponseFillsThePage)
{
    Command(IDC_CFG_READ);
    fake::AdvanceTick(300);
    RecordBytes unit = {0x86, 0x05, 2, 9, 50, 60, 7, 3, 0x44, 8, 10, 14, 30, 12};
    Deliver(ReadResponse(2, 5, 0x02, unit));
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Read complete. (F/W v2.5)");
    EXPECT_EQ(Text(IDC_CFG_DIP_SWITCH), "Dip Switch: 1 off, 2 on, 3 off, 4 -  =  direct, async.");
    EXPECT_EQ(Record(), unit);
    EXPECT_TRUE(page.At(IDC_CFG_SECURE_POLLS).checked);
    EXPECT_EQ(Text(IDC_CFG_SLAVE_ID), "9");
    EXPECT_EQ(Text(IDC_CFG_GENISYS_BAUD), "2400");
    EXPECT_EQ(Text(IDC_CFG_POLL_TIME), "500");
    EXPECT_EQ(Text(IDC_CFG_PROTOCOL), "GE/Harmon");
    EXPECT_EQ(Text(IDC_CFG_S2_ID2), "4");
    EXPECT_FALSE(page.At(IDC_CFG_S2_ID2_ON).checked);
    EXPECT_EQ(Text(IDC_CFG_DIRECT_BAUD), "600/1200");
    EXPECT_EQ(Text(IDC_CFG_PREAMBLE), "200");
    EXPECT_TRUE(Exchange().Read().made) << "the request stays made";
    EXPECT_TRUE(TakeWrites().size() == 1u) << "only the request went out";
}

TEST_F(ConfigExchange, ReceivedBytesAreKeptUnclamped)
{
    Command(IDC_CFG_READ);
    const RecordBytes wild = {0xFF, 0xFF, 0, 0, 0, 0, 0, 200, 0xFF, 0, 0, 9, 255, 0};
    Deliver(ReadResponse(1, 0, 0, wild));
    EXPECT_EQ(Record(), wild);
    EXPECT_EQ(Text(IDC_CFG_GENISYS_BAUD), "");
    EXPECT_EQ(Text(IDC_CFG_S2_ID1), "200");
}

TEST_F(ConfigExchange, FirmwareNumbersAreUnsigned)
{
    Command(IDC_CFG_READ);
    Deliver(ReadResponse(255, 128, 0, kDefaultBytes));
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Read complete. (F/W v255.128)");
}

// Switch bits 0 to 2 of record byte 1 (1 = off) and the line mode from bits 0-1 of offset 4.
TEST_F(ConfigExchange, DipSwitchText)
{
    const struct {
        uint8_t mode, switches;
        const char *text;
    } cases[] = {
        {0x00, 0x07, "Dip Switch: 1 off, 2 off, 3 off, 4 -  =  VF, v.22."},
        {0x01, 0x00, "Dip Switch: 1 on, 2 on, 3 on, 4 -  =  VF, v.23."},
        {0x02, 0x05, "Dip Switch: 1 off, 2 on, 3 off, 4 -  =  direct, async."},
        {0x03, 0x02, "Dip Switch: 1 on, 2 off, 3 on, 4 -  =  direct, sync."},
        {0xFE, 0xF8, "Dip Switch: 1 on, 2 on, 3 on, 4 -  =  direct, async."},
        {0x05, 0x04, "Dip Switch: 1 on, 2 on, 3 off, 4 -  =  VF, v.23."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        Command(IDC_CFG_READ);
        RecordBytes unit = kDefaultBytes;
        unit[1] = c.switches;
        Deliver(ReadResponse(1, 0, c.mode, unit));
        EXPECT_EQ(Text(IDC_CFG_DIP_SWITCH), c.text);
    }
}

// Unsigned difference between the arrival and the latest request, below 1000 ms.
TEST_F(ConfigExchange, ResponseWindowIncludingTheTickWrap)
{
    const struct {
        uint32_t requestTick;
        uint32_t delay;
        bool accepted;
    } cases[] = {
        {5000, 0, true},          {5000, 999, true},        {5000, 1000, false},
        {5000, 5000, false},      {0xFFFFFFFFu - 499, 700, true}, {0xFFFFFFFFu, 999, true},
        {0xFFFFFFFFu, 1000, false}, {0xFFFFFC18u, 1000, false}, {0xFFFFFC18u, 999, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.requestTick << " + " << c.delay);
        SetRecord(kDefaultBytes);
        theConfig.RecordToControls(Handle());
        fake::SetTick(c.requestTick);
        Command(IDC_CFG_READ);
        fake::SetTick(c.requestTick + c.delay);
        RecordBytes unit = kDefaultBytes;
        unit[3] = 77;
        Deliver(ReadResponse(3, 1, 0, unit));
        EXPECT_EQ(Text(IDC_CFG_STATUS), c.accepted ? "Read complete. (F/W v3.1)" : kUnexpectedRead);
        EXPECT_EQ(Text(IDC_CFG_SLAVE_ID), c.accepted ? "77" : "1");
        EXPECT_EQ(Record()[3], c.accepted ? 77 : 1);

        // The acknowledgement shares the same window.
        Command(IDC_CFG_WRITE);
        fake::SetTick(Exchange().Write().requestTick + c.delay);
        TakeWrites();
        Deliver(Ack(1));
        EXPECT_EQ(Text(IDC_CFG_STATUS), c.accepted ? kCommitted : kUnexpectedAck);
        EXPECT_EQ(TakeWrites().size(), c.accepted ? 1u : 0u);
    }
}

// The decoder stamps an answer when it arrives, which can be before the request's own tick
// is taken (the send and its log line take time): from the start of the send it counts.
TEST_F(ConfigExchange, AnswersArrivingWhileTheRequestIsStillGoingOutCount)
{
    const struct {
        int32_t arrival;  // ms after the request's tick
        bool accepted;
    } cases[] = {{-300, true}, {-301, false}, {999, true}, {1000, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arrival);
        fake::SetTick(kStartTick);
        Command(IDC_CFG_READ);
        Exchange().Of(config::RequestKind::kRead).sendTick = kStartTick - 300;  // the send took 300 ms
        theConfig.OnConfigFrame(ReadResponse(3, 1, 0, kDefaultBytes).data(), 22,
                                kStartTick + static_cast<uint32_t>(c.arrival));
        EXPECT_EQ(Text(IDC_CFG_STATUS), c.accepted ? "Read complete. (F/W v3.1)" : kUnexpectedRead);
    }
}

TEST_F(ConfigExchange, ResponsesWithNoRequestOfTheirKind)
{
    Deliver(ReadResponse(2, 5, 2, kDefaultBytes));
    EXPECT_EQ(Text(IDC_CFG_STATUS), kUnexpectedRead);
    Deliver(Ack(1));
    EXPECT_EQ(Text(IDC_CFG_STATUS), kUnexpectedAck);

    // A read opens the window, but an acknowledgement still needs a write.
    Command(IDC_CFG_READ);
    Deliver(Ack(1));
    EXPECT_EQ(Text(IDC_CFG_STATUS), kUnexpectedAck);
    EXPECT_TRUE(TakeWrites().size() == 1u);
}

TEST_F(ConfigExchange, ReadResponsesOfOtherLengthsAreIgnored)
{
    Command(IDC_CFG_READ);
    const Wire good = ReadResponse(2, 5, 2, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
    for (size_t length : {21u, 23u, 5u, 1u}) {
        SCOPED_TRACE(length);
        Wire f = good;
        f.resize(length, genisys::kTerminator);
        Deliver(f);
        EXPECT_EQ(Text(IDC_CFG_STATUS), "Sent config read request...");
        EXPECT_EQ(Text(IDC_CFG_DIP_SWITCH), "");
        EXPECT_EQ(Record(), kDefaultBytes);
    }
    // Not even the "unexpected" text once the window has closed.
    fake::AdvanceTick(5000);
    Wire shortFrame = good;
    shortFrame.pop_back();
    Deliver(shortFrame);
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Sent config read request...");
}

TEST_F(ConfigExchange, OtherHeadersAreIgnored)
{
    Command(IDC_CFG_READ);
    Command(IDC_CFG_WRITE);
    TakeWrites();
    for (uint8_t header : {0xF1, 0xFB, 0xFC, 0xFE, 0xF3, 0x00}) {
        Wire f = ReadResponse(2, 5, 2, kDefaultBytes);
        f[0] = header;
        Deliver(f);
        EXPECT_EQ(Text(IDC_CFG_STATUS), "Sending write command.");
    }
    EXPECT_TRUE(TakeWrites().empty());
}

// An answer counts only within its own request's window: a request of the other kind in
// between opens no window for it.
TEST_F(ConfigExchange, AnAnswerCountsOnlyInItsOwnRequestsWindow)
{
    Command(IDC_CFG_READ);
    fake::AdvanceTick(5000);
    Command(IDC_CFG_WRITE);
    fake::AdvanceTick(200);
    RecordBytes unit = kDefaultBytes;
    unit[5] = 99;
    Deliver(ReadResponse(2, 5, 2, unit));
    EXPECT_EQ(Text(IDC_CFG_STATUS), kUnexpectedRead);
    EXPECT_EQ(Record(), kDefaultBytes);

    // A write acknowledged 1.5 s late, with a read sent just before: no commit, and the
    // technician is told.
    TakeWrites();
    fake::AdvanceTick(1300);
    Command(IDC_CFG_READ);
    fake::AdvanceTick(100);
    Deliver(Ack(1));
    EXPECT_EQ(Text(IDC_CFG_STATUS), kUnexpectedAck);
    EXPECT_EQ(TakeWrites(), std::vector<Wire>{ConfigWire(genisys::kHdrPoll, 1)});
}

// While the box saying a send failed is up, frames still arrive through its message loop: the
// window is counted from the send, never left open.
TEST_F(ConfigExchange, TheWindowIsBoundedWhileAFailedSendIsReported)
{
    theLink.Close();
    int boxes = 0;
    fake::OnMessage([this, &boxes](const fake::Message &) {
        fake::AdvanceTick(5000);
        Deliver(boxes++ == 0 ? Ack(1) : ReadResponse(2, 5, 2, kDefaultBytes));
    });
    Command(IDC_CFG_WRITE);
    EXPECT_EQ(Text(IDC_CFG_STATUS), kUnexpectedAck);
    Command(IDC_CFG_READ);
    EXPECT_EQ(Text(IDC_CFG_STATUS), kUnexpectedRead);
    EXPECT_EQ(fake::TakeMessages().size(), 2u);
    EXPECT_TRUE(TakeWrites().empty()) << "no commit";
}

// Only the unit asked answers, and it answers once; two units at one address are told.
TEST_F(ConfigExchange, ReadResponsesFromTheAddressAsked)
{
    const struct {
        int32_t slaveToConfig;
        uint8_t first, second;  // the answering units' addresses, in order
        const char *status;
        uint8_t slaveIdShown;  // 0: the form unchanged
    } cases[] = {
        {1, 4, 4, kUnexpectedRead, 0},
        {1, 1, 4, kUnexpectedRead, 1},
        {1, 1, 1, "Two units answered at address 1; the form shows the first.", 1},
        {256, 4, 0, "Read complete. (F/W v2.5)", 4},  // to address 0: whichever unit replies
        {256, 4, 7, "Two units answered at address 7; the form shows the first.", 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.slaveToConfig << ": " << int(c.first) << ", " << int(c.second));
        SetRecord(kDefaultBytes);
        theConfig.RecordToControls(Handle());
        theLink.m_slaveToConfig = c.slaveToConfig;
        Command(IDC_CFG_READ);
        for (uint8_t from : {c.first, c.second}) {
            if (from == 0)
                continue;
            RecordBytes unit = kDefaultBytes;
            unit[3] = from;
            Deliver(ReadResponse(2, 5, 0, unit, from));
        }
        EXPECT_EQ(Text(IDC_CFG_STATUS), c.status);
        EXPECT_EQ(Record()[3], c.slaveIdShown ? c.slaveIdShown : 1);
        EXPECT_EQ(Text(IDC_CFG_SLAVE_ID), std::to_string(c.slaveIdShown ? c.slaveIdShown : 1));
    }
}

TEST_F(ConfigExchange, AcknowledgementFromTheAddressedUnitCommitsToTheNewSlaveId)
{
    theLink.m_slaveToConfig = 3;
    Type(IDC_CFG_SLAVE_ID, "7");
    Command(IDC_CFG_WRITE);
    std::vector<Wire> writes = TakeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0][1], 3);

    Deliver(Ack(4));  // another unit: not a word, no commit
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Sending write command.");
    EXPECT_TRUE(TakeWrites().empty());

    Type(IDC_CFG_SLAVE_ID, "9");  // the page may have changed; the record was sent
    theLink.m_slaveToConfig = 4;    // and so may the address: the write went to 3
    Deliver(Ack(4));
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Sending write command.");
    EXPECT_TRUE(TakeWrites().empty());
    // A read in between fills the form with another unit's record; the commit still goes
    // to the slave ID that was written.
    Command(IDC_CFG_READ);
    RecordBytes other = kDefaultBytes;
    other[3] = 4;
    Deliver(ReadResponse(2, 5, 0, other, 4));
    TakeWrites();
    fake::AdvanceTick(500);
    Deliver(Ack(3));
    EXPECT_EQ(Text(IDC_CFG_STATUS), kCommitted);
    Deliver(Ack(3));  // two units acknowledged one write: one commit
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Two units acknowledged at address 3; one commit was sent.");
    writes = TakeWrites();
    EXPECT_EQ(writes, std::vector<Wire>{ConfigWire(genisys::kHdrCommit, 7)});
}

TEST_F(ConfigExchange, AcknowledgementMatchesTheLowByteOfSlaveToConfig)
{
    theLink.m_slaveToConfig = 259;
    Command(IDC_CFG_WRITE);
    TakeWrites();
    Deliver(Ack(3));
    EXPECT_EQ(Text(IDC_CFG_STATUS), kCommitted);
    EXPECT_EQ(TakeWrites(), std::vector<Wire>{ConfigWire(genisys::kHdrCommit, 1)});
}

TEST_F(ConfigExchange, AcknowledgementWithoutAnAddressIsIgnored)
{
    Command(IDC_CFG_WRITE);
    TakeWrites();
    const Wire headerOnly = {genisys::kHdrAckSlave};
    Deliver(headerOnly);
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Sending write command.");
    EXPECT_TRUE(TakeWrites().empty());
}

TEST_F(ConfigExchange, FramesBeforeThePageExistsChangeNothing)
{
    theConfig = CConfigDlg();  // the page was never shown
    Deliver(ReadResponse(2, 5, 2, kDefaultBytes));
    Deliver(Ack(1));
    EXPECT_EQ(Record(), RecordBytes{});
    EXPECT_TRUE(TakeWrites().empty());
}

}  // namespace
