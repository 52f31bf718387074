// Message boxes and the user-interface thread for tests: recorded boxes, and a window that
// either serves every call at once or holds posted calls until the test lets it run them.
#include <atomic>
#include <deque>
#include <mutex>

#include "tests/support/fakes.h"

namespace {

std::mutex g_mutex;
std::vector<fake::Message> g_messages;
std::function<void(const fake::Message &)> g_hook;
std::function<void()> g_beforeUiCall;

struct Call {
    void (*fn)(void *);
    void *arg;
};
std::atomic<bool> g_deferred{false};
std::atomic<bool> g_callerIsUi{false};  // while deferred: the caller acts as the UI thread
std::deque<Call> g_posted;
Call g_later = {nullptr, nullptr};

}  // namespace

namespace sys {

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

bool InitUiThread() { return true; }

bool OnUiThread() { return !g_deferred.load() || g_callerIsUi.load(); }

// Tests have no window system: run the call at once, one caller at a time.
void RunOnUiThread(void (*fn)(void *), void *arg)
{
    static std::recursive_mutex ui;
    std::lock_guard<std::recursive_mutex> lock(ui);
    std::function<void()> before;
    {
        std::lock_guard<std::mutex> l(g_mutex);
        before = g_beforeUiCall;
    }
    if (before)
        before();
    fn(arg);
}

void PostToUiThread(void (*fn)(void *), void *arg)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_deferred) {
            g_posted.push_back({fn, arg});
            return;
        }
    }
    fn(arg);
}

void RunOnUiThreadLater(unsigned, void (*fn)(void *), void *arg)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_deferred) {
            g_later = {fn, arg};
            return;
        }
    }
    fn(arg);
}

}  // namespace sys

namespace fake {

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

void BeforeUiCall(std::function<void()> hook)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_beforeUiCall = std::move(hook);
}

void CallFromUiThread(bool on)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_callerIsUi = on;
}

void DeferUiCalls(bool on)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_deferred = on;
    g_callerIsUi = false;
    g_posted.clear();
    g_later = {nullptr, nullptr};
}

int RunUiCalls()
{
    int ran = 0;
    for (;;) {
        Call call;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (!g_posted.empty()) {
                call = g_posted.front();
                g_posted.pop_front();
            } else if (g_later.fn) {
                call = g_later;  // the timer comes last, once nothing posted is waiting
                g_later = {nullptr, nullptr};
                ran = -ran - 1;  // and ends this round
            } else {
                return ran;
            }
        }
        call.fn(call.arg);
        if (ran < 0)
            return -ran;
        ++ran;
    }
}

void ResetAll()
{
    ResetClock();
    std::lock_guard<std::mutex> lock(g_mutex);
    g_messages.clear();
    g_hook = nullptr;
    g_beforeUiCall = nullptr;
    g_deferred = false;
    g_callerIsUi = false;
    g_posted.clear();
    g_later = {nullptr, nullptr};
}

}  // namespace fake
