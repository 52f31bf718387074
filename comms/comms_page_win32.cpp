// The Comms page's dialog procedure: hands each message to the portable page logic, runs the
// one-shot auto-open timer, paints the log in the button-face colour and opens the manual.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "app/help.h"
#include "app/pages_win32.h"
#include "comms/comms_page.h"
#include "res/resource.h"

static_assert(comms::kCbnSelChange == CBN_SELCHANGE, "notification codes must match Win32");
static_assert(comms::kEnChange == EN_CHANGE, "notification codes must match Win32");

namespace {

WindowHandle Page(HWND hwnd) { return reinterpret_cast<WindowHandle>(hwnd); }

INT_PTR OnInitDialog(HWND hwnd)
{
    comms::InitPage(Page(hwnd));
    SetTimer(hwnd, IDT_AUTO_OPEN, comms::kAutoOpenDelayMs, nullptr);
    return TRUE;
}

INT_PTR OnTimer(HWND hwnd, WPARAM id)
{
    if (id == IDT_AUTO_OPEN) {
        // Stopped first: the open may show a message box whose loop would fire it again.
        KillTimer(hwnd, IDT_AUTO_OPEN);
        comms::AutoOpen(Page(hwnd));
    }
    return TRUE;
}

INT_PTR OnNotify(const NMHDR *header)
{
    if (header && header->code == static_cast<UINT>(PSN_HELP))
        OpenManual();
    return TRUE;
}

// The log (control 1016) in the button-face colour; every other control keeps the default.
INT_PTR OnControlColour(HDC dc, HWND control)
{
    if (GetDlgCtrlID(control) != IDC_LOG)
        return 0;
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
}

INT_PTR Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(hwnd);
    case WM_TIMER:
        return OnTimer(hwnd, wParam);
    case WM_COMMAND:
        comms::OnCommand(Page(hwnd), LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<const NMHDR *>(lParam));
    case WM_HELP:
        OpenManual();
        return TRUE;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        return OnControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    default:
        return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK CommsPageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        return Dispatch(hwnd, message, wParam, lParam);
    } catch (...) {
        return FALSE;  // nothing may unwind into the window system
    }
}
