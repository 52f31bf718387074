// Opening a command's port, and why it would not open in the technician's words.
#include "klp/port.h"

#include "klp/console.h"
#include "klp/output.h"

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

}  // namespace

int OpenPort(CSerialCom &link, const PortOptions &o)
{
    const std::string device = PortDevice(o.port);
    const int16_t result = link.Open(device.c_str(), static_cast<int16_t>(o.baud));
    if (result == SERIAL_OPEN_OK)
        return kExitOk;
    return Fail(kExitPort, "cannot open port %s at %d baud: %s.", o.port.c_str(), o.baud,
                OpenFailureReason(result));
}

}  // namespace klp
