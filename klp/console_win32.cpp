// The console differences on Windows: COM port device names and binary standard streams.
#include <windows.h>

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

PortTrouble ClassifyPortError(int code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
        return PortTrouble::kMissing;
    case ERROR_ACCESS_DENIED:  // what a COM port held by another program answers
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return PortTrouble::kBusy;
    default:
        return PortTrouble::kOther;
    }
}

std::string SystemErrorText(int code)
{
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.' ||
                     text[n - 1] == ' '))
        text[--n] = '\0';
    return n > 0 ? std::string(text, n) : "error " + std::to_string(code);
}

}  // namespace klp
