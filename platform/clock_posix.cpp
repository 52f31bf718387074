// The tick and the time and date texts on POSIX: a monotonic clock, and fixed formats (there is
// no user locale to follow): 24-hour time and the ISO date, which sort and read the same anywhere.
#include "platform/clock.h"

#include <ctime>

namespace {

void FormatNow(const char *format, char *buf, size_t size)
{
    if (size == 0)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr || std::strftime(buf, size, format, &local) == 0)
        buf[0] = '\0';
}

}  // namespace

namespace sys {

uint32_t TickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void TimeText(char *buf, size_t size) { FormatNow("%H:%M:%S", buf, size); }

void DateText(char *buf, size_t size) { FormatNow("%Y-%m-%d", buf, size); }

}  // namespace sys
