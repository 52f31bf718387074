// CSerialCom's cases on whichever far end the platform gives (serial_far_end.h): opening,
// closing, reading, writing, the modem lines, and the reader's conduct when traffic floods in
// or the device goes away. The same list runs natively and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <thread>

#include "genisys/genisys_frame.h"
#include "tests/serial/serial_far_end.h"

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Devices in the order they first appear in the modem record.
std::vector<std::string> Devices(const std::vector<ModemChange> &changes)
{
    std::vector<std::string> devices;
    for (const ModemChange &c : changes) {
        if (std::find(devices.begin(), devices.end(), c.device) == devices.end())
            devices.push_back(c.device);
    }
    return devices;
}

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(peer, nullptr) << "no far end"; }

    std::unique_ptr<FarEnd> peer = MakeFarEnd(Cable::kFirst);
    const std::string port = peer ? peer->Port() : "";
    RecordingCom com;
};

TEST_F(SerialTest, OpenCloseAndSecondCloseFollowTheLifecycle)
{
    EXPECT_FALSE(com.IsOpen());
    EXPECT_EQ(com.Close(), 0) << "closing a port never opened";
    ASSERT_EQ(com.Open(port.c_str(), 9600), kSerialOpenOk);
    EXPECT_TRUE(com.IsOpen());
    EXPECT_EQ(com.Close(), 1);
    EXPECT_FALSE(com.IsOpen());
    EXPECT_EQ(com.Close(), 0) << "a second Close finds nothing to close";
    const uint8_t byte = 0x41;
    EXPECT_EQ(com.Write(&byte, 1), 0u) << "writing on a closed port";
    ASSERT_EQ(com.Open(port.c_str(), 9600), kSerialOpenOk) << "the port was released";
    EXPECT_EQ(com.Write(nullptr, 3), 0u);
    EXPECT_EQ(com.Write(&byte, 0), 0u);
    EXPECT_TRUE(peer->ReadExactly(1, 50).empty()) << "a refused write sent something";
}

TEST_F(SerialTest, OpenSetsTheLineWhateverThePortHeldAtEachRateOfTheCommsPage)
{
    for (const int16_t baud : {1200, 2400, 4800, 9600, 19200}) {
        ASSERT_TRUE(peer->LeaveForeignState()) << baud;
        ASSERT_EQ(com.Open(port.c_str(), baud), kSerialOpenOk) << baud;
        EXPECT_EQ(peer->LineRate(com), baud);
        peer->ExpectLineSetUp(com, baud);
        com.Close();
    }
}

TEST_F(SerialTest, EveryByteValuePassesUnchangedBothWaysWhateverThePortHeld)
{
    ASSERT_TRUE(peer->LeaveForeignState());
    ASSERT_EQ(com.Open(port.c_str(), 9600), kSerialOpenOk);
    // Every byte value, CR, LF, XON, XOFF, the editing and signal characters among them.
    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(com.Write(all.data(), 256), 256u);
    EXPECT_EQ(peer->ReadExactly(256, 3000), all);
    ASSERT_EQ(peer->Write(all), all.size());
    EXPECT_TRUE(com.WaitBytes(all.size(), 3000));
    EXPECT_EQ(com.Bytes(), all);
    EXPECT_TRUE(peer->ReadExactly(1, 50).empty()) << "the port echoed what it received";
}

TEST_F(SerialTest, AFrameWrittenArrivesByteExact)
{
    ASSERT_EQ(com.Open(port.c_str(), 19200), kSerialOpenOk);
    // A configuration write whose data, CRC and terminator-like bytes all need escaping.
    const uint8_t record[14] = {0x10, 0xF0, 0xF6, 0xFF, 0x0A, 0x0D, 0x03, 0x04,
                                0x11, 0x13, 0x7F, 0x00, 0x1B, 0xF1};
    uint8_t wire[genisys::MaxWireLength(14)];
    const size_t length =
        genisys::EncodeFrame(0xFC, 0x01, record, 14, genisys::SEND_CRC | genisys::SEND_CONFIG, wire);
    EXPECT_EQ(com.Write(wire, static_cast<uint32_t>(length)), length);
    EXPECT_EQ(peer->ReadExactly(length, 3000), Bytes(wire, wire + length));
    EXPECT_TRUE(peer->ReadExactly(1, 50).empty()) << "nothing beyond the frame";
}

TEST_F(SerialTest, FailedOpensGiveTheirStepAndLeaveThePortClosed)
{
    std::unique_ptr<FarEnd> held = MakeFarEnd(Cable::kSecond);
    ASSERT_NE(held, nullptr);
    const std::vector<FailedOpen> cases = FailingOpens(port, held->Port());
    RecordingCom holder;
    ASSERT_EQ(holder.Open(held->Port().c_str(), 9600), kSerialOpenOk);
    for (const FailedOpen &c : cases) {
        // Each failure also closes a port that was open before it.
        ASSERT_EQ(com.Open(port.c_str(), 9600), kSerialOpenOk) << c.name;
        EXPECT_EQ(com.Open(c.name.c_str(), c.baud), c.result) << c.name << " @" << c.baud;
        EXPECT_EQ(com.OpenError(), c.error) << c.name << " @" << c.baud;
        EXPECT_FALSE(com.IsOpen()) << c.name;
        EXPECT_EQ(com.Close(), 0) << c.name;
    }
    EXPECT_EQ(com.Open(nullptr, 9600), kSerialOpenDeviceFailed);
    EXPECT_FALSE(com.IsOpen());
    // The held port still works for its holder; this one was let go.
    held->Write(Bytes{1, 2, 3});
    ASSERT_TRUE(holder.WaitBytes(3, 3000));
    EXPECT_EQ(holder.Bytes(), (Bytes{1, 2, 3}));
    RecordingCom other;
    EXPECT_EQ(other.Open(port.c_str(), 9600), kSerialOpenOk) << "the failed opens kept the port";
}

TEST_F(SerialTest, BytesWaitingAtWakeUpArriveIn1024ByteChunksInOrder)
{
    const Bytes waiting = Pattern(3000, 3);
    ASSERT_EQ(peer->Write(waiting), waiting.size());
    ASSERT_TRUE(peer->WaitQueued(waiting.size(), 3000));
    ASSERT_EQ(com.Open(port.c_str(), 9600), kSerialOpenOk);
    ASSERT_TRUE(com.WaitBytes(waiting.size(), 3000));
    EXPECT_EQ(com.ChunkSizes(), (std::vector<size_t>{1024, 1024, 952}));
    EXPECT_EQ(com.Bytes(), waiting);
}

TEST_F(SerialTest, BytesArriveInOrderWhileTheLineIsBusy)
{
    ASSERT_EQ(com.Open(port.c_str(), 19200), kSerialOpenOk);
    Bytes sent;
    for (int i = 0; i < 20; ++i) {
        const Bytes burst = Pattern(100 + 37 * i, static_cast<uint8_t>(i));
        peer->Write(burst);
        sent.insert(sent.end(), burst.begin(), burst.end());
    }
    ASSERT_TRUE(com.WaitBytes(sent.size(), 5000));
    EXPECT_EQ(com.Bytes(), sent);
}

TEST_F(SerialTest, WritesFromTwoThreadsAtOnceEachArriveWhole)
{
    ASSERT_EQ(com.Open(port.c_str(), 19200), kSerialOpenOk);
    // More than the line buffers: writes are cut short and must be resumed whole.
    constexpr size_t kBlock = 4096;
    constexpr int kBlocks = 12;
    Bytes received;
    std::thread drain([&] { received = peer->ReadExactly(2 * kBlock * kBlocks, 20000); });
    auto writer = [&](uint8_t fill) {
        const Bytes block(kBlock, fill);
        for (int i = 0; i < kBlocks; ++i)
            EXPECT_EQ(com.Write(block.data(), kBlock), kBlock);
    };
    std::thread a(writer, 0xAA);
    std::thread b(writer, 0xBB);
    a.join();
    b.join();
    drain.join();
    ASSERT_EQ(received.size(), 2 * kBlock * kBlocks);
    int blocksOfA = 0;
    for (size_t at = 0; at < received.size(); at += kBlock) {
        const Bytes block(received.begin() + at, received.begin() + at + kBlock);
        EXPECT_EQ(block, Bytes(kBlock, block[0])) << "block at " << at << " mixed";
        blocksOfA += block[0] == 0xAA;
    }
    EXPECT_EQ(blocksOfA, kBlocks);
}

// A read that completes as Close begins has taken its bytes off the device: they must still be
// handed on, or neither this open nor the next one ever sees them.
TEST_F(SerialTest, BytesArrivingAsThePortClosesAndReopensAreNeitherLostNorRepeated)
{
    std::atomic<bool> sending{true};
    Bytes sent;
    std::thread sender([&] {
        for (uint8_t n = 0; sending.load(); ++n) {
            const Bytes frame = {n, static_cast<uint8_t>(n ^ 0x5A), 0xF6};
            if (peer->Write(frame) == frame.size())
                sent.insert(sent.end(), frame.begin(), frame.end());
            SleepMs(2);
        }
    });
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(com.Open(port.c_str(), 19200), kSerialOpenOk) << i;
        SleepMs(3 + i % 7);
        com.Close();
    }
    sending = false;
    sender.join();
    ASSERT_EQ(com.Open(port.c_str(), 19200), kSerialOpenOk);  // takes what waited since the close
    com.WaitBytes(sent.size(), 5000);
    SleepMs(100);  // nothing more should come
    EXPECT_EQ(com.Bytes(), sent);
}

TEST_F(SerialTest, CloseDuringAFloodReturnsPromptly)
{
    // Each chunk takes a while to handle, as a decoder writing log lines would.
    com.hook = [](const uint8_t *, uint32_t) { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
    ASSERT_EQ(com.Open(port.c_str(), 19200), kSerialOpenOk);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const Bytes burst = Pattern(4096, 1);
        while (flooding.load())
            peer->Write(burst, 100);
    });
    EXPECT_TRUE(com.WaitBytes(64 * 1024, 10000));
    const auto start = Clock::now();
    EXPECT_EQ(com.Close(), 1);
    const long closeMs = ElapsedMs(start);
    const size_t chunksAtClose = com.ChunkCount();
    // The flood goes on with nobody reading; nothing more may reach the object.
    SleepMs(50);
    flooding = false;
    peer->StopWriting();
    flood.join();
    std::printf("close during a flood took %ld ms\n", closeMs);
    EXPECT_LT(closeMs, kPromptCloseMs) << "Close waited for the flood to end";
    EXPECT_EQ(com.ChunkCount(), chunksAtClose) << "the reader went on after Close";
}

TEST_F(SerialTest, ReopeningOnAnotherPortAndRateLeavesTheOldPortBehind)
{
    std::unique_ptr<FarEnd> second = MakeFarEnd(Cable::kSecond);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(com.Open(port.c_str(), 9600), kSerialOpenOk);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const Bytes burst(512, 0xA1);
        while (flooding.load())
            peer->Write(burst, 20);
    });
    ASSERT_TRUE(com.WaitBytes(4096, 5000));
    ASSERT_EQ(com.Open(second->Port().c_str(), 1200), kSerialOpenOk);
    com.Clear();  // from here on only the new port's bytes may arrive
    const Bytes fresh(300, 0xB2);
    second->Write(fresh);
    EXPECT_TRUE(com.WaitBytes(fresh.size(), 3000));
    flooding = false;
    peer->StopWriting();
    flood.join();
    EXPECT_EQ(com.Bytes(), fresh);
    EXPECT_EQ(second->LineRate(com), 1200);
    RecordingCom other;
    EXPECT_EQ(other.Open(port.c_str(), 9600), kSerialOpenOk) << "old port still held";
}

TEST_F(SerialTest, AnUnpluggedDeviceNeitherSpinsNorHangsAndIsReportedOnce)
{
    std::unique_ptr<FarEnd> cable = MakeFarEnd(Cable::kUnpluggable);
    ASSERT_NE(cable, nullptr);
    ASSERT_EQ(com.Open(cable->Port().c_str(), 9600), kSerialOpenOk);
    ASSERT_TRUE(cable->Unplug());
    ASSERT_TRUE(com.WaitStalls(1, 5000)) << "no stall notice";
    const long cpuBefore = ProcessCpuMs();
    const auto windowStart = Clock::now();
    SleepMs(800);  // the window we measure
    const long cpuMs = ProcessCpuMs() - cpuBefore;
    const long wallMs = ElapsedMs(windowStart);
    std::printf("unplugged: %ld ms of CPU in %ld ms\n", cpuMs, wallMs);
    EXPECT_LT(cpuMs * 10, wallMs) << "reader used " << cpuMs << " ms of CPU in " << wallMs << " ms";
    EXPECT_EQ(com.Stalls(), 1) << "the stall is reported once per outage";

    const auto start = Clock::now();
    EXPECT_EQ(com.Close(), 1);
    EXPECT_LT(ElapsedMs(start), 1000);

    std::unique_ptr<FarEnd> replacement = cable->Replacement();
    ASSERT_NE(replacement, nullptr);
    ASSERT_EQ(com.Open(replacement->Port().c_str(), 9600), kSerialOpenOk);
    const Bytes hello = {0xFB, 0x01, 0xF6};
    replacement->Write(hello);
    ASSERT_TRUE(com.WaitBytes(hello.size(), 3000));
    EXPECT_EQ(com.Bytes(), hello);
}

// Lines RTS and DTR, as the preloaded harness library records them.
class SerialModemLinesTest : public SerialTest {
protected:
    void SetUp() override
    {
        SerialTest::SetUp();
        record = StartModemRecord();
        if (record.empty())
            GTEST_SKIP() << "modem-line record needs the harness library preloaded";
    }
    void TearDown() override { EndModemRecord(record); }

    std::string record;
};

TEST_F(SerialModemLinesTest, OpenRaisesBothLinesAndCloseDropsRtsThenDtr)
{
    ASSERT_EQ(com.Open(port.c_str(), 9600), kSerialOpenOk);
    ASSERT_EQ(com.Close(), 1);
    EXPECT_EQ(com.Close(), 0);  // touches nothing
    // DTR rises with the line settings, then Open raises RTS; its own DTR raise after that
    // changes nothing, so the record cannot show it. Close drops RTS, then DTR.
    const std::vector<ModemChange> all = ReadModemLog(record);
    const std::vector<std::string> devices = Devices(all);
    ASSERT_EQ(devices.size(), 1u);
    const std::string &d = devices[0];
    const std::vector<ModemChange> expected = {
        {0, d, "DTR", 1}, {0, d, "RTS", 1}, {0, d, "RTS", 0}, {0, d, "DTR", 0}};
    EXPECT_EQ(all, expected);
}

TEST_F(SerialModemLinesTest, ReopeningDropsTheOldPortsLinesBeforeRaisingTheNewOnes)
{
    std::unique_ptr<FarEnd> second = MakeFarEnd(Cable::kSecond);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(com.Open(port.c_str(), 9600), kSerialOpenOk);
    ASSERT_EQ(com.Open(second->Port().c_str(), 19200), kSerialOpenOk);
    const std::vector<ModemChange> all = ReadModemLog(record);
    const std::vector<std::string> devices = Devices(all);
    ASSERT_EQ(devices.size(), 2u);
    const std::string &o = devices[0], &n = devices[1];
    const std::vector<ModemChange> expected = {
        {0, o, "DTR", 1}, {0, o, "RTS", 1}, {0, o, "RTS", 0},
        {0, o, "DTR", 0}, {0, n, "DTR", 1}, {0, n, "RTS", 1},
    };
    EXPECT_EQ(all, expected);
    // And the new port really is the one open: its cable carries the bytes.
    second->Write(Bytes{1, 2, 3});
    ASSERT_TRUE(com.WaitBytes(3, 3000));
    EXPECT_EQ(com.Bytes(), (Bytes{1, 2, 3}));
}

}  // namespace
