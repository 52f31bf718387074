// The virtual unit's logic: its answers byte for byte, its frame assembly, its command line
// and its help, and its ordinary traffic as our own receive decoder sees it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "genisys/crc16.h"
#include "tests/genisys/link_fixture.h"
#include "tools/klpsim/options.h"
#include "tools/klpsim/traffic.h"
#include "tools/klpsim/unit.h"

namespace {

using klpsim::Bytes;
using klpsim::KelproUnit;
using klpsim::RxFrame;

constexpr int kConfig = genisys::SEND_CRC | genisys::SEND_CONFIG;

// The frames a unit receives, assembled as its own line side does.
std::vector<RxFrame> Assemble(const Bytes &wire)
{
    klpsim::FrameAssembler assembler;
    std::vector<RxFrame> frames;
    RxFrame frame;
    for (uint8_t b : wire) {
        if (assembler.Feed(b, &frame))
            frames.push_back(frame);
    }
    return frames;
}

RxFrame One(const Bytes &wire)
{
    const std::vector<RxFrame> frames = Assemble(wire);
    EXPECT_EQ(frames.size(), 1u);
    return frames.empty() ? RxFrame{} : frames[0];
}

ConfigRecord RecordOf(std::initializer_list<uint8_t> bytes)
{
    ConfigRecord r{};
    size_t i = 0;
    for (uint8_t b : bytes)
        r.Bytes()[i++] = b;
    return r;
}

Bytes Hex(const char *text)
{
    Bytes out;
    unsigned v;
    int used;
    while (std::sscanf(text, "%x%n", &v, &used) == 1) {
        out.push_back(static_cast<uint8_t>(v));
        text += used;
    }
    return out;
}

const ConfigRecord kDefaultAt3 = RecordOf({0x01, 0x00, 4, 3, 100, 30, 5, 1, 2, 5, 50, 12, 18, 6});

TEST(KlpsimUnit, AnswersAReadRequestWithTheReadResponseByteForByte)
{
    KelproUnit unit(3, kDefaultAt3);
    unit.mode = 2;
    const Bytes answer = unit.Answer(One(klpsim::Encode(0xFB, 3, {}, kConfig)), 0);
    // Worked out by hand: firmware 2.5, mode 2, the record, CRC 0x5E78 ^ 0x0F0F low byte first.
    EXPECT_EQ(answer, Hex("F2 03 02 05 02 01 00 04 03 64 1E 05 01 02 05 32 0C 12 06 77 51 F6"));
}

TEST(KlpsimUnit, ReadResponseCarriesEveryFieldAtItsOffsetEvenWhenEscaped)
{
    const ConfigRecord record =
        RecordOf({0xF0, 0xF6, 0xFF, 9, 0xF1, 0, 0x7F, 0x80, 0xFE, 1, 2, 3, 0xFA, 0xFB});
    KelproUnit unit(0xF5, record);
    unit.firmwareMajor = 0xF6;
    unit.firmwareMinor = 7;
    unit.mode = 0xF3;
    const Bytes wire = unit.Answer(One(klpsim::Encode(0xFB, 0xF5, {}, kConfig)), 0);
    const RxFrame frame = One(wire);
    ASSERT_EQ(frame.kind, RxFrame::kConfig);
    const Bytes &f = frame.bytes;
    ASSERT_EQ(f.size(), KelproUnit::kReadResponseSize);
    EXPECT_EQ(f[0], 0xF2);
    EXPECT_EQ(f[1], 0xF5);
    EXPECT_EQ(f[2], 0xF6);
    EXPECT_EQ(f[3], 7);
    EXPECT_EQ(f[4], 0xF3);
    EXPECT_EQ(Bytes(f.begin() + 5, f.begin() + 19), Bytes(record.Bytes(), record.Bytes() + 14));
    const uint16_t crc = genisys::Crc16(f.data(), 19) ^ genisys::kConfigMarker;
    EXPECT_EQ(f[19], crc & 0xFF);
    EXPECT_EQ(f[20], crc >> 8);
    EXPECT_EQ(f[21], 0xF6);
    for (size_t i = 1; i + 1 < wire.size(); ++i)
        EXPECT_LE(wire[i], 0xF0) << "unescaped byte inside the frame at " << i;
}

TEST(KlpsimUnit, AWriteIsAcknowledgedAndAdoptedAndACommitSavesAndQuietsTheUnit)
{
    const std::string file = "/tmp/klpsim-unit-" + std::to_string(getpid()) + ".klp";
    KelproUnit unit(3, kDefaultAt3);
    unit.saveFile = file;
    unit.resetMs = 500;
    const ConfigRecord written = RecordOf({0x81, 1, 5, 7, 10, 1, 3, 63, 0x40, 3, 2, 15, 0, 255});
    const Bytes data(written.Bytes(), written.Bytes() + 14);

    EXPECT_EQ(unit.Answer(One(klpsim::Encode(0xFC, 3, data, kConfig)), 1000), Hex("FA 03 0D AE F6"));
    EXPECT_EQ(Bytes(unit.record().Bytes(), unit.record().Bytes() + 14), data);
    EXPECT_EQ(unit.commits(), 0) << "nothing is saved before the commit";
    EXPECT_TRUE(unit.Answer(One(klpsim::Encode(0xFE, 3, {}, kConfig)), 1000).empty());
    EXPECT_EQ(unit.commits(), 0) << "the write moved the slave ID: the old address no longer commits";

    // The commit goes to the slave ID just written, and is not answered.
    EXPECT_TRUE(unit.Answer(One(klpsim::Encode(0xFE, 7, {}, kConfig)), 1000).empty());
    EXPECT_EQ(unit.commits(), 1);
    ConfigRecord saved{};
    ASSERT_TRUE(klpsim::LoadRecord(file, &saved));
    EXPECT_EQ(Bytes(saved.Bytes(), saved.Bytes() + 14), data);
    std::remove(file.c_str());

    // Quiet for reset-ms after the commit at 1000, then it answers at its new slave ID. Asked
    // in time order: the first request after the reset ends the quiet for good.
    const RxFrame readAt7 = One(klpsim::Encode(0xFB, 7, {}, kConfig));
    EXPECT_TRUE(unit.Answer(readAt7, 1000 + 500 - 1).empty()) << "still resetting";
    const RxFrame answer = One(unit.Answer(readAt7, 1000 + 500));
    EXPECT_EQ(answer.bytes.size(), 22u) << "answers at its new slave ID once reset-ms has passed";
    EXPECT_EQ(answer.address(), 7);
    EXPECT_TRUE(unit.Answer(One(klpsim::Encode(0xFB, 3, {}, kConfig)), 1600).empty())
        << "the old address is gone after the reset";
}

TEST(KlpsimUnit, LoadsOnlyARecordFileOfExactlyFourteenBytes)
{
    const std::string file = "/tmp/klpsim-load-" + std::to_string(getpid()) + ".klp";
    struct Case {
        size_t size;
        bool loads;
        const char *says;  // after the file's name
    };
    const Case cases[] = {
        {0, false, " holds 0 bytes; a record file holds exactly 14"},
        {13, false, " holds 13 bytes; a record file holds exactly 14"},
        {14, true, ""},
        {15, false, " holds more than 14 bytes; a record file holds exactly 14"},
    };
    for (const Case &c : cases) {
        Bytes content(c.size);
        for (size_t i = 0; i < c.size; ++i)
            content[i] = static_cast<uint8_t>(0xA0 + i);
        FILE *f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!content.empty())  // an empty vector's data() may be null, which fwrite must not get
            std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        ConfigRecord record = kDefaultAt3;
        std::string error;
        EXPECT_EQ(klpsim::LoadRecord(file, &record, &error), c.loads) << c.size << " bytes";
        const Bytes kept = c.loads ? content : Bytes(kDefaultAt3.Bytes(), kDefaultAt3.Bytes() + 14);
        EXPECT_EQ(Bytes(record.Bytes(), record.Bytes() + 14), kept) << c.size << " bytes";
        EXPECT_EQ(error, c.loads ? "" : file + c.says);
    }
    std::remove(file.c_str());
    ConfigRecord record{};
    std::string error;
    EXPECT_FALSE(klpsim::LoadRecord(file, &record, &error));
    EXPECT_EQ(error, "cannot read " + file);
}

TEST(KlpsimUnit, IgnoresWhatIsNotARequestForIt)
{
    const Bytes fourteen(14, 0x11);
    struct Case {
        const char *what;
        Bytes wire;
    };
    const Case cases[] = {
        {"read for another unit", klpsim::Encode(0xFB, 4, {}, kConfig)},
        {"ordinary secure poll", klpsim::Encode(0xFB, 3, {}, genisys::SEND_CRC)},
        {"insecure poll", klpsim::Encode(0xFB, 3, {}, 0)},
        {"write of 13 bytes", klpsim::Encode(0xFC, 3, Bytes(13, 0x11), kConfig)},
        {"write of 15 bytes", klpsim::Encode(0xFC, 3, Bytes(15, 0x11), kConfig)},
        {"ordinary control", klpsim::Encode(0xFC, 3, fourteen, genisys::SEND_CRC)},
        {"commit to another ID", klpsim::Encode(0xFE, 9, {}, kConfig)},
        {"other configuration header", klpsim::Encode(0xFD, 3, {}, kConfig)},
        {"broken CRC", Hex("FB 03 00 00 F6")},
    };
    for (const Case &c : cases) {
        KelproUnit unit(3, kDefaultAt3);
        EXPECT_TRUE(unit.Answer(One(c.wire), 0).empty()) << c.what;
        EXPECT_EQ(Bytes(unit.record().Bytes(), unit.record().Bytes() + 14),
                  Bytes(kDefaultAt3.Bytes(), kDefaultAt3.Bytes() + 14)) << c.what;
        EXPECT_EQ(unit.commits(), 0) << c.what;
    }
}

TEST(KlpsimUnit, MisbehavesOnRequest)
{
    const Bytes read = klpsim::Encode(0xFB, 3, {}, kConfig);
    const Bytes write = klpsim::Encode(0xFC, 3, Bytes(14, 1), kConfig);
    // The well-behaved read response up to its CRC: header, address, firmware, mode, record.
    const Bytes response = Hex("F2 03 02 05 00 01 00 04 03 64 1E 05 01 02 05 32 0C 12 06");
    struct Case {
        const char *what;
        void (*misbehave)(klpsim::Faults *);
        Bytes request;
        Bytes answer;  // unescaped, up to the CRC; empty for no answer
        RxFrame::Kind kind;
    };
    const Case cases[] = {
        {"well-behaved read", [](klpsim::Faults *) {}, read, response, RxFrame::kConfig},
        {"wrong CRC", [](klpsim::Faults *f) { f->badCrc = true; }, read, response, RxFrame::kBadCrc},
        {"short response, 21 bytes", [](klpsim::Faults *f) { f->responseExtraBytes = -1; }, read,
         Bytes(response.begin(), response.end() - 1), RxFrame::kConfig},
        {"long response, 23 bytes", [](klpsim::Faults *f) { f->responseExtraBytes = 1; }, read,
         Concat({response, Hex("00")}), RxFrame::kConfig},
        {"well-behaved acknowledgement", [](klpsim::Faults *) {}, write, Hex("FA 03"), RxFrame::kConfig},
        {"acknowledgement from another address", [](klpsim::Faults *f) { f->ackAddress = 0xF5; }, write,
         Hex("FA F5"), RxFrame::kConfig},
        {"silent to a read", [](klpsim::Faults *f) { f->silent = true; }, read, {}, RxFrame::kConfig},
        {"silent to a write", [](klpsim::Faults *f) { f->silent = true; }, write, {}, RxFrame::kConfig},
    };
    for (const Case &c : cases) {
        KelproUnit unit(3, kDefaultAt3);
        c.misbehave(&unit.faults);
        const Bytes wire = unit.Answer(One(c.request), 0);
        if (c.answer.empty()) {
            EXPECT_TRUE(wire.empty()) << c.what;
            continue;
        }
        const RxFrame frame = One(wire);
        EXPECT_EQ(frame.kind, c.kind) << c.what;
        ASSERT_GE(frame.bytes.size(), 3u) << c.what;
        EXPECT_EQ(Bytes(frame.bytes.begin(), frame.bytes.end() - 3), c.answer) << c.what;
        EXPECT_EQ(frame.bytes.back(), 0xF6) << c.what;
    }
}

TEST(KlpsimUnit, MisbehavesOverTimeOnRequest)
{
    const Bytes read = klpsim::Encode(0xFB, 3, {}, kConfig);
    const Bytes commit = klpsim::Encode(0xFE, 3, {}, kConfig);
    const Bytes readOther = klpsim::Encode(0xFB, 9, {}, kConfig);
    const Bytes ack = Hex("FA 03 0D AE F6");
    struct Step {
        uint32_t at;
        Bytes request;  // none: only the time passes
        bool answered;  // the request
        bool unasked;   // the unasked acknowledgement goes out at this step
    };
    struct Case {
        const char *what;
        void (*misbehave)(klpsim::Faults *);
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"well-behaved: back after the reset", [](klpsim::Faults *) {},
         {{0, read, true, false}, {10, commit, false, false}, {200, read, true, false}}},
        {"silent after the commit: answers before, never after the reset",
         [](klpsim::Faults *f) { f->silentAfterCommit = true; },
         {{0, read, true, false}, {10, commit, false, false}, {200, read, false, false},
          {5000, read, false, false}}},
        {"unasked ack: the first frame, to anyone, starts the clock; once",
         [](klpsim::Faults *f) { f->unaskedAckMs = 300; },
         {{0, {}, false, false}, {1000, {}, false, false}, {1000, readOther, false, false},
          {1299, {}, false, false}, {1300, {}, false, true}, {1300, {}, false, false},
          {1400, read, true, false}, {9000, {}, false, false}}},
        {"unasked ack also when silent", [](klpsim::Faults *f) { f->unaskedAckMs = 0; f->silent = true; },
         {{50, read, false, true}, {60, {}, false, false}}},
    };
    for (const Case &c : cases) {
        KelproUnit unit(3, kDefaultAt3);
        unit.resetMs = 100;
        c.misbehave(&unit.faults);
        for (const Step &s : c.steps) {
            if (!s.request.empty()) {
                EXPECT_EQ(unit.Answer(One(s.request), s.at).empty(), !s.answered) << c.what << " at " << s.at;
            }
            uint32_t due = 0;
            EXPECT_EQ(unit.UnaskedAckDue(&due) && due <= s.at, s.unasked) << c.what << " at " << s.at;
            EXPECT_EQ(unit.UnaskedAck(s.at), s.unasked ? ack : Bytes()) << c.what << " at " << s.at;
        }
    }
}

TEST(KlpsimUnit, AssemblesFramesAsAReceiverOnTheLineDoes)
{
    const Bytes read = klpsim::Encode(0xFB, 1, {}, kConfig);  // FB 01 8D F0 0F F6
    struct Case {
        const char *what;
        Bytes wire;
        std::vector<Bytes> frames;  // unescaped
    };
    const Case cases[] = {
        {"escaped CRC byte", read, {Hex("FB 01 8D FF F6")}},
        {"noise and stray terminators first", Concat({Hex("41 F6 00"), read}), {Hex("FB 01 8D FF F6")}},
        {"a header restarts the frame", Concat({Hex("F2 05 01"), read}), {Hex("FB 01 8D FF F6")}},
        {"two frames back to back", Concat({read, Hex("FB 07 F6")}), {Hex("FB 01 8D FF F6"), Hex("FB 07 F6")}},
        {"overlong frame dropped", Concat({Hex("F2"), Bytes(128, 0x22), Hex("F6"), read}),
         {Hex("FB 01 8D FF F6")}},
    };
    for (const Case &c : cases) {
        std::vector<Bytes> got;
        for (const RxFrame &f : Assemble(c.wire))
            got.push_back(f.bytes);
        EXPECT_EQ(got, c.frames) << c.what;
    }
    // The longest frame that fits is still taken: header plus 127 held bytes plus terminator.
    const Bytes longest = Concat({Hex("F2"), Bytes(127, 0x22), Hex("F6")});
    EXPECT_EQ(Assemble(longest).size(), 1u);
}

TEST(KlpsimOptions, ParsesUnitsAndLineOptionsInCommandLineOrder)
{
    const char *argv[] = {"klpsim", "--mode", "4", "--reset-ms", "300", "--link", "/tmp/com1",
                          "--traffic", "50", "--stations", "5,0xF0", "--line-baud", "9600",
                          "--unit", "3", "--firmware", "1.8", "--mode", "3",
                          "--record-hex", "0102030405060708090A0B0C0D0E",
                          "--unit", "9", "--delay", "300", "--bad-crc", "--reset-ms", "0",
                          "--ack-from", "12", "--long-response", "--capture", "/tmp/cap", "--traffic", "60",
                          "--silent-after-commit", "--unasked-ack", "250"};
    klpsim::Options o;
    std::string error;
    ASSERT_TRUE(klpsim::ParseOptions(sizeof argv / sizeof *argv, argv, &o, &error)) << error;
    EXPECT_EQ(o.link, "/tmp/com1");
    EXPECT_EQ(o.trafficRate, 60) << "a repeated option's last value wins";
    EXPECT_EQ(o.stations, (std::vector<uint8_t>{5, 240}));
    ASSERT_EQ(o.units.size(), 3u);
    // Unit options before the first --unit describe a unit at 1; after it, the latest --unit.
    EXPECT_EQ(o.units[0].address, 1);
    EXPECT_EQ(o.units[0].mode, 4);
    EXPECT_EQ(o.units[0].resetMs, 300u);
    EXPECT_EQ(o.units[1].address, 3);
    EXPECT_EQ(o.units[1].firmwareMajor, 1);
    EXPECT_EQ(o.units[1].firmwareMinor, 8);
    EXPECT_EQ(o.units[1].mode, 3);
    EXPECT_EQ(o.units[1].record.Bytes()[13], 0x0E);
    EXPECT_EQ(o.units[1].resetMs, 2000u) << "the default reset time";
    EXPECT_EQ(o.units[2].address, 9);
    EXPECT_EQ(o.units[2].record.genisysSlaveId, 9) << "a unit's own record names its address";
    EXPECT_EQ(o.units[2].firmwareMajor, 2) << "the default firmware";
    EXPECT_EQ(o.units[2].resetMs, 0u);
    // Misbehaviours too belong to the latest --unit alone.
    const klpsim::Faults &f = o.units[2].faults;
    EXPECT_EQ(f.delayMs, 300u);
    EXPECT_TRUE(f.badCrc);
    EXPECT_FALSE(f.silent);
    EXPECT_EQ(f.ackAddress, 12);
    EXPECT_EQ(f.responseExtraBytes, 1);
    EXPECT_TRUE(f.silentAfterCommit);
    EXPECT_EQ(f.unaskedAckMs, 250);
    for (const klpsim::UnitOptions &healthy : {o.units[0], o.units[1]}) {
        const klpsim::Faults &h = healthy.faults;
        EXPECT_TRUE(!h.badCrc && !h.silentAfterCommit && h.delayMs == 0 && h.responseExtraBytes == 0 &&
                    h.ackAddress == -1 && h.unaskedAckMs == -1) << "unit at " << int(healthy.address);
    }
    EXPECT_EQ(o.captureFile, "/tmp/cap");
    EXPECT_EQ(o.lineBaud, 9600u);
}

TEST(KlpsimOptions, RefusesBadUsageByNameAndDefaultsToOneUnitAtAddressOne)
{
    struct Case {
        std::vector<const char *> args;
        const char *named;  // what the message must name
    };
    const Case bad[] = {
        {{"--unit", "256"}, "--unit"},
        {{"--unit", "x"}, "--unit"},
        {{"--unit", "1", "stray"}, "stray"},
        {{"--record-hex", "0102"}, "--record-hex"},
        {{"--record-hex", "zz02030405060708090A0B0C0D0E"}, "--record-hex"},
        {{"--firmware", "2"}, "--firmware"},
        {{"--firmware", "2", "--mode", "3"}, "--firmware"},
        {{"--firmware", "2.5.1"}, "--firmware"},
        {{"--firmware", "2.256"}, "--firmware"},
        {{"--stations", "5,,6"}, "--stations"},
        {{"--stations", "5,"}, "--stations"},
        {{"--traffic", "-1"}, "--traffic"},
        {{"--reset-ms", "3600001"}, "--reset-ms"},
        {{"--ack-from", "256"}, "--ack-from"},
        {{"--short-response", "--long-response"}, "--long-response"},
        {{"--delay"}, "--delay"},
        {{"--unasked-ack", "-1"}, "--unasked-ack"},
        {{"--unasked-ack", "3600001"}, "--unasked-ack"},
        {{"--line-baud", "0"}, "--line-baud"},
        {{"--line-baud", "4000001"}, "--line-baud"},
        {{"--nonsense", "1"}, "--nonsense"},
    };
    for (const Case &c : bad) {
        std::vector<const char *> argv = {"klpsim"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        klpsim::Options o;
        std::string error;
        EXPECT_FALSE(klpsim::ParseOptions(static_cast<int>(argv.size()), argv.data(), &o, &error))
            << c.args[0];
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
    }
    const char *argv[] = {"klpsim"};
    klpsim::Options o;
    std::string error;
    ASSERT_TRUE(klpsim::ParseOptions(1, argv, &o, &error));
    ASSERT_EQ(o.units.size(), 1u);
    EXPECT_EQ(o.units[0].address, 1);
    EXPECT_EQ(o.units[0].record.pollTime, 100) << "the default record";
    EXPECT_EQ(o.units[0].resetMs, 2000u);
    EXPECT_EQ(o.lineBaud, 0u) << "bytes cross at once";
    EXPECT_FALSE(o.help);
}

// The README's klpsim table and --help name the same options.
TEST(KlpsimOptions, TheReadmeTableListsEveryOptionOfHelp)
{
    std::set<std::string> inHelp;
    std::istringstream help(klpsim::HelpText());
    for (std::string line; std::getline(help, line);) {
        if (line.rfind("  --", 0) == 0)
            inHelp.insert(line.substr(2, line.find(' ', 2) - 2));
    }
    std::set<std::string> inReadme;
    std::ifstream readme(KLP_SOURCE_DIR "/README.md");
    ASSERT_TRUE(readme.good());
    bool inSection = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.rfind("## ", 0) == 0)
            inSection = line == "## The virtual unit";
        if (!inSection || line.rfind("| `--", 0) != 0)
            continue;
        const std::string firstCell = line.substr(0, line.find('|', 1));
        for (size_t at = firstCell.find("`--"); at != std::string::npos; at = firstCell.find("`--", at + 1))
            inReadme.insert(firstCell.substr(at + 1, firstCell.find_first_of(" `", at + 1) - at - 1));
    }
    ASSERT_TRUE(inHelp.count("--unit") && inHelp.count("--help")) << "no option lines found in the help";
    EXPECT_EQ(inReadme, inHelp);
}

// klpsim's ordinary traffic, fed to our own receive decoder.
class KlpsimTraffic : public LinkTest {};

TEST_F(KlpsimTraffic, DecodesCleanlyIntoEveryKindOfLine)
{
    klpsim::TrafficGenerator traffic({5, 240});
    Bytes stream;
    for (int i = 0; i < 40 * klpsim::TrafficGenerator::kKinds; ++i)
        stream = Concat({stream, traffic.Next()});
    const RxOutcome out = Run(stream, {7, 1, 64});
    const std::vector<std::string> kinds = {
        "Poll message (secure).", "Poll message (insecure).", "Ack slave message.",
        "Ack master message.",    "Indication data message:", "Recall message.",
        "Control message:",       "Control checkback message:"};
    for (const std::string &kind : kinds) {
        for (const char *station : {"ID 5 Rx: ", "ID 240 Rx: "}) {
            int seen = 0;
            for (const std::string &line : out.lines)
                seen += line.rfind(station + kind, 0) == 0;
            EXPECT_EQ(seen, 20) << station << kind;
        }
    }
    EXPECT_EQ(out.lines.size(), 40u * klpsim::TrafficGenerator::kKinds);
    EXPECT_TRUE(out.configFrames.empty());
    EXPECT_EQ(out.polls, 80u);
    EXPECT_EQ(out.acks, 80u);
}

}  // namespace
