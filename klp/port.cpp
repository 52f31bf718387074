// Opening a command's port, and why it would not open in the technician's words.
#include "klp/port.h"

#include <chrono>

#include "klp/console.h"
#include "klp/output.h"
#include "net/net_port.h"

namespace klp {

namespace {

// Why a port would not open, by CSerialCom::Open's result.
struct OpenFailure {
    int16_t result;
    const char *reason;
};
const OpenFailure kOpenFailures[] = {
    {SERIAL_OPEN_DEVICE_FAILED, "it is missing, or in use by another program"},
    {SERIAL_OPEN_TIMEOUTS_FAILED, "it is not a serial port (it refused the time-outs)"},
    {SERIAL_OPEN_LINE_FAILED, "it refused the line settings"},
    {SERIAL_OPEN_THREAD_FAILED, "its reader could not be started"},
};

const char *OpenFailureReason(int16_t result)
{
    for (const OpenFailure &f : kOpenFailures)
        if (f.result == result)
            return f.reason;
    return "it could not be opened";
}

// A device server's port: its own plain failures (refused, unreachable, no such name, no
// answer in time) in place of a device's.
int OpenNetworkPort(CSerialCom &link, const PortOptions &o)
{
    net::NetAddress address;
    if (!net::ParseNetAddress(o.port, &address))
        return Fail(kExitPort, "cannot open port %s: a network port is tcp://HOST:PORT or "
                               "rfc2217://HOST:PORT, with PORT from 1 to 65535.", o.port.c_str());
    const auto timeout = std::chrono::milliseconds(static_cast<long long>(o.connectTimeout * 1000));
    net::Connection c = net::Connect(address, o.baud, timeout);
    if (!c.transport)
        return Fail(kExitPort, "cannot open port %s: %s.", o.port.c_str(), c.error.c_str());
    if (link.Attach(c.transport) != SERIAL_OPEN_OK)
        return Fail(kExitPort, "cannot open port %s: %s.", o.port.c_str(),
                    OpenFailureReason(SERIAL_OPEN_THREAD_FAILED));
    return kExitOk;
}

}  // namespace

std::string LostPortText(const PortOptions &o)
{
    net::NetAddress address;
    if (net::ParseNetAddress(o.port, &address))
        return "connection to " + address.text + " was closed.";
    return "port " + o.port + " stopped responding (was the adapter unplugged?).";
}

int OpenPort(CSerialCom &link, const PortOptions &o)
{
    if (net::IsNetworkPort(o.port))
        return OpenNetworkPort(link, o);
    const std::string device = PortDevice(o.port);
    const int16_t result = link.Open(device.c_str(), static_cast<int16_t>(o.baud));
    if (result == SERIAL_OPEN_OK)
        return kExitOk;
    return Fail(kExitPort, "cannot open port %s at %d baud: %s.", o.port.c_str(), o.baud,
                OpenFailureReason(result));
}

}  // namespace klp
