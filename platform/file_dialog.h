// The configuration file's open and save dialogs: all the configuration page asks of the
// window system's file dialogs. One implementation per platform (file_dialog_win32.cpp); tests
// link a scripted one.
#pragma once
#include <cstddef>

#include "platform/dialog.h"

namespace sys {

constexpr size_t kPathSize = 260;  // a chosen path, with the terminating zero (MAX_PATH)
// The dialogs by the numbers the configuration page gives them.
constexpr int kOpenDialog = 1;
constexpr int kSaveDialog = 2;

// Shows the open or save dialog owned by owner and, when the user chose a file, copies its full
// path into path (kPathSize characters); false, with path untouched, when the user cancelled,
// the dialog failed or mode names neither dialog.
bool ChooseConfigFile(WindowHandle owner, int mode, char *path);

}  // namespace sys
