// The dialog seam's portable part: a control's text read as a number the way Windows reads it,
// shared by the Win32 side and the tests' in-memory controls.
#include "platform/dialog.h"

#include <cstdint>

namespace dlg {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

unsigned Fail(bool *ok)
{
    if (ok)
        *ok = false;
    return 0;
}

}  // namespace

unsigned ParseUint(const char *text, bool *ok)
{
    if (!text)
        return Fail(ok);
    while (IsBlank(*text))
        ++text;
    // A minus sign is not a small number: Wine's strtoul would wrap "-5" to 4294967291.
    if (!IsDigit(*text))
        return Fail(ok);
    uint64_t value = 0;
    for (; IsDigit(*text); ++text) {
        value = value * 10 + static_cast<unsigned>(*text - '0');
        if (value > UINT32_MAX)
            return Fail(ok);
    }
    if (ok)
        *ok = true;
    return static_cast<unsigned>(value);
}

}  // namespace dlg
