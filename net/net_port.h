// klp's network ports: tcp://HOST:PORT (a device server's raw TCP, bytes as they are) and
// rfc2217://HOST:PORT (Telnet with the COM port control option), reached through asio and
// presented to the link as a PortTransport, so nothing above knows it is not a local port.
#pragma once
#include <chrono>
#include <memory>
#include <string>

#include "serial/port_transport.h"

namespace net {

struct NetAddress {
    bool rfc2217 = false;
    std::string host;
    std::string service;  // the port number, as text
    std::string text;     // "HOST:PORT", for messages
};

// True when the port's text names a network port (it starts with tcp:// or rfc2217://).
bool IsNetworkPort(const std::string &port);
// Splits "tcp://HOST:PORT" (or "[v6]:PORT"); false when the text is not such a port.
bool ParseNetAddress(const std::string &port, NetAddress *address);

struct Connection {
    std::shared_ptr<PortTransport> transport;  // null when it failed
    std::string error;                         // why it failed, in the technician's words
};

// Connects within timeout (the name's lookup included), and over RFC 2217 also sets the
// line to baud and 8-N-1 and raises RTS and DTR before it returns.
Connection Connect(const NetAddress &address, int baud, std::chrono::milliseconds timeout);

}  // namespace net
