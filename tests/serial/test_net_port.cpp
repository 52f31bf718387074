// klp's network ports behind CSerialCom, against a loopback server of the test's own: bytes
// both ways, a peer that goes away told once as a stall, a Close that ends the reader
// quietly, RFC 2217's negotiation with 255 escaped both ways, and the failures' texts.
// Natively, under ThreadSanitizer and, as in klp.exe, under Wine.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "net/net_port.h"
#include "serial/serial_com.h"

namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;

class Recorder : public CSerialCom {
public:
    ~Recorder() override { Close(); }

    void OnReceive(const uint8_t *bytes, uint32_t count) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_received.append(reinterpret_cast<const char *>(bytes), count);
        m_changed.notify_all();
    }
    void OnPortStalled() override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_stalls;
        m_changed.notify_all();
    }
    std::string WaitReceived(size_t n)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait_for(lock, 5s, [&] { return m_received.size() >= n; });
        return m_received;
    }
    int WaitStalls(int n)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait_for(lock, 5s, [&] { return m_stalls >= n; });
        return m_stalls;
    }
    // Once Close returned the reader is gone: the count is final, nothing to wait for.
    int Stalls()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_stalls;
    }
    uint32_t Send(const std::string &bytes)
    {
        return Write(reinterpret_cast<const uint8_t *>(bytes.data()),
                     static_cast<uint32_t>(bytes.size()));
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::string m_received;
    int m_stalls = 0;
};

// A listening socket on the loopback, and the one connection it takes.
struct Server {
    asio::io_context io;
    tcp::acceptor acceptor{io, tcp::endpoint(asio::ip::address_v4::loopback(), 0)};
    tcp::socket peer{io};

    std::string Port() const { return std::to_string(acceptor.local_endpoint().port()); }
    void Accept() { acceptor.accept(peer); }
    std::string Read(size_t n)
    {
        std::string bytes(n, '\0');
        asio::read(peer, asio::buffer(&bytes[0], n));
        return bytes;
    }
    void Send(const std::string &bytes) { asio::write(peer, asio::buffer(bytes)); }
};

net::NetAddress Address(bool rfc2217, const std::string &host, const std::string &port)
{
    net::NetAddress a;
    EXPECT_TRUE(net::ParseNetAddress((rfc2217 ? "rfc2217://" : "tcp://") + host + ":" + port, &a));
    return a;
}

std::string B(std::initializer_list<int> bytes) { return std::string(bytes.begin(), bytes.end()); }

const int IAC = 255, SB = 250, SE = 240, DO = 253, WILL = 251;

TEST(NetPort, RawBytesGoBothWaysAndCloseEndsTheReaderQuietly)
{
    Server server;
    net::Connection c = net::Connect(Address(false, "127.0.0.1", server.Port()), 9600, 2000ms);
    ASSERT_TRUE(c.transport) << c.error;
    Recorder link;
    ASSERT_EQ(link.Attach(c.transport), kSerialOpenOk);
    EXPECT_TRUE(link.IsOpen());
    server.Accept();
    server.Send(B({0xFB, 0x01, 0xFF, 0xF6}));
    EXPECT_EQ(link.WaitReceived(4), B({0xFB, 0x01, 0xFF, 0xF6}));  // 255 is no escape here
    EXPECT_EQ(link.Send(B({0xF1, 0x05, 0xFF, 0xF6})), 4u);
    EXPECT_EQ(server.Read(4), B({0xF1, 0x05, 0xFF, 0xF6}));
    EXPECT_EQ(link.Close(), 1);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.Send("x"), 0u);
    asio::error_code ec;
    char byte;
    server.peer.read_some(asio::buffer(&byte, 1), ec);
    EXPECT_EQ(ec, asio::error::eof);
    EXPECT_EQ(link.Stalls(), 0);
}

TEST(NetPort, APeerThatGoesAwayIsOneStall)
{
    Server server;
    net::Connection c = net::Connect(Address(false, "localhost", server.Port()), 9600, 2000ms);
    ASSERT_TRUE(c.transport) << c.error;
    Recorder link;
    ASSERT_EQ(link.Attach(c.transport), kSerialOpenOk);
    server.Accept();
    server.peer.close();
    EXPECT_EQ(link.WaitStalls(1), 1);
    EXPECT_EQ(link.Close(), 1);
    EXPECT_EQ(link.Stalls(), 1);
}

TEST(NetPort, Rfc2217SetsTheLineEscapes255AndDropsTheModemLinesOnClose)
{
    Server server;
    std::string opening, settings;
    std::thread script([&] {
        server.Accept();
        opening = server.Read(9);
        server.Send(B({IAC, WILL, 3, IAC, DO, 44}));
        EXPECT_EQ(server.Read(3), B({IAC, DO, 3}));  // suppress-go-ahead taken
        settings = server.Read(10 + 5 * 7);  // the rate; size, parity, stop bits, RTS, DTR
        server.Send(B({IAC, SB, 44, 101, 0, 0, 0x4B, 0, IAC, SE}));
    });
    net::Connection c = net::Connect(Address(true, "127.0.0.1", server.Port()), 19200, 2000ms);
    script.join();
    ASSERT_TRUE(c.transport) << c.error;
    EXPECT_EQ(opening, B({IAC, WILL, 44, IAC, WILL, 0, IAC, DO, 0}));
    EXPECT_EQ(settings.substr(0, 24), B({IAC, SB, 44, 1, 0, 0, 0x4B, 0, IAC, SE, IAC, SB, 44, 2, 8,
                                         IAC, SE, IAC, SB, 44, 3, 1, IAC, SE}));
    EXPECT_EQ(settings.substr(settings.size() - 14),
              B({IAC, SB, 44, 5, 11, IAC, SE, IAC, SB, 44, 5, 8, IAC, SE}));  // RTS, DTR on
    Recorder link;
    ASSERT_EQ(link.Attach(c.transport), kSerialOpenOk);
    server.Send(B({0xF2, IAC, IAC, 0x07, IAC, 241, 0xF6}));  // a doubled 255 and a NOP
    EXPECT_EQ(link.WaitReceived(4), B({0xF2, 0xFF, 0x07, 0xF6}));
    EXPECT_EQ(link.Send(B({0xFF, 0x01})), 2u);
    EXPECT_EQ(server.Read(3), B({IAC, IAC, 0x01}));
    std::thread closing([&] {
        EXPECT_EQ(server.Read(14), B({IAC, SB, 44, 5, 9, IAC, SE, IAC, SB, 44, 5, 12, IAC, SE}));
        server.Send(B({IAC, SB, 44, 105, 9, IAC, SE, IAC, SB, 44, 105, 12, IAC, SE}));
    });
    EXPECT_EQ(link.Close(), 1);
    closing.join();
    EXPECT_EQ(link.Stalls(), 0);
}

TEST(NetPort, FailuresSayWhy)
{
    std::string closedPort;
    {
        Server gone;
        closedPort = gone.Port();
    }
    Server silent;  // takes the connection (the kernel does) but never negotiates
    const struct {
        net::NetAddress address;
        const char *error;
    } cases[] = {
        {Address(false, "127.0.0.1", closedPort), "refused the connection"},
        {Address(true, "127.0.0.1", silent.Port()), "did not set the line over RFC 2217 in time"},
        {Address(false, "no-such-unit.invalid", "2001"), "does not resolve"},
    };
    for (const auto &c : cases) {
        const net::Connection result = net::Connect(c.address, 9600, 300ms);
        EXPECT_FALSE(result.transport);
        EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    }
}

TEST(NetPort, AddressesAreParsedOrRefused)
{
    const struct {
        const char *text;
        bool ok, rfc2217;
        const char *host, *service;
    } cases[] = {
        {"tcp://10.0.0.5:4001", true, false, "10.0.0.5", "4001"},
        {"rfc2217://unit-7.example:2217", true, true, "unit-7.example", "2217"},
        {"tcp://[fd00::15]:65535", true, false, "fd00::15", "65535"},
        {"tcp://10.0.0.5:0", false},
        {"tcp://10.0.0.5:65536", false},
        {"tcp://10.0.0.5:", false},
        {"tcp://:4001", false},
        {"tcp://10.0.0.5:40a1", false},
        {"telnet://10.0.0.5:23", false},
        {"/dev/ttyUSB0", false},
    };
    for (const auto &c : cases) {
        net::NetAddress a;
        EXPECT_EQ(net::ParseNetAddress(c.text, &a), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(a.rfc2217, c.rfc2217) << c.text;
            EXPECT_EQ(a.host, c.host);
            EXPECT_EQ(a.service, c.service);
        }
    }
}

}  // namespace
