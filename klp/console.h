// What differs between a POSIX terminal and a Windows console for a command-line tool: the
// name of a serial port's device, binary standard streams, and whether a person is watching.
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

}  // namespace klp
