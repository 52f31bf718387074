// A network port through asio: the connect with its time limit and its plain failures, a
// reader thread that blocks in the socket's read, and RFC 2217 in front when asked for.
#include "net/net_port.h"

#include <asio.hpp>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "net/telnet_com_port.h"
#include "serial/serial_com.h"

namespace net {

namespace {

using asio::ip::tcp;

constexpr auto kCloseWait = std::chrono::milliseconds(500);  // for the modem lines' answers

class NetPort : public PortTransport, public std::enable_shared_from_this<NetPort> {
public:
    NetPort(const NetAddress &address, int baud) : m_address(address), m_socket(m_io)
    {
        if (address.rfc2217)
            m_telnet.reset(new TelnetComPort(static_cast<uint32_t>(baud)));
    }

    ~NetPort() override { Close(); }

    std::string Open(std::chrono::milliseconds timeout);
    bool Start(CSerialCom *owner) override;
    uint32_t Write(const uint8_t *bytes, uint32_t count) override;
    void Close() override;

private:
    // Runs the context until done() or the deadline; false on the deadline.
    template <typename Done>
    bool RunUntil(std::chrono::steady_clock::time_point deadline, Done done);
    std::string Negotiate(std::chrono::steady_clock::time_point deadline);
    bool SendRaw(const std::string &bytes);
    void ReadNext(CSerialCom *owner);
    void Deliver(CSerialCom *owner, size_t n);
    void Ended(CSerialCom *owner);

    NetAddress m_address;
    asio::io_context m_io;
    tcp::socket m_socket;
    std::unique_ptr<TelnetComPort> m_telnet;  // guarded by m_lock once the reader runs
    std::string m_early;                      // line data that came during the negotiation
    std::thread m_reader;
    std::mutex m_writeLock;  // one write at a time, each whole
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_closing = false;  // guarded by m_lock, as m_ended
    bool m_ended = false;
    bool m_closed = false;   // guarded by m_writeLock: no write once set
    uint8_t m_buffer[1024];  // the reader's
    std::string m_data, m_reply;
};

template <typename Done>
bool NetPort::RunUntil(std::chrono::steady_clock::time_point deadline, Done done)
{
    m_io.restart();
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline || m_io.stopped())
            return done();
        m_io.run_one_until(deadline);
    }
    return true;
}

std::string Failure(const NetAddress &a, const asio::error_code &ec)
{
    if (ec == asio::error::connection_refused)
        return a.text + " refused the connection (nothing listens on that port)";
    if (ec == asio::error::host_unreachable || ec == asio::error::network_unreachable)
        return a.text + " cannot be reached (no route to the host)";
    return "cannot connect to " + a.text + ": " + ec.message();
}

std::string NetPort::Open(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string seconds = std::to_string(timeout.count() / 1000.0).substr(0, 4);
    tcp::resolver resolver(m_io);
    bool resolved = false;
    asio::error_code ec;
    tcp::resolver::results_type endpoints;
    resolver.async_resolve(m_address.host, m_address.service,
                           [&](const asio::error_code &e, tcp::resolver::results_type r) {
                               ec = e;
                               endpoints = r;
                               resolved = true;
                           });
    if (!RunUntil(deadline, [&] { return resolved; })) {
        resolver.cancel();
        return "the name " + m_address.host + " did not resolve within " + seconds + " s";
    }
    if (ec)
        return "the name " + m_address.host + " does not resolve to an address";
    bool connected = false;
    asio::async_connect(m_socket, endpoints, [&](const asio::error_code &e, const tcp::endpoint &) {
        ec = e;
        connected = true;
    });
    if (!RunUntil(deadline, [&] { return connected; })) {
        m_socket.close();
        RunUntil(std::chrono::steady_clock::now() + timeout, [&] { return connected; });
        return "no answer from " + m_address.text + " within " + seconds +
               " s (--connect-timeout)";
    }
    if (ec)
        return Failure(m_address, ec);
    m_socket.set_option(tcp::no_delay(true), ec);  // a poll goes out as soon as it is written
    return m_telnet ? Negotiate(deadline) : std::string();
}

// Waits for the server to take the COM port option and confirm the rate, so the line is set
// once Open returns; the unit's bytes that arrive meanwhile are kept.
std::string NetPort::Negotiate(std::chrono::steady_clock::time_point deadline)
{
    if (!SendRaw(m_telnet->Opening()))
        return "connection to " + m_address.text + " was closed";
    uint8_t buffer[1024];
    bool failed = false;
    // The rate's answer comes after the option was taken and before the modem lines' (the
    // server takes the settings in order); a device server that cannot switch the modem lines
    // (ser2net on a pseudo-terminal) never answers those, so they are not waited for here.
    auto ready = [&] { return failed || m_telnet->Refused() || m_telnet->ConfirmedBaud() != 0; };
    while (!ready()) {
        bool done = false;
        size_t n = 0;
        asio::error_code ec;
        m_socket.async_read_some(asio::buffer(buffer), [&](const asio::error_code &e, size_t k) {
            ec = e;
            n = k;
            done = true;
        });
        if (!RunUntil(deadline, [&] { return done; })) {
            m_socket.close();
            RunUntil(std::chrono::steady_clock::now() + kCloseWait, [&] { return done; });
            return m_address.text + " did not set the line over RFC 2217 in time (is it a " +
                   "device server in RFC 2217 mode?)";
        }
        if (ec)
            return "connection to " + m_address.text + " was closed";
        std::string reply;
        m_telnet->Receive(buffer, n, &m_early, &reply);
        failed = !reply.empty() && !SendRaw(reply);
    }
    if (failed)
        return "connection to " + m_address.text + " was closed";
    if (m_telnet->Refused())
        return m_address.text + " refused RFC 2217's COM port option";
    return std::string();
}

bool NetPort::Start(CSerialCom *owner)
{
    // The first read is asked for here; the thread runs the context that completes it and
    // every read after it, until Close closes the socket inside that context. (A blocking
    // read would not be woken by a shutdown from another thread everywhere: not under Wine.)
    m_io.restart();
    ReadNext(owner);
    try {
        auto self = shared_from_this();  // a reader left running keeps its port alive
        m_reader = std::thread([self, owner] {
            if (!self->m_early.empty())
                owner->OnReceive(reinterpret_cast<const uint8_t *>(self->m_early.data()),
                                 static_cast<uint32_t>(self->m_early.size()));
            self->m_io.run();
        });
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void NetPort::ReadNext(CSerialCom *owner)
{
    m_socket.async_read_some(asio::buffer(m_buffer), [this, owner](const asio::error_code &ec,
                                                                   size_t n) {
        if (ec) {
            Ended(owner);
            return;
        }
        Deliver(owner, n);
        ReadNext(owner);
    });
}

void NetPort::Deliver(CSerialCom *owner, size_t n)
{
    if (!m_telnet) {
        owner->OnReceive(m_buffer, static_cast<uint32_t>(n));
        return;
    }
    m_data.clear();
    m_reply.clear();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_telnet->Receive(m_buffer, n, &m_data, &m_reply);
        m_changed.notify_all();
    }
    if (!m_reply.empty())
        SendRaw(m_reply);
    if (!m_data.empty())
        owner->OnReceive(reinterpret_cast<const uint8_t *>(m_data.data()),
                         static_cast<uint32_t>(m_data.size()));
}

void NetPort::Ended(CSerialCom *owner)
{
    bool closing;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_ended = true;
        closing = m_closing;
        m_changed.notify_all();
    }
    // The far end went away, not a Close of ours: said like an unplugged adapter.
    if (!closing)
        owner->OnPortStalled();
}

bool NetPort::SendRaw(const std::string &bytes)
{
    std::lock_guard<std::mutex> lock(m_writeLock);
    if (m_closed)
        return false;
    asio::error_code ec;
    asio::write(m_socket, asio::buffer(bytes), ec);
    return !ec;
}

uint32_t NetPort::Write(const uint8_t *bytes, uint32_t count)
{
    if (!m_telnet)
        return SendRaw(std::string(reinterpret_cast<const char *>(bytes), count)) ? count : 0;
    std::string escaped;
    TelnetComPort::Escape(bytes, count, &escaped);
    return SendRaw(escaped) ? count : 0;
}

void NetPort::Close()
{
    {
        std::lock_guard<std::mutex> lock(m_writeLock);
        if (m_closed || !m_socket.is_open())
            return;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    m_closing = true;
    if (m_telnet && m_reader.joinable() && !m_ended) {
        // Drops RTS and DTR as closing a local port does, and waits for the server to say so.
        const int before = m_telnet->ConfirmedControls();
        lock.unlock();
        SendRaw(m_telnet->Closing());
        lock.lock();
        m_changed.wait_for(lock, kCloseWait, [&] {
            return m_ended || m_telnet->ConfirmedControls() >= before + 2;
        });
    }
    lock.unlock();
    {
        // No write from here on; the socket is closed in the reader's context, which ends
        // its read there and then its run.
        std::lock_guard<std::mutex> writes(m_writeLock);
        m_closed = true;
    }
    asio::post(m_io, [this] {
        asio::error_code ec;
        m_socket.shutdown(tcp::socket::shutdown_both, ec);
        m_socket.close(ec);
    });
    if (m_reader.joinable() && m_reader.get_id() == std::this_thread::get_id()) {
        m_reader.detach();  // closed from its own OnReceive: it ends after this call
        return;
    }
    if (m_reader.joinable())
        m_reader.join();
    asio::error_code ec;
    m_socket.close(ec);  // when the reader had ended already, the post never ran
}

}  // namespace

bool IsNetworkPort(const std::string &port)
{
    return port.rfind("tcp://", 0) == 0 || port.rfind("rfc2217://", 0) == 0;
}

bool ParseNetAddress(const std::string &port, NetAddress *a)
{
    const size_t scheme = port.find("://");
    if (!IsNetworkPort(port) || scheme == std::string::npos)
        return false;
    a->rfc2217 = port.compare(0, scheme, "rfc2217") == 0;
    const std::string rest = port.substr(scheme + 3);
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size())
        return false;
    a->host = rest.substr(0, colon);
    a->service = rest.substr(colon + 1);
    if (a->host.size() > 2 && a->host.front() == '[' && a->host.back() == ']')
        a->host = a->host.substr(1, a->host.size() - 2);
    if (a->service.find_first_not_of("0123456789") != std::string::npos ||
        a->service.size() > 5 || std::stoi(a->service) < 1 || std::stoi(a->service) > 65535)
        return false;
    a->text = rest;
    return true;
}

Connection Connect(const NetAddress &address, int baud, std::chrono::milliseconds timeout)
{
    auto port = std::make_shared<NetPort>(address, baud);
    Connection c;
    c.error = port->Open(timeout);
    if (c.error.empty())
        c.transport = port;
    return c;
}

}  // namespace net
