// The millisecond tick and the locale's time and date texts: all the link core and the log's
// line formatting need of the system. One implementation per platform.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sys {

uint32_t TickCount();  // milliseconds, wraps at 2^32 (GetTickCount)
void TimeText(char *buf, size_t size);  // current local time, user's format
void DateText(char *buf, size_t size);  // current local date, user's short format

}  // namespace sys
