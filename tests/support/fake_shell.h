// Scripted shell for tests: a settable program path and recorded "open" requests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dialog.h"

namespace fake {

struct ShellOpen {
    WindowHandle owner;
    std::string file;
    std::string directory;
};

void SetModulePath(const std::string &path);
void SetShellResult(intptr_t result);  // what the next opens return
std::vector<ShellOpen> TakeShellOpens();

}  // namespace fake
