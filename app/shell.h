// The shell services the help actions need: the program's own path and "open" on a file or
// an address. One implementation per platform (shell_win32.cpp); tests link a scripted one.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/dialog.h"

namespace shell {

constexpr size_t kPathSize = 260;  // MAX_PATH, with the terminating zero

// The program's full path (GetModuleFileNameA); always zero-terminated, cut to size.
void ModulePath(char *buf, size_t size);

// ShellExecuteA(owner, "open", file, no parameters, directory, SW_SHOWNORMAL), its result
// as it comes: a value of 32 or less reports a failure.
intptr_t Open(WindowHandle owner, const char *file, const char *directory);

}  // namespace shell
