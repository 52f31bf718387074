// The configuration file's open and save dialogs: the common file dialogs.
#include "platform/file_dialog_win32.h"

#include <cstring>

#include "platform/file_dialog.h"

namespace {

// Two filter pairs, each text then pattern, ending in an empty pair.
const char kFilter[] = "Config Files (*.klp)\0*.KLP\0All Files (*.*)\0*.*\0";

struct BrowseKind {
    int mode;
    const char *title;
    DWORD flags;
    bool save;
};

const BrowseKind kKinds[] = {
    {sys::kOpenDialog, "Open config file", OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, false},
    {sys::kSaveDialog, "Save config file",
     OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_CREATEPROMPT | OFN_NOREADONLYRETURN, true},
};

const BrowseKind *KindOf(int mode)
{
    for (const BrowseKind &k : kKinds)
        if (k.mode == mode)
            return &k;
    return nullptr;
}

}  // namespace

bool MakeBrowseDialog(HWND owner, int mode, char *file, char *title, BrowseDialog &dialog)
{
    const BrowseKind *kind = KindOf(mode);
    if (kind == nullptr)
        return false;
    file[0] = '\0';
    title[0] = '\0';  // asked for by the dialog, not used afterwards
    OPENFILENAMEA &ofn = dialog.ofn;
    ofn = OPENFILENAMEA();
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = kFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sys::kPathSize;
    ofn.lpstrFileTitle = title;
    ofn.nMaxFileTitle = sys::kPathSize;
    ofn.lpstrInitialDir = "";
    ofn.lpstrTitle = kind->title;
    ofn.Flags = kind->flags;
    ofn.lpstrDefExt = "klp";
    dialog.save = kind->save;
    return true;
}

bool sys::ChooseConfigFile(WindowHandle owner, int mode, char *path)
{
    char file[kPathSize];
    char title[kPathSize];
    BrowseDialog dialog;
    if (!MakeBrowseDialog(reinterpret_cast<HWND>(owner), mode, file, title, dialog))
        return false;
    const BOOL chosen = dialog.save ? GetSaveFileNameA(&dialog.ofn) : GetOpenFileNameA(&dialog.ofn);
    if (!chosen)
        return false;
    file[kPathSize - 1] = '\0';
    std::memcpy(path, file, std::strlen(file) + 1);
    return true;
}
