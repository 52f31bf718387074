// Entry of KLP_V2Orizeze.exe: one modal property sheet with the Comms, Kelpro Config and
// About pages; its loop is the program's main loop, and closing it ends the program.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "comms/page/comms_dlg.h"
#include "genisys/genisys_protocol.h"
#include "app/pages_win32.h"
#include "platform/system.h"
#include "res/resource.h"

namespace {

const char kSheetCaption[] = "Kelpro (S2 to Genisys, 2 x 64 bit version)";
const char kCloseText[] = "Close";
const char kNoCallWindowText[] =
    "Could not create the window that passes serial traffic to the pages. The program will close.";

struct PageEntry {
    int templateId;
    DWORD flags;
    DLGPROC procedure;
};

// The Comms page exists with the sheet (it opens the first port 200 ms later); the other two
// are created when first shown.
const PageEntry kPages[] = {
    {IDD_COMMS, PSP_PREMATURE | PSP_HASHELP, CommsPageProc},
    {IDD_CONFIG, PSP_HASHELP, ConfigPageProc},
    {IDD_ABOUT, PSP_HASHELP, AboutPageProc},
};
constexpr int kPageCount = sizeof kPages / sizeof kPages[0];

// The extended template's layout up to its style (DLGTEMPLATEEX has no header declaration).
struct DialogTemplateExHead {
    WORD dlgVer;
    WORD signature;  // 0xFFFF marks the extended form
    DWORD helpID;
    DWORD exStyle;
    DWORD style;
};

// The sheet's own template comes in either form; the style sits at a different place in each.
void CentreTemplate(LPARAM lParam)
{
    if (!lParam)
        return;
    auto *ex = reinterpret_cast<DialogTemplateExHead *>(lParam);
    if (ex->signature == 0xFFFF)
        ex->style |= DS_CENTER;
    else
        reinterpret_cast<DLGTEMPLATE *>(lParam)->style |= DS_CENTER;
}

// Where a window of the given size starts when centred between start and end (never before start).
LONG Centred(LONG start, LONG end, LONG size)
{
    const LONG spare = end - start - size;
    return start + (spare > 0 ? spare / 2 : 0);
}

// The sheet grows to fit its pages after the dialog manager has centred it by its template's
// size (Wine does not centre again); centring it once more at its final size keeps it centred.
void CentreOnWorkArea(HWND sheet)
{
    RECT r;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetWindowRect(sheet, &r) ||
        !GetMonitorInfoA(MonitorFromWindow(sheet, MONITOR_DEFAULTTOPRIMARY), &monitor))
        return;
    const RECT &work = monitor.rcWork;
    const LONG x = Centred(work.left, work.right, r.right - r.left);
    const LONG y = Centred(work.top, work.bottom, r.bottom - r.top);
    SetWindowPos(sheet, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// No OK and no Apply: the sheet edits nothing to confirm; Cancel becomes "Close".
void DressButtons(HWND sheet)
{
    if (HWND ok = GetDlgItem(sheet, IDOK)) {
        EnableWindow(ok, FALSE);
        ShowWindow(ok, SW_HIDE);
    }
    if (HWND cancel = GetDlgItem(sheet, IDCANCEL))
        SetWindowTextA(cancel, kCloseText);
}

int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM lParam)
{
    switch (message) {
    case PSCB_PRECREATE:
        CentreTemplate(lParam);
        break;
    case PSCB_INITIALIZED:
        g_hwndSheet = reinterpret_cast<WindowHandle>(sheet);
        DressButtons(sheet);
        CentreOnWorkArea(sheet);
        break;
    default:
        break;
    }
    return 0;
}

void DescribePages(HINSTANCE instance, PROPSHEETPAGEA *pages)
{
    for (int i = 0; i < kPageCount; ++i) {
        PROPSHEETPAGEA &p = pages[i];
        p = PROPSHEETPAGEA();
        p.dwSize = sizeof p;
        p.dwFlags = kPages[i].flags;
        p.hInstance = instance;
        p.pszTemplate = MAKEINTRESOURCEA(kPages[i].templateId);
        p.pfnDlgProc = kPages[i].procedure;
    }
}

INT_PTR RunSheet(HINSTANCE instance)
{
    PROPSHEETPAGEA pages[kPageCount];
    DescribePages(instance, pages);
    PROPSHEETHEADERA header = PROPSHEETHEADERA();
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_USEICONID | PSH_NOAPPLYNOW | PSH_USECALLBACK;
    header.hwndParent = GetDesktopWindow();
    header.hInstance = instance;
    header.pszIcon = MAKEINTRESOURCEA(IDI_APP);
    header.pszCaption = kSheetCaption;
    header.nPages = kPageCount;
    header.nStartPage = 0;
    header.ppsp = pages;
    header.pfnCallback = SheetCallback;
    return PropertySheetA(&header);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (!sys::InitUiThread()) {
        // Without it every line and frame would have to be handled on the reader thread.
        sys::ShowMessage(nullptr, kNoCallWindowText, sys::MessageIcon::kError);
        return 1;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const INT_PTR result = RunSheet(instance);
    // Closed here, while this thread can still serve a reader thread that is waiting on it;
    // the link object's destructor at exit then finds the port closed.
    theLink.Close();
    // Lines still queued for CommsLog.txt go in; the page they were for is gone.
    theComms.m_hwndPage = nullptr;
    theComms.Flush();
    return static_cast<int>(result);
}
