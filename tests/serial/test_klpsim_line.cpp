// klpsim on a real line: the link object on the POSIX serial port talks to the virtual unit
// through a pseudo-terminal, and the receive decoder reports what the unit says.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "genisys/genisys_protocol.h"
#include "tests/genisys/traffic.h"
#include "tests/serial/recording_com.h"
#include "tests/serial/sim_process.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_events.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kConfig = genisys::SEND_CRC | genisys::SEND_CONFIG;

std::string TempPath(const char *name)
{
    return "/tmp/klpsim-" + std::to_string(getpid()) + "-" + name;
}

Bytes ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class KlpsimLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::ResetClock();
    }

    void TearDown() override
    {
        link.Close();
        sim.Stop();
    }

    void StartAndOpen(const std::vector<std::string> &args)
    {
        ASSERT_TRUE(sim.Start(args));
        ASSERT_EQ(link.Open(sim.path().c_str(), 9600), kSerialOpenOk);
    }

    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> lock(events.mutex);
        std::vector<std::string> out;
        for (const RecordingEvents::Line &line : events.lines)
            out.push_back(line.text);
        return out;
    }

    // Waits (bounded) until a log line begins with text.
    bool WaitLine(const std::string &text, int timeoutMs)
    {
        const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            for (const std::string &line : Lines()) {
                if (line.rfind(text, 0) == 0)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (Clock::now() < until);
        return false;
    }

    // Waits (bounded) for the next configuration frame handed to the configuration page.
    Bytes WaitConfigFrame(int timeoutMs)
    {
        const std::vector<Bytes> frames = WaitConfigFrames(1, timeoutMs);
        return frames.empty() ? Bytes() : frames.front();
    }

    // Waits (bounded) until count configuration frames have been handed over; all of them.
    std::vector<Bytes> WaitConfigFrames(size_t count, int timeoutMs)
    {
        const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::vector<Bytes> frames;
        do {
            for (Bytes &frame : events.TakeConfigFrames())
                frames.push_back(std::move(frame));
            if (frames.size() >= count)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (Clock::now() < until);
        return frames;
    }

    RecordingEvents events;
    CGenisysProtocol link{&events};
    SimProcess sim;
};

TEST_F(KlpsimLine, AReadRequestBringsTheUnitsRecordFirmwareAndMode)
{
    StartAndOpen({"--unit", "3", "--firmware", "1.8", "--mode", "2", "--record-hex",
                  "81F0F6FF0A0D0304111300F1FA0B"});
    ASSERT_EQ(link.SendFrame(0xFB, 3, nullptr, 0, kConfig), 1);
    const Bytes frame = WaitConfigFrame(3000);
    ASSERT_EQ(frame.size(), 22u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 5), (Bytes{0xF2, 3, 1, 8, 2}));
    EXPECT_EQ(Bytes(frame.begin() + 5, frame.begin() + 19),
              (Bytes{0x81, 0xF0, 0xF6, 0xFF, 0x0A, 0x0D, 0x03, 0x04, 0x11, 0x13, 0x00, 0xF1, 0xFA, 0x0B}));
    EXPECT_TRUE(WaitLine("ID 3 Rx: Config message (receive data).", 1000));
}

TEST_F(KlpsimLine, AWriteIsAcknowledgedAndTheCommitSavesTheRecordAndResetsTheUnit)
{
    const std::string file = TempPath("unit.klp");
    std::remove(file.c_str());
    StartAndOpen({"--unit", "3", "--record", file, "--reset-ms", "400"});
    const uint8_t record[14] = {0x01, 0x01, 5, 7, 10, 1, 3, 63, 0x40, 3, 2, 15, 0, 255};
    ASSERT_EQ(link.SendFrame(0xFC, 3, record, 14, kConfig), 1);
    const Bytes ack = WaitConfigFrame(3000);
    ASSERT_EQ(ack.size(), 5u);
    EXPECT_EQ(ack[0], 0xFA);
    EXPECT_EQ(ack[1], 3);

    ASSERT_EQ(link.SendFrame(0xFE, 7, nullptr, 0, kConfig), 1);
    Bytes saved;
    for (int i = 0; i < 300 && saved.size() != 14; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        saved = ReadFile(file);
    }
    EXPECT_EQ(saved, Bytes(record, record + 14));
    // Quiet while it resets, then it answers at the slave ID it was given.
    ASSERT_EQ(link.SendFrame(0xFB, 7, nullptr, 0, kConfig), 1);
    EXPECT_TRUE(WaitConfigFrame(150).empty()) << "answered while resetting";
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_EQ(link.SendFrame(0xFB, 7, nullptr, 0, kConfig), 1);
    const Bytes answer = WaitConfigFrame(3000);
    ASSERT_EQ(answer.size(), 22u);
    EXPECT_EQ(answer[1], 7);
    std::remove(file.c_str());
}

TEST_F(KlpsimLine, OrdinaryTrafficDecodesCleanly)
{
    StartAndOpen({"--traffic", "400", "--stations", "5,240"});
    ASSERT_TRUE(WaitLine("ID 240 Rx: Control checkback message:", 5000));
    ASSERT_TRUE(WaitLine("ID 5 Rx: Control checkback message:", 5000));
    link.Close();
    const std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 16u);
    for (const std::string &line : lines) {
        EXPECT_EQ(line.find("CRC failed"), std::string::npos) << line;
        EXPECT_EQ(line.find("unknown"), std::string::npos) << line;
        EXPECT_EQ(line.find("Unknown"), std::string::npos) << line;
    }
    EXPECT_TRUE(events.TakeConfigFrames().empty());
}

TEST_F(KlpsimLine, RecordsEveryByteItReceivesExactly)
{
    const std::string capture = TempPath("capture.bin");
    StartAndOpen({"--silent", "--capture", capture});
    std::mt19937 rng(7);
    Bytes sent(6000);
    for (uint8_t &b : sent)
        b = static_cast<uint8_t>(rng());
    for (size_t at = 0; at < sent.size(); at += 1000)
        ASSERT_EQ(link.Write(sent.data() + at, 1000), 1000u);
    Bytes captured;
    for (int i = 0; i < 300 && captured.size() < sent.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        captured = ReadFile(capture);
    }
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(ReadFile(capture), sent);
    std::remove(capture.c_str());
}

TEST_F(KlpsimLine, ReplaysACaptureByteForByte)
{
    const std::string replay = TempPath("replay.bin");
    std::mt19937 rng(11);
    Bytes bytes(5000);
    for (uint8_t &b : bytes)
        b = static_cast<uint8_t>(rng());
    std::ofstream(replay, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                   static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(sim.Start({"--replay", replay, "--replay-rate", "50000"}));
    RecordingCom com;
    ASSERT_EQ(com.Open(sim.path().c_str(), 9600), kSerialOpenOk);
    EXPECT_TRUE(com.WaitBytes(bytes.size(), 5000));
    EXPECT_EQ(com.Bytes(), bytes);
    std::remove(replay.c_str());
}

TEST_F(KlpsimLine, WrongCrcDelayAndSilenceAreServedOnRequest)
{
    StartAndOpen({"--bad-crc"});
    link.SendFrame(0xFB, 1, nullptr, 0, kConfig);
    EXPECT_TRUE(WaitLine("CRC failed: F2 01 02 05 00", 3000));
    EXPECT_TRUE(events.TakeConfigFrames().empty());
    link.Close();
    sim.Stop();

    SimProcess late;
    ASSERT_TRUE(late.Start({"--delay", "400"}));
    ASSERT_EQ(link.Open(late.path().c_str(), 9600), kSerialOpenOk);
    link.SendFrame(0xFB, 1, nullptr, 0, kConfig);
    EXPECT_TRUE(WaitConfigFrame(250).empty()) << "answered before the delay";
    EXPECT_EQ(WaitConfigFrame(3000).size(), 22u);
    link.Close();

    SimProcess mute;
    ASSERT_TRUE(mute.Start({"--silent"}));
    ASSERT_EQ(link.Open(mute.path().c_str(), 9600), kSerialOpenOk);
    link.SendFrame(0xFB, 1, nullptr, 0, kConfig);
    EXPECT_TRUE(WaitConfigFrame(500).empty());
}

TEST_F(KlpsimLine, ResponsesOfTheWrongLengthAndAForeignAcknowledgementArriveWhole)
{
    const uint8_t record[14] = {0x01, 0x01, 5, 1, 10, 1, 3, 63, 0x40, 3, 2, 15, 0, 255};
    struct Case {
        std::vector<std::string> args;
        uint8_t header;  // of the request to unit 1
        Bytes start;     // of the answer
        size_t size;
    };
    const Case cases[] = {
        {{"--short-response"}, 0xFB, {0xF2, 1, 2, 5}, 21},
        {{"--long-response"}, 0xFB, {0xF2, 1, 2, 5}, 23},
        {{"--ack-from", "9"}, 0xFC, {0xFA, 9}, 5},
    };
    for (const Case &c : cases) {
        SimProcess unit;
        ASSERT_TRUE(unit.Start(c.args));
        ASSERT_EQ(link.Open(unit.path().c_str(), 9600), kSerialOpenOk);
        const int n = c.header == 0xFC ? 14 : 0;
        ASSERT_EQ(link.SendFrame(c.header, 1, n > 0 ? record : nullptr, n, kConfig), 1);
        const Bytes frame = WaitConfigFrame(3000);
        EXPECT_EQ(frame.size(), c.size) << c.args[0];
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + std::min(frame.size(), c.start.size())), c.start)
            << c.args[0];
        link.Close();
    }
}

TEST_F(KlpsimLine, UnitsAtOneAddressAnswerOneWholeFrameAfterTheOther)
{
    StartAndOpen({"--unit", "3", "--firmware", "1.1", "--unit", "3", "--firmware", "2.2", "--unit", "4"});
    ASSERT_EQ(link.SendFrame(0xFB, 3, nullptr, 0, kConfig), 1);
    const std::vector<Bytes> frames = WaitConfigFrames(2, 3000);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Bytes(frames[0].begin(), frames[0].begin() + 4), (Bytes{0xF2, 3, 1, 1}));
    EXPECT_EQ(Bytes(frames[1].begin(), frames[1].begin() + 4), (Bytes{0xF2, 3, 2, 2}));
    EXPECT_EQ(frames[0].size(), 22u);
    EXPECT_EQ(frames[1].size(), 22u);
    EXPECT_TRUE(WaitConfigFrames(1, 200).empty()) << "the unit at 4 was not asked";
    for (const std::string &line : Lines())
        EXPECT_EQ(line.find("CRC failed"), std::string::npos) << line;
}

TEST_F(KlpsimLine, EachUnitMisbehavesAsItsOwnOptionsSay)
{
    struct Case {
        const char *what;
        std::vector<std::string> args;
        std::vector<uint8_t> answering;  // in the order they answer reads to 3 and 4 sent together
        bool garbled;                    // the unit at 3 answers with a bad CRC
    };
    const Case cases[] = {
        {"silent 3", {"--unit", "3", "--silent", "--unit", "4"}, {4}, false},
        {"bad CRC at 3", {"--unit", "3", "--bad-crc", "--unit", "4"}, {4}, true},
        {"3 late", {"--unit", "3", "--delay", "400", "--unit", "4"}, {4, 3}, false},
        {"silent 1, before any --unit", {"--silent", "--unit", "3", "--unit", "4"}, {3, 4}, false},
    };
    for (const Case &c : cases) {
        SimProcess line;
        ASSERT_TRUE(line.Start(c.args));
        ASSERT_EQ(link.Open(line.path().c_str(), 9600), kSerialOpenOk);
        ASSERT_EQ(link.SendFrame(0xFB, 3, nullptr, 0, kConfig), 1);
        ASSERT_EQ(link.SendFrame(0xFB, 4, nullptr, 0, kConfig), 1);
        std::vector<uint8_t> answered;
        for (const Bytes &frame : WaitConfigFrames(c.answering.size(), 3000))
            answered.push_back(frame.size() == 22 ? frame[1] : 0);
        EXPECT_EQ(answered, c.answering) << c.what;
        EXPECT_TRUE(WaitConfigFrames(1, 300).empty()) << c.what;
        link.Close();
        EXPECT_EQ(WaitLine("CRC failed: F2 03", 0), c.garbled) << c.what;
        std::lock_guard<std::mutex> lock(events.mutex);
        events.lines.clear();
    }
}

TEST_F(KlpsimLine, AnUnaskedAcknowledgementFollowsTheFirstFrameOnce)
{
    StartAndOpen({"--unit", "3", "--unasked-ack", "300"});
    EXPECT_TRUE(WaitConfigFrame(400).empty()) << "the clock starts at the first frame";
    const auto sent = Clock::now();
    ASSERT_EQ(link.SendFrame(0xFB, 9, nullptr, 0, kConfig), 1);  // for nobody here
    const Bytes ack = WaitConfigFrame(3000);
    EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(300));
    EXPECT_EQ(ack, (Bytes{0xFA, 3, 0x0D, 0xAE, 0xF6}));
    EXPECT_TRUE(WaitConfigFrame(500).empty()) << "once";
}

// A pseudo-terminal carries bytes at once; at a line rate the unit hears a request only once
// its last byte would have arrived, and its answers leave no faster than the line carries
// them. Lower bounds only: how much later is the machine's business.
TEST_F(KlpsimLine, AtALineRateRequestsAreHeardAndAnswersLeaveNoFasterThanTheLine)
{
    struct Case {
        const char *baud;
        int unheard;   // reads to address 9, where no unit is, sent first
        int answered;  // then reads to the unit at 1, each answered with 22 bytes
    };
    const Case cases[] = {
        {"9600", 40, 1},   // ~250 request bytes to hear before the one answer
        {"9600", 0, 12},   // 264 answer bytes to carry
        {"19200", 0, 12},
    };
    for (const Case &c : cases) {
        SimProcess unit;
        ASSERT_TRUE(unit.Start({"--line-baud", c.baud}));
        RecordingCom com;
        ASSERT_EQ(com.Open(unit.path().c_str(), 9600), kSerialOpenOk);
        Bytes requests;
        for (int i = 0; i < c.unheard; ++i)
            requests = Concat({requests, Wire(0xFB, 9, {}, kConfig)});
        const size_t firstHeard = requests.size() + Wire(0xFB, 1, {}, kConfig).size();
        for (int i = 0; i < c.answered; ++i)
            requests = Concat({requests, Wire(0xFB, 1, {}, kConfig)});
        const size_t answerBytes = 22u * static_cast<size_t>(c.answered);
        const auto byteTime = std::chrono::microseconds(10000000 / std::stoi(c.baud));

        const auto sent = Clock::now();
        ASSERT_EQ(com.Write(requests.data(), static_cast<uint32_t>(requests.size())), requests.size());
        ASSERT_TRUE(com.WaitBytes(1, 10000)) << c.baud;
        const auto first = Clock::now();
        ASSERT_TRUE(com.WaitBytes(answerBytes, 10000)) << c.baud;
        const auto last = Clock::now();

        EXPECT_GE(first - sent, byteTime * (firstHeard + 1)) << c.baud << " heard too soon";
        EXPECT_GE(last - sent, byteTime * (firstHeard + answerBytes)) << c.baud << " sent too fast";
        EXPECT_GE(last - first, byteTime * (answerBytes / 4)) << c.baud << " sent in a burst";
        const Bytes got = com.Bytes();
        ASSERT_EQ(got.size(), answerBytes) << c.baud;
        for (size_t at = 0; at < got.size(); at += 22)
            EXPECT_EQ(Bytes(got.begin() + at, got.begin() + at + 2), (Bytes{0xF2, 1})) << c.baud;
    }
}

TEST_F(KlpsimLine, VanishingMidRunLooksLikeAnUnpluggedAdapter)
{
    ASSERT_TRUE(sim.Start({"--vanish-after", "300"}));
    RecordingCom com;
    ASSERT_EQ(com.Open(sim.path().c_str(), 9600), kSerialOpenOk);
    EXPECT_TRUE(com.WaitStalls(1, 5000));
    EXPECT_EQ(sim.WaitExit(2000), 0);
    EXPECT_EQ(com.Close(), 1);
}

TEST(KlpsimCommandLine, HelpAndBadOptions)
{
    SimProcess help;
    help.Start({"--help"});
    EXPECT_EQ(help.path(), "Usage: klpsim [options]") << "help, not a terminal";
    EXPECT_EQ(help.WaitExit(5000), 0);
    SimProcess bad;
    EXPECT_FALSE(bad.Start({"--unit", "300"}));
    EXPECT_EQ(bad.WaitExit(5000), 2);
    // A record file of the wrong size is refused at start, before any terminal is made.
    const std::string record = TempPath("long.klp");
    std::ofstream(record, std::ios::binary) << std::string(15, '\x01');
    SimProcess refused;
    EXPECT_FALSE(refused.Start({"--unit", "3", "--record", record}));
    EXPECT_EQ(refused.WaitExit(5000), 1);
    std::remove(record.c_str());
}

}  // namespace
