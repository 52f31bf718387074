// The receive decoder: state machine, CRC check, classification lines, counters, the
// configuration hand-off and every failure path, byte for byte.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "comms/log_line.h"
#include "genisys/crc16.h"
#include "tests/genisys/link_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class DecoderTest : public LinkTest {};

// A frame as the encoder sends it, CRC valid (ordinary or with the configuration marker).
Bytes Ordinary(uint8_t header, uint8_t address, const Bytes &data = {})
{
    return Wire(header, address, data, SEND_CRC);
}

Bytes Config(uint8_t header, uint8_t address, const Bytes &data = {})
{
    return Wire(header, address, data, SEND_CRC | SEND_CONFIG);
}

// The log line a front end makes of a reported text.
std::string LogLine(const std::string &text)
{
    logline::Message m;
    EXPECT_TRUE(logline::FromText(m, text.data(), text.size()));
    char line[logline::kBufferSize];
    return std::string(line, logline::Build(line, "10:54:31", m));
}

}  // namespace

TEST_F(DecoderTest, WorkedExamplesInSequence)
{
    struct Step {
        Bytes bytes;
        Lines lines;
        const char *counters;
        std::vector<Bytes> configFrames;
    };
    const Step steps[] = {
        {{0xFB, 0x01, 0xF6}, {"ID 1 Rx: Poll message (insecure)."}, "1/0", {}},
        {{0xFB, 0x01, 0x82, 0xF0, 0x00, 0xF6}, {"ID 1 Rx: Poll message (secure)."}, "2/0", {}},
        {{0xFB, 0x01, 0x8D, 0xF0, 0x0F, 0xF6},
         {"ID 1 Rx: Config message (0xFB)."},
         "2/0",
         {{0xFB, 0x01, 0x8D, 0xFF, 0xF6}}},
        {{0xF2, 0x05, 0x01, 0x02, 0x03, 0x04, 0x78, 0x1D, 0xF6},
         {"ID 5 Rx: Indication data message: 01-02 03-04."},
         "2/0",
         {}},
        {{0xF2, 0x05, 0x01, 0x02, 0x03, 0x29, 0xB8, 0xF6},
         {"ID 5 Rx: Indication data message: 01-02 03-29."},
         "2/0",
         {}},
        {{0xF4, 0x09, 0x11, 0x87, 0xAE, 0xF6}, {"ID 9 Rx: Unknown 0xF4 message: 11."}, "2/0", {}},
        {{0xFD, 0x01, 0x00, 0x00, 0xF6}, {"CRC failed: FD 01 00 00 F6."}, "2/0", {}},
        {{0x41, 0x42}, {"Received unknown data.", "Received unknown data."}, "2/0", {}},
    };
    for (const Step &s : steps) {
        Feed(s.bytes);
        EXPECT_EQ(TakeLines(), s.lines);
        EXPECT_EQ(Counters(), s.counters);
        EXPECT_EQ(events.TakeConfigFrames(), s.configFrames);
    }
    EXPECT_EQ(link.m_rxPolls, 2u);
    EXPECT_EQ(link.m_rxAcks, 0u);
    EXPECT_EQ(link.m_rxLength, 0);
}

TEST_F(DecoderTest, ClassifiesEveryHeaderOfAnOrdinaryFrame)
{
    // Three data bytes: the pairs text pairs the third with the CRC's low byte ("{low}").
    struct Case {
        uint8_t header;
        std::string line;
    };
    const Case cases[] = {
        {0xF1, "ID 7 Rx: Ack master message."},
        {0xF2, "ID 7 Rx: Indication data message: 01-02 03-{low}."},
        {0xF3, "ID 7 Rx: Control checkback message: 01-02 03-{low}."},
        {0xF4, "ID 7 Rx: Unknown 0xF4 message: 01 02 03."},
        {0xF5, "ID 7 Rx: Unknown 0xF5 message: 01 02 03."},
        {0xF7, "ID 7 Rx: Unknown 0xF7 message: 01 02 03."},
        {0xF8, "ID 7 Rx: Date/Time update message: 01 02 03."},
        {0xF9, "ID 7 Rx: Common control message: 01-02 03-{low}."},
        {0xFA, "ID 7 Rx: Ack slave message."},
        {0xFB, "ID 7 Rx: Poll message (secure)."},
        {0xFC, "ID 7 Rx: Control message: 01-02 03-{low}."},
        {0xFD, "ID 7 Rx: Recall message."},
        {0xFE, "ID 7 Rx: Unknown 0xFE message: 01 02 03."},
        {0xFF, "ID 7 Rx: Unknown 0xFF message: 01 02 03."},
    };
    for (const Case &c : cases) {
        const Bytes unescaped = {c.header, 0x07, 0x01, 0x02, 0x03};
        char low[4];
        std::snprintf(low, sizeof low, "%02X", genisys::Crc16(unescaped.data(), 5) & 0xFF);
        std::string line = c.line;
        const size_t at = line.find("{low}");
        if (at != std::string::npos)
            line.replace(at, 5, low);
        Feed(Ordinary(c.header, 7, {0x01, 0x02, 0x03}));
        EXPECT_EQ(TakeLines(), Lines{line}) << std::hex << int(c.header);
    }
    EXPECT_EQ(Counters(), "1/2");
    EXPECT_TRUE(events.TakeConfigFrames().empty());
}

TEST_F(DecoderTest, DataTextsForEvenOddAndEmptyData)
{
    struct Case {
        uint8_t header;
        Bytes data;
        std::string line;
    };
    const Case cases[] = {
        {0xF2, {}, "ID 3 Rx: Indication data message:."},
        {0xFC, {0xAB, 0xCD}, "ID 3 Rx: Control message: AB-CD."},
        {0xF8, {}, "ID 3 Rx: Date/Time update message:."},
        {0xF8, {0x23, 0x59, 0x00, 0x0A}, "ID 3 Rx: Date/Time update message: 23 59 00 0A."},
        {0xFF, {}, "ID 3 Rx: Unknown 0xFF message:."},
        // Escaped data show as their values, not as the escapes received.
        {0xF3, {0xF0, 0xF6, 0xFF, 0x00}, "ID 3 Rx: Control checkback message: F0-F6 FF-00."},
    };
    for (const Case &c : cases) {
        Feed(Ordinary(c.header, 3, c.data));
        EXPECT_EQ(TakeLines(), Lines{c.line});
    }
}

TEST_F(DecoderTest, AddressShowsInDecimalIncludingEscapedOnes)
{
    for (int a : {0, 9, 10, 239, 240, 246, 255}) {
        Feed(Ordinary(0xFD, static_cast<uint8_t>(a)));
        EXPECT_EQ(TakeLines(), Lines{"ID " + std::to_string(a) + " Rx: Recall message."});
    }
}

TEST_F(DecoderTest, InsecurePollAndAckNeedNoCrcOtherThreeByteFramesFail)
{
    Feed({0xFB, 0x02, 0xF6, 0xF1, 0x03, 0xF6});
    EXPECT_EQ(TakeLines(), (Lines{"ID 2 Rx: Poll message (insecure).", "ID 3 Rx: Ack master message."}));
    EXPECT_EQ(Counters(), "1/1");
    for (uint8_t h : {0xFA, 0xFD, 0xF2, 0xFF}) {
        Feed({h, 0x01, 0xF6});
        char line[32];
        std::snprintf(line, sizeof line, "CRC failed: %02X 01 F6.", h);
        EXPECT_EQ(TakeLines(), Lines{line});
    }
    EXPECT_EQ(Counters(), "1/1");
}

// A frame whose CRC-16 starts at 0xFFFF (CRC-16/MODBUS), as some equipment sends it.
Bytes Modbus(uint8_t header, uint8_t address, const Bytes &data, uint16_t marker = 0)
{
    Bytes body = {header, address};
    body.insert(body.end(), data.begin(), data.end());
    const uint16_t crc = genisys::Crc16(body.data(), body.size(), 0xFFFF) ^ marker;
    Bytes withCrc = data;
    withCrc.push_back(static_cast<uint8_t>(crc));
    withCrc.push_back(static_cast<uint8_t>(crc >> 8));
    return Wire(header, address, withCrc, 0);
}

TEST_F(DecoderTest, CrcChoiceChecksFramesFromItsStartValue)
{
    using genisys::CrcChoice;
    const std::string kRecall = "ID 4 Rx: Recall message.", kFailed = "CRC failed:";
    const std::string kConfig = "ID 4 Rx: Config message (receive data).";
    // (choice, frame, line it gives)
    const struct {
        CrcChoice crc;
        Bytes frame;
        std::string line;
    } cases[] = {
        {CrcChoice::kArc, Ordinary(0xFD, 4), kRecall},
        {CrcChoice::kArc, Modbus(0xFD, 4, {}), kFailed},
        {CrcChoice::kModbus, Modbus(0xFD, 4, {}), kRecall},
        {CrcChoice::kModbus, Ordinary(0xFD, 4), kFailed},
        {CrcChoice::kModbus, Modbus(0xF2, 4, {1, 2}, genisys::kConfigMarker), kConfig},
        {CrcChoice::kModbus, Modbus(0xFB, 1, {0xF6, 0xFF}), "ID 1 Rx: Poll message (secure)."},
        {CrcChoice::kModbus, {0xFB, 0x02, 0xF6}, "ID 2 Rx: Poll message (insecure)."},
    };
    for (const auto &c : cases) {
        link.SetCrc(c.crc);
        Feed(c.frame);
        const Lines lines = TakeLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].substr(0, c.line.size()), c.line) << static_cast<int>(c.crc);
    }
    // The fixture's secure poll, as its README gives it.
    EXPECT_EQ(Modbus(0xFB, 1, {}), (Bytes{0xFB, 0x01, 0x83, 0x40, 0xF6}));
}

TEST_F(DecoderTest, AutoChoosesFromTheFirstFrameThatPassesEitherAndSaysSoOnce)
{
    using genisys::CrcChoice;
    const struct {
        Bytes first;
        CrcChoice chosen;
    } cases[] = {
        {Modbus(0xFD, 4, {}), CrcChoice::kModbus},
        {Ordinary(0xFD, 4), CrcChoice::kArc},
        {Modbus(0xF2, 4, {7}, genisys::kConfigMarker), CrcChoice::kModbus},
    };
    for (const auto &c : cases) {
        link.SetCrc(CrcChoice::kAuto);
        events.crcChoices.clear();
        // A fragment and an insecure poll decide nothing.
        Feed({0xFC, 0xF6, 0xFB, 0x02, 0xF6});
        EXPECT_EQ(link.Crc(), CrcChoice::kAuto);
        Feed(c.first);
        EXPECT_EQ(link.Crc(), c.chosen);
        // From then on the other start value fails, and nothing more is said.
        Feed(c.chosen == CrcChoice::kArc ? Modbus(0xFD, 4, {}) : Ordinary(0xFD, 4));
        Feed(c.chosen == CrcChoice::kArc ? Ordinary(0xFD, 4) : Modbus(0xFD, 4, {}));
        const Lines lines = TakeLines();
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_EQ(lines[3].substr(0, 11), "CRC failed:");
        EXPECT_EQ(lines[4], "ID 4 Rx: Recall message.");
        EXPECT_EQ(events.crcChoices, std::vector<CrcChoice>{c.chosen});
    }
}

TEST_F(DecoderTest, EscapeBeforeTheTerminatorSwallowsIt)
{
    Feed({0xFB, 0x01, 0xF0, 0xF6});  // unescapes to FB 01 E6: an insecure poll
    EXPECT_EQ(TakeLines(), Lines{"ID 1 Rx: Poll message (insecure)."});
    EXPECT_EQ(link.m_rxPolls, 1u);
}

TEST_F(DecoderTest, FramesTooShortForACrcAreReportedAsCrcFailures)
{
    Feed({0xFB, 0xF6});
    Feed({0xFB, 0xF0, 0xF6});
    Feed({0xF1, 0xF6});
    EXPECT_EQ(TakeLines(), (Lines{"CRC failed: FB F6.", "CRC failed: FB E6.", "CRC failed: F1 F6."}));
    EXPECT_EQ(Counters(), "0/0");
}

// Each right after a whole frame from address 7, whose address byte the buffer still holds:
// a frame of a header alone has none, one of a header and one byte has that byte.
TEST_F(DecoderTest, AHeaderAloneAfterAnotherAddresssFrameReportsNoAddress)
{
    struct Case {
        Bytes frame;
        const char *text;
        int address;
    };
    const Case cases[] = {
        {{0xFB, 0xF6}, "CRC failed: FB F6.", -1},
        {{0xF1, 0xF6}, "CRC failed: F1 F6.", -1},
        {{0xFA, 0xF6}, "CRC failed: FA F6.", -1},
        {{0xFB, 0xF0, 0xF6}, "CRC failed: FB E6.", -1},  // the escape swallows the terminator
        {{0xFA, 0x09, 0xF6}, "CRC failed: FA 09 F6.", 9},
    };
    for (const Case &c : cases) {
        Feed(Ordinary(0xFA, 7, {0x01, 0x02}));
        events.lines.clear();
        Feed(c.frame);
        ASSERT_EQ(events.lines.size(), 1u) << c.text;
        EXPECT_EQ(events.lines[0].text, c.text);
        EXPECT_EQ(events.lines[0].kind, genisys::LineKind::kCrcFailed) << c.text;
        EXPECT_EQ(events.lines[0].address, c.address) << c.text;
    }
}

TEST_F(DecoderTest, SecurePollWhateverItsLength)
{
    Feed(Ordinary(0xFB, 1, {0x55}));
    Feed(Ordinary(0xFB, 1, Bytes(20, 0x11)));
    EXPECT_EQ(TakeLines(), (Lines{"ID 1 Rx: Poll message (secure).", "ID 1 Rx: Poll message (secure)."}));
    EXPECT_EQ(Counters(), "2/0");
}

TEST_F(DecoderTest, ShowPollsGatesOnlyPollAndAckLinesNeverTheCounters)
{
    ShowPolls(false);
    Feed(Concat({{0xFB, 0x01, 0xF6}, Ordinary(0xF1, 1), Ordinary(0xFA, 1), Ordinary(0xFD, 1),
                 Config(0xFB, 1), Ordinary(0xF2, 1, {0x10, 0x20})}));
    EXPECT_EQ(TakeLines(), (Lines{"ID 1 Rx: Recall message.", "ID 1 Rx: Config message (0xFB).",
                                  "ID 1 Rx: Indication data message: 10-20."}));
    EXPECT_EQ(Counters(), "1/2");
    ShowPolls(true);
    Feed(Ordinary(0xFA, 1));
    EXPECT_EQ(TakeLines(), Lines{"ID 1 Rx: Ack slave message."});
    EXPECT_EQ(Counters(), "1/3");
}

TEST_F(DecoderTest, ConfigurationFramesAreHandedOnNeverClassifiedOrCounted)
{
    ShowPolls(false);  // configuration lines do not depend on it
    const Bytes record = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xF0, 0xF6, 0xFF, 0x00, 0x0C, 0x0D};
    Feed(Concat({Config(0xF1, 4), Config(0xF2, 5, Bytes(17, 0x42)), Config(0xFA, 6),
                 Config(0xFB, 7), Config(0xFC, 8, record)}));
    EXPECT_EQ(TakeLines(), (Lines{"ID 4 Rx: Config message (acknowledge).",
                                  "ID 5 Rx: Config message (receive data).",
                                  "ID 6 Rx: Config message (0xFA).", "ID 7 Rx: Config message (0xFB).",
                                  "ID 8 Rx: Config message (0xFC)."}));
    EXPECT_EQ(Counters(), "0/0");
    const std::vector<Bytes> frames = events.TakeConfigFrames();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[1].size(), 22u);  // the read response: 17 data bytes
    // The last one unescaped: header, address, record, marked CRC, terminator.
    Bytes expected = Concat({{0xFC, 8}, record});
    const uint16_t marked = genisys::Crc16(expected.data(), expected.size()) ^ 0x0F0F;
    expected.push_back(marked & 0xFF);
    expected.push_back(marked >> 8);
    expected.push_back(0xF6);
    EXPECT_EQ(frames[4], expected);
}

TEST_F(DecoderTest, CrcFailureDumpsTheUnescapedFrameWithItsFinalByte)
{
    Feed({0xF2, 0x05, 0xF0, 0x06, 0xF0, 0x0F, 0x00, 0x00, 0xF6});
    EXPECT_EQ(TakeLines(), Lines{"CRC failed: F2 05 F6 FF 00 00 F6."});
    Feed({0xF3, 0x05, 0x11, 0x22, 0xF0, 0xF6});  // the escape took the terminator
    EXPECT_EQ(TakeLines(), Lines{"CRC failed: F3 05 11 22 E6."});
}

TEST_F(DecoderTest, ByteOutsideAFrameAndRestartsAreHandledSilentlyOrAsUnknownData)
{
    Feed({0xF6, 0xF6});  // terminators outside a frame: dropped
    EXPECT_TRUE(TakeLines().empty());
    Feed({0x00, 0xF0, 0x7F});  // one line per data or escape byte outside a frame
    EXPECT_EQ(TakeLines(), Lines(3, "Received unknown data."));
    // A header inside a frame drops the partial frame without a line and starts anew.
    Feed(Concat({{0xF2, 0x05, 0x01, 0x02}, Ordinary(0xFD, 9)}));
    EXPECT_EQ(TakeLines(), Lines{"ID 9 Rx: Recall message."});
    EXPECT_EQ(link.m_rxLength, 0);
}

TEST_F(DecoderTest, DataByteF6InsideAFrameArrivesEscapedAndDoesNotEndIt)
{
    Feed(Ordinary(0xFC, 2, {0xF6, 0xF6}));
    EXPECT_EQ(TakeLines(), Lines{"ID 2 Rx: Control message: F6-F6."});
}

TEST_F(DecoderTest, HundredTwentyEighthByteIsHeldTheNextDropsTheFrame)
{
    Bytes frame = {0xF2};
    frame.insert(frame.end(), 127, 0x11);  // 128 bytes held
    Feed(frame);
    EXPECT_EQ(link.m_rxLength, 128);
    Feed({0x22, 0x33, 0x44});  // the first drops the frame, the rest are outside any frame
    EXPECT_EQ(TakeLines(), Lines(2, "Received unknown data."));
    EXPECT_EQ(link.m_rxLength, 0);
}

TEST_F(DecoderTest, TerminatorWithABufferFullDropsTheFrameWithoutALine)
{
    Bytes frame = {0xF2};
    frame.insert(frame.end(), 127, 0x11);
    frame.push_back(0xF6);
    Feed(frame);
    EXPECT_TRUE(TakeLines().empty());
    EXPECT_EQ(link.m_rxLength, 0);
    Feed({0x01});  // waiting for a header again
    EXPECT_EQ(TakeLines(), Lines{"Received unknown data."});
    Feed(Ordinary(0xFD, 1));
    EXPECT_EQ(TakeLines(), Lines{"ID 1 Rx: Recall message."});
}

// 127 held bytes and the terminator: the longest frame, 128 bytes, decoded and handed on whole.
TEST_F(DecoderTest, LongestFrameIsDecodedAndHandedOnWithLength128)
{
    // Data without escapes and a marked CRC without escapes, so 127 bytes are held.
    Bytes data(123, 0x20);
    for (int v = 0; v < 256; ++v) {
        data[0] = static_cast<uint8_t>(v);
        if (Config(0xF2, 1, data).size() == 128)
            break;
    }
    const Bytes wire = Config(0xF2, 1, data);
    ASSERT_EQ(wire.size(), 128u);
    Feed(wire);
    EXPECT_EQ(TakeLines(), Lines{"ID 1 Rx: Config message (receive data)."});
    const std::vector<Bytes> frames = events.TakeConfigFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].size(), 128u);

    Bytes plain(123, 0x30);
    for (int v = 0; v < 256 && Ordinary(0xFD, 1, plain).size() != 128; ++v)
        plain[0] = static_cast<uint8_t>(v);
    ASSERT_EQ(Ordinary(0xFD, 1, plain).size(), 128u);
    Feed(Ordinary(0xFD, 1, plain));
    EXPECT_EQ(TakeLines(), Lines{"ID 1 Rx: Recall message."});
}

// Dumps and data texts of long frames outgrow a log line: shortened, whole, marked as cut.
TEST_F(DecoderTest, LongLinesAreCutToALogLineAndMarked)
{
    Bytes junk = {0xF2};
    junk.insert(junk.end(), 126, 0x5A);
    junk.push_back(0xF6);
    Feed(junk);  // 128 bytes, a CRC failure: the dump alone takes 384 characters
    Bytes longData(100, 0x33);
    Feed(Ordinary(0xF8, 1, longData));  // 100 single bytes: 300 characters
    const Lines lines = TakeLines();
    for (const std::string &text : lines) {
        const std::string line = LogLine(text);
        EXPECT_EQ(line.size(), 255u) << line;
        EXPECT_EQ(line.substr(line.size() - 5), "...\r\n");
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("CRC failed: F2 5A 5A", 0), 0u);
    EXPECT_EQ(lines[1].rfind("ID 1 Rx: Date/Time update message: 33 33", 0), 0u);
}

TEST_F(DecoderTest, CountersWrapAt32Bits)
{
    link.m_rxPolls = UINT32_MAX;
    link.m_rxAcks = UINT32_MAX - 1;
    Feed({0xFB, 0x01, 0xF6, 0xF1, 0x01, 0xF6});
    EXPECT_EQ(Counters(), "0/4294967295");
}

TEST_F(DecoderTest, RecordedLineTrafficGivesOnlyAcksCountedAndWholeLines)
{
    std::ifstream in(KLP_CAPTURE_FILE, std::ios::binary);
    ASSERT_TRUE(in) << "cannot read " << KLP_CAPTURE_FILE;
    const Bytes capture((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(capture.size(), 7362u);
    Feed(capture);
    EXPECT_EQ(Counters(), "0/217");
    EXPECT_TRUE(events.TakeConfigFrames().empty());
    size_t acks = 0;
    for (const std::string &line : TakeLines()) {
        EXPECT_LE(LogLine(line).size(), 255u);
        if (line == "ID 1 Rx: Ack master message.")
            ++acks;
        else
            EXPECT_TRUE(line.rfind("CRC failed: ", 0) == 0 || line == "Received unknown data.") << line;
    }
    EXPECT_EQ(acks, 217u);
}

TEST_F(DecoderTest, FrameInProgressAndCountersSurviveClosingAndReopeningThePort)
{
    Feed({0xFB, 0x01, 0xF6});
    Feed({0xF2, 0x05, 0x01});  // the first bytes of an indication
    link.Close();
    ASSERT_EQ(link.Open("COM2", 19200), 1);
    Feed({0x02, 0x03, 0x04, 0x78, 0x1D, 0xF6, 0xF1, 0x02, 0xF6});
    EXPECT_EQ(TakeLines(), (Lines{"ID 1 Rx: Poll message (insecure).",
                                  "ID 5 Rx: Indication data message: 01-02 03-04.",
                                  "ID 2 Rx: Ack master message."}));
    EXPECT_EQ(Counters(), "1/1");
}

// A reader that Close gave up on may still be decoding when the next open's reader starts.
// The second waits: its lines come after the first call has finished, never in between (and
// ThreadSanitizer sees no race on the receive state).
TEST_F(DecoderTest, TwoReadersNeverDecodeAtOnce)
{
    class HeldEvents : public RecordingEvents {
    public:
        void OnLine(const genisys::LineEvent &line) override
        {
            RecordingEvents::OnLine(line);
            if (line.address == 1) {  // the first reader's frame: held until released
                std::unique_lock<std::mutex> lock(gate);
                held = true;
                changed.notify_all();
                changed.wait(lock, [this] { return released; });
            } else {
                std::lock_guard<std::mutex> lock(gate);
                secondWhileHeld = !released;
            }
        }
        std::mutex gate;
        std::condition_variable changed;
        bool held = false, released = false, secondWhileHeld = false;
    } held;
    CGenisysProtocol shared(&held);
    std::thread first([&] {
        const Bytes frame = {0xFD, 0x01, 0x00, 0x00, 0xF6};  // reported before it returns
        shared.OnReceive(frame.data(), static_cast<uint32_t>(frame.size()));
    });
    {
        std::unique_lock<std::mutex> lock(held.gate);
        held.changed.wait(lock, [&] { return held.held; });
    }
    std::atomic<bool> secondDone{false};
    std::thread second([&] {
        const Bytes frame = Ordinary(0xFD, 2);
        shared.OnReceive(frame.data(), static_cast<uint32_t>(frame.size()));
        secondDone = true;
    });
    // Give the second reader every chance to overtake; it must not.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(secondDone.load());
    {
        std::lock_guard<std::mutex> lock(held.gate);
        held.released = true;
    }
    held.changed.notify_all();
    first.join();
    second.join();
    EXPECT_FALSE(held.secondWhileHeld);
    EXPECT_EQ(held.TakeTexts(), (Lines{"CRC failed: FD 01 00 00 F6.", "ID 2 Rx: Recall message."}));
}
