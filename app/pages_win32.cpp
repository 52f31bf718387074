// What every page's dialog procedure does alike: help, the colour rule, and keeping exceptions
// out of the window system.
#include "app/pages_win32.h"

#include <commctrl.h>
#include <prsht.h>

#include "app/help.h"

namespace {

// Every notification returns 1; only the sheet's Help button does anything.
INT_PTR OnNotify(const NMHDR *header)
{
    if (header && header->code == static_cast<UINT>(PSN_HELP))
        OpenManual();
    return TRUE;
}

// The one control a page names is drawn on the button face; every other keeps the default.
INT_PTR OnControlColour(const PageRules &rules, HDC dc, HWND control)
{
    if (!rules.buttonFaceControl || GetDlgCtrlID(control) != rules.buttonFaceControl)
        return 0;
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
}

INT_PTR Dispatch(const PageRules &rules, HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_HELP:
        OpenManual();
        return TRUE;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<const NMHDR *>(lParam));
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        return OnControlColour(rules, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    default:
        return rules.handle(page, message, wParam, lParam);
    }
}

}  // namespace

INT_PTR RunPage(const PageRules &rules, HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        return Dispatch(rules, page, message, wParam, lParam);
    } catch (...) {
        return FALSE;  // nothing may unwind into the window system
    }
}
