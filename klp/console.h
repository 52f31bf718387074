// What differs between a POSIX terminal and a Windows console for a command-line tool: the
// name of a serial port's device, binary standard streams, whether a person is watching, and
// what the system's error codes mean.
// One file per platform: console_posix.cpp, console_win32.cpp.
#pragma once
#include <string>

namespace klp {

// The device to open for a port named on the command line: the name itself on POSIX
// ("/dev/ttyUSB0"); on Windows "COM12" becomes "\\.\COM12", as ports above COM9 need.
std::string PortDevice(const std::string &port);

// Standard input and output carry bytes unchanged (captures in, lines ending in LF out), and
// a reader that goes away (klp ... | head) is seen as a failed write, not a fatal signal.
void PrepareStdio();

// True when standard error is a terminal (or console): progress is shown only then.
bool StderrIsTerminal();

// Why a port's device would not open, from the system's error code (errno, GetLastError()).
enum class PortTrouble { kOther, kMissing, kBusy, kDenied, kDirectory };
PortTrouble ClassifyPortError(int code);
// The system's own words for an error code ("Permission denied"), without a final stop.
std::string SystemErrorText(int code);

}  // namespace klp
