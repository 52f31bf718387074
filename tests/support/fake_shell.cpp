// The shell seam for tests: returns the path and result the test set, records each open.
#include "tests/support/fake_shell.h"

#include <cstring>

#include "app/shell.h"

namespace {
std::string g_path = "C:\\KLP\\KLP_V2Orizeze.exe";
intptr_t g_result = 42;
std::vector<fake::ShellOpen> g_opens;
}  // namespace

namespace shell {

void ModulePath(char *buf, size_t size)
{
    if (size == 0)
        return;
    const size_t n = g_path.size() < size ? g_path.size() : size - 1;
    std::memcpy(buf, g_path.data(), n);
    buf[n] = '\0';
}

intptr_t Open(WindowHandle owner, const char *file, const char *directory)
{
    g_opens.push_back({owner, file, directory ? directory : ""});
    return g_result;
}

}  // namespace shell

namespace fake {

void SetModulePath(const std::string &path) { g_path = path; }
void SetShellResult(intptr_t result) { g_result = result; }

std::vector<ShellOpen> TakeShellOpens()
{
    std::vector<ShellOpen> out;
    out.swap(g_opens);
    return out;
}

}  // namespace fake
