// klp's exchange against answers no well-behaved unit gives: a pseudo-terminal plays the unit
// and answers each request with scripted bytes (short and long read responses, an answer or an
// acknowledgement from another address, a bad CRC, noise and echoes before a good answer).
// Nothing garbled may pass as an answer, and a stray answer is kept for whoever asks.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "genisys/genisys_frame.h"
#include "klp/exchange.h"
#include "tools/klpsim/pty.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Outcome = klp::UnitLink::Outcome;
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

    // The unit's side: waits for the request, then sends the reply.
    std::thread AnswerWith(const Bytes &reply)
    {
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
        Bytes reply;
        Outcome outcome;
        std::string problem;
        int strayAddress;  // -1 for none
    } cases[] = {
        {"a good response", good, Outcome::kAnswered, "", -1},
        {"noise, the request's echo, then a good response",
         Join({{0x41, 0x42}, Frame(0xFB, 1, {}), good}), Outcome::kAnswered, "", -1},
        {"a 21-byte response", Frame(0xF2, 1, ResponseData(16)), Outcome::kGarbled,
         "a read response of 21 bytes (not 22)", -1},
        {"a 23-byte response", Frame(0xF2, 1, ResponseData(18)), Outcome::kGarbled,
         "a read response of 23 bytes (not 22)", -1},
        {"a bad CRC", badCrc, Outcome::kGarbled, "a frame with a bad CRC", -1},
        {"a bad CRC, then a good response", Join({badCrc, good}), Outcome::kAnswered, "", -1},
        {"an ordinary indication of the same station", Frame(0xF2, 1, ResponseData(17), 1),
         Outcome::kSilent, "", -1},
        {"a response from address 2", Frame(0xF2, 2, ResponseData(17)), Outcome::kSilent, "", 2},
        {"nothing", {}, Outcome::kSilent, "", -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::thread unit = AnswerWith(c.reply);
        const bool quick = c.outcome == Outcome::kAnswered || c.problem.find("bytes") != std::string::npos;
        const klp::UnitLink::Answer a = link->Read(1, klp::UnitLink::Ms(quick ? 3000 : 400));
        unit.join();
        EXPECT_EQ(a.outcome, c.outcome);
        EXPECT_EQ(a.problem, c.problem);
        if (c.outcome == Outcome::kAnswered) {
            EXPECT_EQ(a.response.firmwareMajor, 2);
            EXPECT_EQ(a.response.mode, 1);
            EXPECT_EQ(a.response.record.pollTime, 100);
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
        Bytes reply;
        Outcome outcome;
        std::string problem;
    } cases[] = {
        {"its acknowledgement", Frame(0xFA, 3, {}), Outcome::kAnswered, ""},
        {"another unit's, then its own", Join({Frame(0xFA, 4, {}), Frame(0xFA, 3, {})}),
         Outcome::kAnswered, ""},
        {"another unit's only", Frame(0xFA, 4, {}), Outcome::kGarbled,
         "an acknowledgement from address 4"},
        {"an ordinary slave acknowledgement", Frame(0xFA, 3, {}, 1), Outcome::kSilent, ""},
        {"a read response", Frame(0xF2, 3, ResponseData(17)), Outcome::kSilent, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::thread unit = AnswerWith(c.reply);
        const bool quick = c.outcome == Outcome::kAnswered;
        const klp::UnitLink::Answer a = link->Write(3, record, klp::UnitLink::Ms(quick ? 3000 : 400));
        unit.join();
        EXPECT_EQ(a.outcome, c.outcome);
        EXPECT_EQ(a.problem, c.problem);
        link->TakeStrays();
    }
}

TEST_F(KlpExchange, APortThatHangsUpFailsTheWaitAtOnce)
{
    std::thread unit([this] {
        pty.Read(2000);
        pty.HangUp();
    });
    const klp::UnitLink::Answer a = link->Read(1, klp::UnitLink::Ms(30000));
    unit.join();
    EXPECT_EQ(a.outcome, Outcome::kPortFailed);
    EXPECT_NE(a.problem.find("stopped working while waiting for the answer"), std::string::npos)
        << a.problem;
}

}  // namespace
