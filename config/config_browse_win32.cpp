// The configuration file's open and save dialogs: the common file dialogs.
#include <windows.h>

#include <commdlg.h>

#include <cstring>

#include "config/config_dlg.h"

namespace {

// Two filter pairs, each text then pattern, ending in an empty pair.
const char kFilter[] = "Config Files (*.klp)\0*.KLP\0All Files (*.*)\0*.*\0";

struct BrowseKind {
    int mode;
    const char *title;
    DWORD flags;
    BOOL(WINAPI *run)(LPOPENFILENAMEA);
};

const BrowseKind kKinds[] = {
    {CConfigDlg::BROWSE_OPEN, "Open config file", OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
     GetOpenFileNameA},
    {CConfigDlg::BROWSE_SAVE, "Save config file",
     OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_CREATEPROMPT | OFN_NOREADONLYRETURN,
     GetSaveFileNameA},
};

const BrowseKind *KindOf(int mode)
{
    for (const BrowseKind &k : kKinds)
        if (k.mode == mode)
            return &k;
    return nullptr;
}

}  // namespace

char *CConfigDlg::BrowseConfigFile(WindowHandle owner, char *path, int mode)
{
    const BrowseKind *kind = KindOf(mode);
    if (kind == nullptr)
        return nullptr;
    char file[kPathSize] = "";
    char title[kPathSize] = "";  // asked for by the dialog, not used afterwards
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = reinterpret_cast<HWND>(owner);
    ofn.lpstrFilter = kFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrFileTitle = title;
    ofn.nMaxFileTitle = sizeof title;
    ofn.lpstrInitialDir = "";
    ofn.lpstrTitle = kind->title;
    ofn.Flags = kind->flags;
    ofn.lpstrDefExt = "klp";
    if (!kind->run(&ofn))
        return nullptr;
    file[kPathSize - 1] = '\0';
    std::memcpy(path, file, std::strlen(file) + 1);
    return path;
}
