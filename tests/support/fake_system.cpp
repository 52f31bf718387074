// The clock, locale texts and message boxes for tests: a settable tick and recorded boxes.
#include <atomic>
#include <cstring>
#include <mutex>

#include "tests/support/fakes.h"

namespace {

std::atomic<uint32_t> g_tick{0};
std::mutex g_mutex;
std::string g_time = "10:54:31";
std::string g_date = "15/12/2011";
std::vector<fake::Message> g_messages;
std::function<void(const fake::Message &)> g_hook;

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

const char kCaption[] = "Kelpro - Config S2-QTX";

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

void ShowMessage(WindowHandle owner, const char *text, MessageIcon icon)
{
    fake::Message m{owner, text, icon};
    std::function<void(const fake::Message &)> hook;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_messages.push_back(m);
        hook = g_hook;
    }
    if (hook)
        hook(m);
}

void InitUiThread() {}

// Tests have no window system: run the call at once, one caller at a time.
void RunOnUiThread(void (*fn)(void *), void *arg)
{
    static std::recursive_mutex ui;
    std::lock_guard<std::recursive_mutex> lock(ui);
    fn(arg);
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

std::vector<Message> TakeMessages()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<Message> out;
    out.swap(g_messages);
    return out;
}

void OnMessage(std::function<void(const Message &)> hook)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_hook = std::move(hook);
}

void ResetAll()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_tick = 0;
    g_time = "10:54:31";
    g_date = "15/12/2011";
    g_messages.clear();
    g_hook = nullptr;
}

}  // namespace fake
