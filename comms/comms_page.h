// The Comms page's behaviour, portable: the port and baud lists, the automatic open of the
// first port, port and baud selection, the "slave to config" field and "Find Slaves".
// comms_page_win32.cpp is the dialog procedure that hands window messages to these.
#pragma once
#include <cstddef>

#include "platform/dialog.h"

namespace comms {

constexpr unsigned kAutoOpenDelayMs = 200;  // from page creation to the automatic open
constexpr int kFirstPort = 1;
constexpr int kLastPort = 30;
constexpr int kDefaultBaudIndex = 3;        // "9600"
constexpr size_t kListTextSize = 16;        // list texts are read as at most 15 characters

// WM_COMMAND notification codes the page acts on (the Win32 values, CBN_SELCHANGE and EN_CHANGE).
constexpr int kCbnSelChange = 1;
constexpr int kEnChange = 0x0300;

// "COM%d" for ports 1 to 9, "\\.\COM%d" from 10 on: the name that opening the port takes.
void PortName(int number, char *buf, size_t size);

// WM_INITDIALOG, apart from starting the timer: lists the ports, fills the baud list, shows the
// "slave to config" address and remembers the page.
void InitPage(WindowHandle page);

// The auto-open timer fired (the caller has stopped it): picks the first port found and
// handles it as if the user had picked it.
void AutoOpen(WindowHandle page);

// WM_COMMAND from a control of the page.
void OnCommand(WindowHandle page, int id, int notification);

}  // namespace comms
