// CGenisysProtocol::SendFrame: one write per frame, its Tx log line, and its result.
#include <gtest/gtest.h>

#include "tests/genisys/link_fixture.h"

namespace {

class SendFrameTest : public LinkTest {
protected:
    std::vector<Bytes> TakeWrites()
    {
        std::vector<Bytes> writes;
        writes.swap(fake::Serial().writes);
        return writes;
    }
};

}  // namespace

TEST_F(SendFrameTest, WorkedExamplesWriteOnceAndLogTheirLine)
{
    struct Case {
        uint8_t header, address;
        Bytes data;
        int flags;
        Bytes wire;
        const char *line;  // nullptr: no line
    };
    const Case cases[] = {
        {0xFB, 0x01, {}, 3, {0xFB, 0x01, 0x8D, 0xF0, 0x0F, 0xF6}, "ID 1 Tx: Config message (request)."},
        {0xFB, 0x01, {}, 1, {0xFB, 0x01, 0x82, 0xF0, 0x00, 0xF6}, "ID 1 Tx: 0xFB message."},
        {0xFB, 0xF5, {}, 7, {0xFB, 0xF0, 0x05, 0x8C, 0x78, 0xF6}, nullptr},
        {0xFC, 0x01, {0x10, 0xF0, 0xF6, 0xFF}, 3,
         {0xFC, 0x01, 0x10, 0xF0, 0x00, 0xF0, 0x06, 0xF0, 0x0F, 0x25, 0xE0, 0xF6},
         "ID 1 Tx: Config message (send data)."},
    };
    for (const Case &c : cases) {
        const int result = link.SendFrame(c.header, c.address, c.data.empty() ? nullptr : c.data.data(),
                                             static_cast<int>(c.data.size()), c.flags);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(TakeWrites(), std::vector<Bytes>{c.wire});
        const std::vector<std::string> expected =
            c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{};
        EXPECT_EQ(TakeLines(), expected);
    }
}

TEST_F(SendFrameTest, TxLinesByHeaderAndFlags)
{
    struct Case {
        uint8_t header, address;
        int flags;
        const char *line;
    };
    const Case cases[] = {
        {0xFB, 1, SEND_CRC | SEND_CONFIG, "ID 1 Tx: Config message (request)."},
        {0xFC, 2, SEND_CRC | SEND_CONFIG, "ID 2 Tx: Config message (send data)."},
        {0xFE, 3, SEND_CRC | SEND_CONFIG, "ID 3 Tx: Config message (commit & reset)."},
        {0xFD, 4, SEND_CRC | SEND_CONFIG, "ID 4 Tx: Config message (0xFD)."},
        {0xF1, 255, SEND_CRC | SEND_CONFIG, "ID 255 Tx: Config message (0xF1)."},
        {0xFB, 0, SEND_CRC, "ID 0 Tx: 0xFB message."},
        {0xFE, 240, SEND_CRC, "ID 240 Tx: 0xFE message."},
        {0x0A, 9, 0, "ID 9 Tx: 0x0A message."},
        // Without SEND_CRC the configuration flag only picks the configuration texts.
        {0xFC, 7, SEND_CONFIG, "ID 7 Tx: Config message (send data)."},
    };
    for (const Case &c : cases) {
        link.SendFrame(c.header, c.address, nullptr, 0, c.flags);
        EXPECT_EQ(TakeLines(), std::vector<std::string>{c.line}) << int(c.header);
    }
}

TEST_F(SendFrameTest, NoLogSendsTheFrameAndLogsNothing)
{
    for (int flags : {int(SEND_NOLOG), SEND_NOLOG | SEND_CRC, SEND_NOLOG | SEND_CONFIG, 7}) {
        EXPECT_EQ(link.SendFrame(0xFB, 0x10, nullptr, 0, flags), 1);
        EXPECT_EQ(TakeWrites(), std::vector<Bytes>{Wire(0xFB, 0x10, {}, flags)});
        EXPECT_TRUE(TakeLines().empty()) << flags;
    }
}

TEST_F(SendFrameTest, NoPortOpenWritesNothingStillLogsAndReturnsZero)
{
    link.Close();
    EXPECT_EQ(link.SendFrame(0xFB, 0x01, nullptr, 0, 3), 0);
    EXPECT_TRUE(TakeWrites().empty());
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"ID 1 Tx: Config message (request)."});
}

TEST_F(SendFrameTest, FailedWriteStillLogsAndReturnsZero)
{
    fake::Serial().failWrites = true;
    EXPECT_EQ(link.SendFrame(0xFE, 0x05, nullptr, 0, 3), 0);
    EXPECT_EQ(TakeWrites().size(), 1u);  // one attempt, no retry
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"ID 5 Tx: Config message (commit & reset)."});
}

TEST_F(SendFrameTest, FindSlavesSweepSendsOneUnloggedFramePerAddress)
{
    for (int a = 1; a <= 255; ++a)
        ASSERT_EQ(link.SendFrame(0xFB, static_cast<uint8_t>(a), nullptr, 0, 7), 1);
    const std::vector<Bytes> writes = TakeWrites();
    ASSERT_EQ(writes.size(), 255u);
    for (int a = 1; a <= 255; ++a) {
        const Bytes &w = writes[a - 1];
        EXPECT_EQ(w, Wire(0xFB, static_cast<uint8_t>(a), {}, 7));
        EXPECT_GE(w.size(), 5u);
        EXPECT_LE(w.size(), 8u);
        if (a >= 0xF0)
            EXPECT_EQ(Bytes(w.begin() + 1, w.begin() + 3), (Bytes{0xF0, uint8_t(a - 0xF0)})) << a;
        else
            EXPECT_EQ(w[1], a);
    }
    EXPECT_TRUE(TakeLines().empty());
}

// A write request of 14 bytes all at FF: 17 escaped bytes plus the CRC make 36 wire bytes,
// beyond a 32-byte frame buffer; the whole frame still goes out as one write.
TEST_F(SendFrameTest, FourteenEscapedBytesGoOutWholeInOneWrite)
{
    const Bytes record(14, 0xFF);
    ASSERT_EQ(link.SendFrame(0xFC, 0xFF, record.data(), 14, 3), 1);
    const std::vector<Bytes> writes = TakeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], Wire(0xFC, 0xFF, record, 3));
    EXPECT_GE(writes[0].size(), 34u);
    EXPECT_LE(writes[0].size(), 36u);
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"ID 255 Tx: Config message (send data)."});
}

// Longer than any frame the pages send: sent whole up to the buffer's design size, refused
// (nothing written, 0 returned) beyond it, never overrun.
TEST_F(SendFrameTest, LongFramesAreSentWholeOrRefusedNeverOverrun)
{
    const Bytes escaped(64, 0xF6);
    ASSERT_EQ(link.SendFrame(0xF2, 0xF0, escaped.data(), 64, 1), 1);
    std::vector<Bytes> writes = TakeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], Wire(0xF2, 0xF0, escaped, 1));
    EXPECT_GE(writes[0].size(), 2 * 64 + 6u);
    TakeLines();

    const Bytes tooLong(65, 0xF6);
    EXPECT_EQ(link.SendFrame(0xF2, 0x01, tooLong.data(), 65, 1), 0);
    EXPECT_TRUE(TakeWrites().empty());
    EXPECT_EQ(link.SendFrame(0xF2, 0x01, tooLong.data(), -1, 1), 0);
    EXPECT_TRUE(TakeWrites().empty());
}
