// The About page: its dialog procedure, the version text read from the program's own version
// block, and "Visit Website"; help is the shared page rule.
#include <windows.h>

#include <cstdio>

#include "app/about_dlg.h"
#include "app/help.h"
#include "app/pages_win32.h"
#include "res/resource.h"

namespace {

const char kFileVersionKey[] = "\\StringFileInfo\\0C0904B0\\FileVersion";  // English (Australia), Unicode
// When the program was built: "Mmm dd yyyy" and "hh:mm:ss".
const char kBuildDate[] = __DATE__;
const char kBuildTime[] = __TIME__;

void FormatVersionText(char *text, size_t size, const char *fileVersion)
{
    if (fileVersion)
        std::snprintf(text, size, "v%s, compiled on %s at %s", fileVersion, kBuildDate, kBuildTime);
    else
        std::snprintf(text, size, "Compiled on %s at %s", kBuildDate, kBuildTime);
}

void ShowVersion(HWND page)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[MAX_PATH - 1] = '\0';
    char text[256];
    AboutVersionText(path, text, sizeof text);
    SetDlgItemTextA(page, IDC_ABOUT_VERSION, text);
}

INT_PTR Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        theAbout.m_hwndPage = reinterpret_cast<WindowHandle>(hwnd);
        ShowVersion(hwnd);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_ABOUT_WEBSITE)
            OpenWebSite();
        return TRUE;
    default:
        return FALSE;
    }
}

const PageRules kRules = {Handle, 0};

}  // namespace

void AboutVersionText(const char *modulePath, char *text, size_t size)
{
    DWORD unused = 0;
    const DWORD blockSize = GetFileVersionInfoSizeA(modulePath, &unused);
    void *block = blockSize ? LocalAlloc(LMEM_ZEROINIT, blockSize) : nullptr;
    const char *fileVersion = nullptr;
    if (block && GetFileVersionInfoA(modulePath, 0, blockSize, block)) {
        void *value = nullptr;
        UINT length = 0;
        if (VerQueryValueA(block, kFileVersionKey, &value, &length) && value && length)
            fileVersion = static_cast<const char *>(value);
    }
    FormatVersionText(text, size, fileVersion);  // before the block goes
    if (block)
        LocalFree(block);
}

INT_PTR CALLBACK AboutPageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return RunPage(kRules, hwnd, message, wParam, lParam);
}
