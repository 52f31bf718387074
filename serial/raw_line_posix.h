// The terminal settings every POSIX open applies, apart from the device, so that the native
// tests can hand them a state no pseudo-terminal can hold (a pty keeps 8 bits without parity
// whatever it is told).
#pragma once
#include <termios.h>

#include <cstdint>

// Turns any terminal state into raw 8-N-1 at baud: no parity, no flow control, no
// translation either way, no echo or line editing, breaks ignored, reads that return at once.
// False for a rate the terminal has no name for; the state is then unchanged.
bool MakeRawLine(termios *tio, int16_t baud);
