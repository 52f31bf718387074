// The shell services of the help actions on Windows: GetModuleFileNameA and ShellExecuteA.
#include <windows.h>
#include <shellapi.h>

#include "app/shell.h"

namespace shell {

void ModulePath(char *buf, size_t size)
{
    if (size == 0)
        return;
    const DWORD n = GetModuleFileNameA(nullptr, buf, static_cast<DWORD>(size));
    // A truncated path is not zero-terminated on older systems.
    buf[n < size ? n : size - 1] = '\0';
}

intptr_t Open(WindowHandle owner, const char *file, const char *directory)
{
    HINSTANCE result = ShellExecuteA(reinterpret_cast<HWND>(owner), "open", file, nullptr,
                                     directory, SW_SHOWNORMAL);
    return reinterpret_cast<intptr_t>(result);
}

}  // namespace shell
