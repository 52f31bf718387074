// Message boxes and the hand-offs to the user-interface thread on Windows.
#include "platform/system.h"

#include <windows.h>

namespace {

const UINT kSentCallMessage = WM_APP + 0x4B;    // wParam: the function, lParam: its argument
const UINT kPostedCallMessage = WM_APP + 0x4C;  // the same, posted
const UINT_PTR kLaterTimer = 1;

HWND g_callWindow = nullptr;  // message-only window of the UI thread
DWORD g_uiThreadId = 0;

// The one call waiting for its timer (only the user-interface thread touches these).
void (*g_laterFn)(void *) = nullptr;
void *g_laterArg = nullptr;

// Runs a call handed to this thread. Nothing it throws may unwind into the window system,
// the rule the page procedures keep too: the call is given up, the window goes on.
void RunGuarded(void (*fn)(void *), void *arg)
{
    try {
        fn(arg);
    } catch (...) {
    }
}

void RunCall(WPARAM fn, LPARAM arg)
{
    RunGuarded(reinterpret_cast<void (*)(void *)>(fn), reinterpret_cast<void *>(arg));
}

LRESULT CALLBACK CallWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kSentCallMessage:
    case kPostedCallMessage:
        RunCall(wParam, lParam);
        return 0;
    case WM_TIMER:
        if (wParam == kLaterTimer) {
            KillTimer(hwnd, kLaterTimer);
            void (*fn)(void *) = g_laterFn;
            g_laterFn = nullptr;
            if (fn)
                RunGuarded(fn, g_laterArg);
        }
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

}  // namespace

namespace sys {

const char kCaption[] = "Kelpro - Config S2-QTX";

void ShowMessage(WindowHandle owner, const char *text, MessageIcon icon)
{
    const UINT style = MB_OK | (icon == MessageIcon::kError ? MB_ICONERROR : MB_ICONINFORMATION);
    MessageBoxA(reinterpret_cast<HWND>(owner), text, kCaption, style);
}

bool InitUiThread()
{
    if (g_callWindow)
        return true;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CallWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KlpUiCall";
    RegisterClassA(&wc);
    g_callWindow = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   wc.hInstance, nullptr);
    if (g_callWindow == nullptr)
        return false;
    g_uiThreadId = GetCurrentThreadId();
    return true;
}

bool OnUiThread() { return g_callWindow == nullptr || GetCurrentThreadId() == g_uiThreadId; }

void RunOnUiThread(void (*fn)(void *), void *arg)
{
    // SendMessage waits until the UI thread has run it; that thread serves sent messages in
    // its message loop, in modal boxes and while it waits for the reader thread to stop.
    if (OnUiThread()) {
        fn(arg);
        return;
    }
    SendMessageA(g_callWindow, kSentCallMessage, reinterpret_cast<WPARAM>(fn),
                 reinterpret_cast<LPARAM>(arg));
}

void PostToUiThread(void (*fn)(void *), void *arg)
{
    if (g_callWindow == nullptr) {
        fn(arg);
        return;
    }
    PostMessageA(g_callWindow, kPostedCallMessage, reinterpret_cast<WPARAM>(fn),
                 reinterpret_cast<LPARAM>(arg));
}

void RunOnUiThreadLater(unsigned ms, void (*fn)(void *), void *arg)
{
    if (g_callWindow == nullptr) {
        fn(arg);
        return;
    }
    g_laterFn = fn;
    g_laterArg = arg;
    SetTimer(g_callWindow, kLaterTimer, ms, nullptr);
}

}  // namespace sys
