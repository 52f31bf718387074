// The clock and locale texts for tests: a settable tick and fixed texts.
#include "tests/support/fake_clock.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

std::atomic<uint32_t> g_tick{0};
std::mutex g_mutex;
std::string g_time = "10:54:31";
std::string g_date = "15/12/2011";

void CopyText(const std::string &text, char *buf, size_t size)
{
    if (size == 0)
        return;
    const size_t n = text.size() < size ? text.size() : size - 1;
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
}

}  // namespace

namespace sys {

uint32_t TickCount() { return g_tick.load(); }

void TimeText(char *buf, size_t size)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    CopyText(g_time, buf, size);
}

void DateText(char *buf, size_t size)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    CopyText(g_date, buf, size);
}

}  // namespace sys

namespace fake {

void SetTick(uint32_t tick) { g_tick = tick; }
void AdvanceTick(uint32_t ms) { g_tick += ms; }

void SetTimeText(const std::string &text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_time = text;
}

void SetDateText(const std::string &text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_date = text;
}

void ResetClock()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_tick = 0;
    g_time = "10:54:31";
    g_date = "15/12/2011";
}

}  // namespace fake
