// Port probing on Windows: an exclusive CreateFileA on the device, closed again at once.
#include <windows.h>

#include "serial/serial_probe.h"

namespace serial {

namespace {

// Errors that mean the port exists but cannot be had right now; such a port is still listed,
// and whether it opens is found out when the user picks it.
const DWORD kBusyErrors[] = {
    ERROR_ACCESS_DENIED,      // held by another program
    ERROR_GEN_FAILURE,        // driver present, device not answering
    ERROR_SHARING_VIOLATION,  // held by another program (some drivers)
    ERROR_SEM_TIMEOUT,        // device not answering in time
};

bool IsBusyError(DWORD error)
{
    for (DWORD busy : kBusyErrors) {
        if (error == busy)
            return true;
    }
    return false;
}

}  // namespace

ProbeResult ProbePort(const char *name)
{
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return ProbeResult::kPresent;
    }
    return IsBusyError(GetLastError()) ? ProbeResult::kBusy : ProbeResult::kAbsent;
}

}  // namespace serial
