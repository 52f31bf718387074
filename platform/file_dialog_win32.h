// The configuration file dialogs' settings, built apart so tests see what the dialogs get.
#pragma once
#include <windows.h>

#include <commdlg.h>

// A file dialog as sys::ChooseConfigFile runs it: its settings and which dialog.
struct BrowseDialog {
    OPENFILENAMEA ofn;
    bool save;  // GetSaveFileNameA, else GetOpenFileNameA
};

// The open (sys::kOpenDialog) or save (sys::kSaveDialog) dialog owned by owner, which puts the
// chosen path in file and its name in title (sys::kPathSize characters each, emptied here);
// false for any other mode.
bool MakeBrowseDialog(HWND owner, int mode, char *file, char *title, BrowseDialog &dialog);
