// The configuration file dialogs' settings, built apart so tests see what the dialogs get.
#pragma once
#include <windows.h>

#include <commdlg.h>

// A file dialog as CConfigDlg::BrowseConfigFile runs it: its settings and which dialog.
struct BrowseDialog {
    OPENFILENAMEA ofn;
    bool save;  // GetSaveFileNameA, else GetOpenFileNameA
};

// The open (BROWSE_OPEN) or save (BROWSE_SAVE) dialog owned by owner, which puts the chosen
// path in file and its name in title (CConfigDlg::kPathSize characters each, emptied here);
// false for any other mode.
bool MakeBrowseDialog(HWND owner, int mode, char *file, char *title, BrowseDialog &dialog);
