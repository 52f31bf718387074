// The Kelpro Config page's dialog procedure: hands set-up and commands to CConfigDlg; help is
// the shared page rule.
#include <windows.h>

#include "app/pages_win32.h"
#include "config/page/config_dlg.h"

namespace {

WindowHandle Page(HWND hwnd) { return reinterpret_cast<WindowHandle>(hwnd); }

INT_PTR Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return theConfig.OnInitPage(Page(hwnd));
    case WM_COMMAND:
        theConfig.OnCommand(Page(hwnd), static_cast<uintptr_t>(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}

const PageRules kRules = {Handle, 0};

}  // namespace

INT_PTR CALLBACK ConfigPageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return RunPage(kRules, hwnd, message, wParam, lParam);
}
