// The console differences on Windows: COM port device names and binary standard streams.
#include <fcntl.h>
#include <io.h>

#include <cctype>
#include <cstdio>

#include "klp/console.h"

namespace klp {

namespace {

// "COM" and a number, in any letter case.
bool IsComName(const std::string &port)
{
    if (port.size() < 4)
        return false;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(port[i])) != "COM"[i])
            return false;
    for (size_t i = 3; i < port.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(port[i])))
            return false;
    return true;
}

}  // namespace

std::string PortDevice(const std::string &port)
{
    return IsComName(port) ? "\\\\.\\" + port : port;
}

void PrepareStdio()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace klp
