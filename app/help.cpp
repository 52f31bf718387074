// Opening the manual (F1 or Help on any page) and the maker's web site (About page), with the
// message box each shows when the shell cannot open it.
#include "app/help.h"

#include <cstdio>
#include <cstring>

#include "app/about_dlg.h"
#include "app/shell.h"
#include "platform/system.h"
#include "res/maker.h"

namespace {

const char kManualFile[] = "KLP_V2Orizeze.pdf";
const char kWebAddress[] = KLP_MAKER_WEB_ADDRESS;
const char kWebWorkingDirectory[] = ".\\";
constexpr uintptr_t kShellLastError = 32;  // ShellExecute results up to 32 are errors

// The directory of the program: its path cut at the last backslash, or whole without one.
void ProgramDirectory(char *dir, size_t size)
{
    shell::ModulePath(dir, size);
    char *slash = std::strrchr(dir, '\\');
    if (slash)
        *slash = '\0';
}

}  // namespace

void OpenManual()
{
    char dir[shell::kPathSize];
    ProgramDirectory(dir, sizeof dir);
    const intptr_t result = shell::Open(g_hwndSheet, kManualFile, dir);
    if (static_cast<uintptr_t>(result) > kShellLastError)
        return;
    char text[shell::kPathSize + sizeof kManualFile + 32];
    std::snprintf(text, sizeof text, "Failed to open %s\\%s", dir, kManualFile);
    sys::ShowMessage(g_hwndSheet, text, sys::MessageIcon::kInformation);
}

void OpenWebSite()
{
    const intptr_t result = shell::Open(theAbout.m_hwndPage, kWebAddress, kWebWorkingDirectory);
    if (result > static_cast<intptr_t>(kShellLastError))
        return;
    char text[sizeof kWebAddress + 32];
    std::snprintf(text, sizeof text, "Failed to open \"%s\".", kWebAddress);
    sys::ShowMessage(theAbout.m_hwndPage, text, sys::MessageIcon::kError);
}
