// The console differences on POSIX: device names are paths, streams are already binary.
#include <signal.h>
#include <unistd.h>

#include "klp/console.h"

namespace klp {

std::string PortDevice(const std::string &port) { return port; }

void PrepareStdio() { signal(SIGPIPE, SIG_IGN); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace klp
