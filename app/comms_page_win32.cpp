// The Comms page's dialog procedure: hands set-up, commands and the one-shot auto-open timer
// to CCommsDlg; help and the log's colour are the shared page rules.
#include <windows.h>

#include "app/pages_win32.h"
#include "comms/page/comms_dlg.h"
#include "comms/page/comms_page.h"
#include "res/resource.h"

static_assert(comms::kCbnSelChange == CBN_SELCHANGE, "notification codes must match Win32");
static_assert(comms::kEnChange == EN_CHANGE, "notification codes must match Win32");

namespace {

WindowHandle Page(HWND hwnd) { return reinterpret_cast<WindowHandle>(hwnd); }

INT_PTR OnInitDialog(HWND hwnd)
{
    theComms.OnInitPage(Page(hwnd));
    SetTimer(hwnd, IDT_AUTO_OPEN, comms::kAutoOpenDelayMs, nullptr);
    return TRUE;
}

INT_PTR OnTimer(HWND hwnd, WPARAM id)
{
    if (id == IDT_AUTO_OPEN) {
        // Stopped first: the open may show a message box whose loop would fire it again.
        KillTimer(hwnd, IDT_AUTO_OPEN);
        theComms.OnAutoOpen(Page(hwnd));
    }
    return TRUE;
}

INT_PTR Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(hwnd);
    case WM_TIMER:
        return OnTimer(hwnd, wParam);
    case WM_COMMAND:
        theComms.OnCommand(Page(hwnd), static_cast<uintptr_t>(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}

const PageRules kRules = {Handle, IDC_LOG};  // the log on the button face

}  // namespace

INT_PTR CALLBACK CommsPageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return RunPage(kRules, hwnd, message, wParam, lParam);
}
