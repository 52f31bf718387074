// klp's exchange against answers no well-behaved unit gives: a pseudo-terminal plays the unit
// and answers each request with scripted bytes (short and long read responses, an answer or an
// acknowledgement from another address, a bad CRC, noise and echoes before a good answer).
// Nothing garbled may pass as an answer, nothing heard before the request answers it, every
// answer within the wait is heard, and a stray answer is kept for whoever asks.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "genisys/genisys_frame.h"
#include "klp/unit_link.h"
#include "tools/klpsim/pty.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Answers = klp::UnitLink::Answers;
using Ms = klp::UnitLink::Ms;

enum class Outcome { kAnswered, kSilent, kGarbled, kPortFailed };
Outcome Of(const Answers &a)
{
    if (!a.portFailure.empty())
        return Outcome::kPortFailed;
    if (!a.responses.empty() || a.acks > 0)
        return Outcome::kAnswered;
    return a.garbled.empty() ? Outcome::kSilent : Outcome::kGarbled;
}
constexpr int kConfig = genisys::SEND_CRC | genisys::SEND_CONFIG;

Bytes Frame(uint8_t header, uint8_t address, const Bytes &data, int flags = kConfig)
{
    Bytes wire(genisys::MaxWireLength(data.size()));
    wire.resize(genisys::EncodeFrame(header, address, data.data(), data.size(), flags, wire.data()));
    return wire;
}

// A read response's data: firmware 2.5, mode 1, then the record (default-like bytes), cut or
// padded to n bytes; 17 makes the 22-byte response.
Bytes ResponseData(size_t n)
{
    Bytes data = {2, 5, 1, 0x01, 0x00, 4, 1, 100, 30, 5, 1, 2, 5, 50, 12, 18, 6};
    data.resize(n, 0x11);
    return data;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

class KlpExchange : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.Create());
        link = std::make_unique<klp::UnitLink>(klp::PortOptions{pty.path(), 9600, false});
        ASSERT_EQ(link->Open(), 0);
    }

    // The unit's side: first what is on the line before the request, then waits for the
    // request and sends the reply.
    std::thread AnswerWith(const Bytes &reply, const Bytes &before = {})
    {
        if (!before.empty()) {
            pty.Write(before);
            // Heard, stamped and queued before the request goes out; still queued when it does.
            std::this_thread::sleep_for(Ms(200));
        }
        return std::thread([this, reply] {
            if (!pty.Read(2000).empty() && !reply.empty())
                pty.Write(reply);
        });
    }

    klpsim::Pty pty;
    std::unique_ptr<klp::UnitLink> link;
};

TEST_F(KlpExchange, ReadTakesOnlyTheAddressedUnitsWholeResponse)
{
    const Bytes good = Frame(0xF2, 1, ResponseData(17));
    const Bytes badCrc = [&] {
        Bytes b = good;
        b[2] ^= 0x01;  // the firmware byte changes after the CRC was made
        return b;
    }();
    const struct {
        const char *what;
        Bytes before, reply;
        Outcome outcome;
        size_t answers;
        std::string problem;
        int strayAddress;  // -1 for none
    } cases[] = {
        {"a good response", {}, good, Outcome::kAnswered, 1, "", -1},
        {"noise, the request's echo, then a good response", {},
         Join({{0x41, 0x42}, Frame(0xFB, 1, {}), good}), Outcome::kAnswered, 1, "", -1},
        {"two units at the address", {}, Join({good, good}), Outcome::kAnswered, 2, "", -1},
        {"a 21-byte response", {}, Frame(0xF2, 1, ResponseData(16)), Outcome::kGarbled, 0,
         "a read response of 21 bytes (not 22)", -1},
        {"a 23-byte response", {}, Frame(0xF2, 1, ResponseData(18)), Outcome::kGarbled, 0,
         "a read response of 23 bytes (not 22)", -1},
        {"a bad CRC", {}, badCrc, Outcome::kGarbled, 0, "a frame with a bad CRC", -1},
        {"a bad CRC, then a good response", {}, Join({badCrc, good}), Outcome::kAnswered, 1, "", -1},
        {"an ordinary indication of the same station", {}, Frame(0xF2, 1, ResponseData(17), 1),
         Outcome::kSilent, 0, "", -1},
        {"a response from address 2", {}, Frame(0xF2, 2, ResponseData(17)), Outcome::kSilent, 0, "", 2},
        {"a response heard before the request", good, {}, Outcome::kSilent, 0, "", 1},
        {"nothing", {}, {}, Outcome::kSilent, 0, "", -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::thread unit = AnswerWith(c.reply, c.before);
        const Answers a = link->Read(1, Ms(c.outcome == Outcome::kAnswered ? 800 : 400));
        unit.join();
        EXPECT_EQ(Of(a), c.outcome);
        EXPECT_EQ(a.responses.size(), c.answers);
        EXPECT_EQ(a.garbled, c.problem);
        if (!a.responses.empty()) {
            EXPECT_EQ(a.responses[0].firmwareMajor, 2);
            EXPECT_EQ(a.responses[0].mode, 1);
            EXPECT_EQ(a.responses[0].record.pollTime, 100);
        }
        const std::vector<klp::UnitLink::Stray> strays = link->TakeStrays();
        ASSERT_EQ(strays.size(), c.strayAddress < 0 ? 0u : 1u);
        if (c.strayAddress >= 0) {
            EXPECT_EQ(strays[0].address, c.strayAddress);
        }
    }
}

TEST_F(KlpExchange, WriteTakesOnlyTheAcknowledgementOfTheUnitWrittenTo)
{
    ConfigRecord record = {};
    const struct {
        const char *what;
        Bytes before, reply;
        int acks;
        std::string problem;
    } cases[] = {
        {"its acknowledgement", {}, Frame(0xFA, 3, {}), 1, ""},
        {"another unit's, then its own", {}, Join({Frame(0xFA, 4, {}), Frame(0xFA, 3, {})}), 1, ""},
        {"two units acknowledging", {}, Join({Frame(0xFA, 3, {}), Frame(0xFA, 3, {})}), 2, ""},
        {"another unit's only", {}, Frame(0xFA, 4, {}), 0, "an acknowledgement from address 4"},
        {"a stale one, heard before the write", Frame(0xFA, 3, {}), {}, 0, ""},
        {"an ordinary slave acknowledgement", {}, Frame(0xFA, 3, {}, 1), 0, ""},
        {"a read response", {}, Frame(0xF2, 3, ResponseData(17)), 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::thread unit = AnswerWith(c.reply, c.before);
        const Answers a = link->Write(3, record, Ms(c.acks > 0 ? 800 : 400));
        unit.join();
        EXPECT_EQ(a.acks, c.acks);
        EXPECT_EQ(a.heardInstead, c.problem);
        EXPECT_EQ(a.garbled, "");
        link->TakeStrays();
    }
}

// A port that stops answering ends the wait at once, not when the wait's time is up.
TEST_F(KlpExchange, APortThatHangsUpFailsTheWaitAtOnce)
{
    std::thread unit([this] {
        pty.Read(2000);
        pty.HangUp();
    });
    const auto start = klp::UnitLink::Clock::now();
    const Answers a = link->Read(1, Ms(60000));
    unit.join();
    EXPECT_LT(klp::UnitLink::Clock::now() - start, Ms(20000)) << "a hang, not a slow machine";
    EXPECT_EQ(Of(a), Outcome::kPortFailed);
    EXPECT_NE(a.portFailure.find("stopped working while waiting for the answer"), std::string::npos)
        << a.portFailure;
}

}  // namespace
