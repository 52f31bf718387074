// Opening a command's port, and why it would not open in the technician's words.
#include "klp/port.h"

#include <chrono>

#include "klp/console.h"
#include "klp/output.h"
#include "net/net_port.h"

namespace klp {

namespace {

// Why a port would not open, by CSerialCom::Open's result and, for the device itself, by
// what the system said.
struct OpenFailure {
    int16_t result;
    PortTrouble trouble;
    const char *reason;
    const char *advice;  // after the system's words, or ""
};
const OpenFailure kOpenFailures[] = {
    {kSerialOpenDeviceFailed, PortTrouble::kMissing, "it is missing", ""},
    {kSerialOpenDeviceFailed, PortTrouble::kBusy, "it is in use by another program", ""},
    {kSerialOpenDeviceFailed, PortTrouble::kDenied, "you may not open it",
     "; on Linux, add your user to the dialout group and log in again"},
    {kSerialOpenDeviceFailed, PortTrouble::kDirectory, "it is a folder, not a serial port", ""},
    {kSerialOpenDeviceFailed, PortTrouble::kOther, "it could not be opened", ""},
    {kSerialOpenTimeoutsFailed, PortTrouble::kOther,
     "it is not a serial port: it refused the time-outs", ""},
    {kSerialOpenLineFailed, PortTrouble::kOther, "it refused the line settings", ""},
    {kSerialOpenThreadFailed, PortTrouble::kOther, "its reader could not be started", ""},
};

const OpenFailure &FindFailure(int16_t result, int error)
{
    const PortTrouble trouble =
        result == kSerialOpenDeviceFailed ? ClassifyPortError(error) : PortTrouble::kOther;
    for (const OpenFailure &f : kOpenFailures)
        if (f.result == result && f.trouble == trouble)
            return f;
    return kOpenFailures[4];  // "it could not be opened"
}

// Connects to a device server's port and attaches it to the link; false with the reason.
bool ConnectNetworkPort(CSerialCom &link, const PortOptions &o, std::string *why)
{
    net::NetAddress address;
    if (!net::ParseNetAddress(o.port, &address)) {
        *why = "a network port is tcp://HOST:PORT or rfc2217://HOST:PORT, with PORT from 1 to "
               "65535";
        return false;
    }
    const auto timeout = std::chrono::milliseconds(static_cast<long long>(o.connectTimeout * 1000));
    net::Connection c = net::Connect(address, o.baud, timeout);
    if (!c.transport) {
        *why = c.error;
        return false;
    }
    if (link.Attach(c.transport) != kSerialOpenOk) {
        *why = FindFailure(kSerialOpenThreadFailed, 0).reason;
        return false;
    }
    return true;
}

// A device server's port: its own plain failures (refused, unreachable, no such name, no
// answer in time) in place of a device's.
int OpenNetworkPort(CSerialCom &link, const PortOptions &o)
{
    std::string why;
    if (!ConnectNetworkPort(link, o, &why))
        return Fail(kExitPort, "cannot open port %s: %s.", o.port.c_str(), why.c_str());
    return kExitOk;
}

}  // namespace

bool TryOpenPort(CSerialCom &link, const PortOptions &o)
{
    if (!net::IsNetworkPort(o.port))
        return link.Open(PortDevice(o.port).c_str(), static_cast<int16_t>(o.baud)) == kSerialOpenOk;
    std::string why;
    return ConnectNetworkPort(link, o, &why);
}

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
    if (result == kSerialOpenOk)
        return kExitOk;
    // The reason in plain words, then the system's own, as it said them for the failing step.
    const int error = link.OpenError();
    const OpenFailure &f = FindFailure(result, error);
    const std::string system = error != 0 ? " (" + SystemErrorText(error) + ")" : "";
    return Fail(kExitPort, "cannot open port %s at %d baud: %s%s%s.", o.port.c_str(), o.baud,
                f.reason, system.c_str(), f.advice);
}

}  // namespace klp
