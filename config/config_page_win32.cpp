// The Kelpro Config page's dialog procedure: hands each window message to its portable handler.
#include "config/config_page_win32.h"

#include <commctrl.h>
#include <prsht.h>

#include "config/config_dlg.h"
#include "app/help.h"

namespace {

WindowHandle Page(HWND hwnd) { return reinterpret_cast<WindowHandle>(hwnd); }

INT_PTR Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return theConfig.OnInitPage(Page(hwnd));
    case WM_COMMAND:
        theConfig.OnCommand(Page(hwnd), static_cast<uintptr_t>(wParam));
        return 1;
    case WM_HELP:
        OpenManual();
        return 1;
    case WM_NOTIFY: {
        const NMHDR *header = reinterpret_cast<const NMHDR *>(lParam);
        if (header && header->code == static_cast<UINT>(PSN_HELP))
            OpenManual();
        return 1;
    }
    default:
        return 0;
    }
}

}  // namespace

INT_PTR CALLBACK ConfigPageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        return Dispatch(hwnd, message, wParam, lParam);
    } catch (...) {  // nothing may unwind into the window system
        return 0;
    }
}
