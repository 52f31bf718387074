// The Comms page's constants and port names. Its handlers are CCommsDlg's (comms_dlg.h,
// comms_page.cpp); app/comms_page_win32.cpp is the dialog procedure that hands messages to them.
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

}  // namespace comms
