// RFC 2217's client subset, bytes in and out: the escape of 255 both ways, the negotiation
// answered once and never looped, the settings sent once the server takes the option, and the
// server's confirmations read from its sub-negotiations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/telnet_com_port.h"

namespace {

using net::TelnetComPort;

std::string Bytes(std::vector<int> v) { return std::string(v.begin(), v.end()); }

const int IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;
const int COM = 44;

struct Received {
    std::string data, reply;
};

Received Feed(TelnetComPort &t, const std::string &in, size_t chunk = 1)
{
    Received r;
    for (size_t at = 0; at < in.size(); at += chunk) {
        const std::string part = in.substr(at, chunk);
        t.Receive(reinterpret_cast<const uint8_t *>(part.data()), part.size(), &r.data, &r.reply);
    }
    return r;
}

TEST(TelnetComPort, EscapesByte255OnTheWayOut)
{
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {Bytes({0x41}), Bytes({0x41})},
        {Bytes({0xFF}), Bytes({0xFF, 0xFF})},
        {Bytes({0xFF, 0xFF, 0xF6}), Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xF6})},
        {Bytes({0xFE, 0xFF, 0x00}), Bytes({0xFE, 0xFF, 0xFF, 0x00})},
    };
    for (const auto &c : cases) {
        std::string out;
        TelnetComPort::Escape(reinterpret_cast<const uint8_t *>(c.in.data()),
                              static_cast<uint32_t>(c.in.size()), &out);
        EXPECT_EQ(out, c.out);
    }
}

TEST(TelnetComPort, TakesTheLineOutOfCommandsInAnySplit)
{
    // Line bytes among commands: a doubled 255, a NOP, an option, a sub-negotiation holding
    // 255 255 (one 255 of its own, not line data).
    const std::string in = Bytes({0x01, IAC, IAC, 0x02, IAC, 241, 0x03, IAC, WILL, 3, 0x04, IAC, SB,
                                  COM, 107, IAC, IAC, IAC, SE, 0xF6});
    for (size_t chunk : {1u, 2u, 3u, 7u, 100u}) {
        TelnetComPort t(9600);
        t.Opening();
        EXPECT_EQ(Feed(t, in, chunk).data, Bytes({0x01, 0xFF, 0x02, 0x03, 0x04, 0xF6})) << chunk;
    }
}

TEST(TelnetComPort, AnswersEachOptionOnceAndSendsTheSettingsWhenTheServerAgrees)
{
    TelnetComPort t(19200);
    EXPECT_EQ(t.Opening(), Bytes({IAC, WILL, COM, IAC, WILL, 0, IAC, DO, 0}));
    // (server says, client answers)
    const struct {
        std::vector<int> in, reply;
    } steps[] = {
        {{IAC, WILL, 1}, {IAC, DONT, 1}},  // ECHO: refused once
        {{IAC, WILL, 1}, {}},              // and not again
        {{IAC, DO, 24}, {IAC, WONT, 24}},  // terminal type: refused
        {{IAC, WILL, 3}, {IAC, DO, 3}},    // suppress go-ahead: taken
        {{IAC, DO, 0}, {}},                // BINARY: already offered
        {{IAC, DO, COM},
         {IAC, SB, COM, 1, 0, 0, 0x4B, 0x00, IAC, SE, IAC, SB, COM, 2, 8, IAC, SE,
          IAC, SB, COM, 3, 1, IAC, SE, IAC, SB, COM, 4, 1, IAC, SE,
          IAC, SB, COM, 5, 11, IAC, SE, IAC, SB, COM, 5, 8, IAC, SE}},
        {{IAC, DO, COM}, {}},  // the settings go once
    };
    for (const auto &s : steps)
        EXPECT_EQ(Feed(t, Bytes(s.in)).reply, Bytes(s.reply)) << s.in[1] << " " << s.in[2];
    EXPECT_EQ(t.ConfirmedBaud(), 0u);
    Feed(t, Bytes({IAC, SB, COM, 101, 0, 0, 0x4B, 0x00, IAC, SE, IAC, SB, COM, 105, 11, IAC, SE}));
    EXPECT_EQ(t.ConfirmedBaud(), 19200u);
    EXPECT_EQ(t.ConfirmedControls(), 1);
    EXPECT_FALSE(t.Refused());
    Feed(t, Bytes({IAC, DONT, COM}));
    EXPECT_TRUE(t.Refused());
}

TEST(TelnetComPort, EscapesARateHolding255InItsSettings)
{
    TelnetComPort t(0xFF);  // no real rate, but the escape inside a sub-negotiation is the same
    t.Opening();
    const std::string reply = Feed(t, Bytes({IAC, DO, COM})).reply;
    EXPECT_EQ(reply.substr(0, 11), Bytes({IAC, SB, COM, 1, 0, 0, 0, IAC, IAC, IAC, SE}));
    EXPECT_EQ(TelnetComPort(1200).Closing(),
              Bytes({IAC, SB, COM, 5, 9, IAC, SE, IAC, SB, COM, 5, 12, IAC, SE}));
}

}  // namespace
