// The console differences on POSIX: device names are paths, streams are already binary.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "klp/console.h"

namespace klp {

std::string PortDevice(const std::string &port) { return port; }

void PrepareStdio() { signal(SIGPIPE, SIG_IGN); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

PortTrouble ClassifyPortError(int code)
{
    switch (code) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return PortTrouble::kMissing;
    case EBUSY:
    case EWOULDBLOCK:  // another holder's lock
        return PortTrouble::kBusy;
    case EACCES:
    case EPERM:
        return PortTrouble::kDenied;
    case EISDIR:
        return PortTrouble::kDirectory;
    default:
        return PortTrouble::kOther;
    }
}

std::string SystemErrorText(int code) { return std::strerror(code); }

}  // namespace klp
