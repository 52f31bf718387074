// The tick and the time and date texts on Windows, in the user's own formats.
#include "platform/clock.h"

#include <windows.h>

namespace sys {

uint32_t TickCount() { return GetTickCount(); }

void TimeText(char *buf, size_t size)
{
    if (size == 0)
        return;
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, buf, static_cast<int>(size)) == 0)
        buf[0] = '\0';
}

void DateText(char *buf, size_t size)
{
    if (size == 0)
        return;
    if (GetDateFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, buf, static_cast<int>(size)) == 0)
        buf[0] = '\0';
}

}  // namespace sys
