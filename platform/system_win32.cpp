// Clock, locale texts, message boxes and the hand-off to the user-interface thread on Windows.
#include "platform/system.h"

#include <windows.h>

namespace {

const UINT kRunCallMessage = WM_APP + 0x4B;  // wParam: the function, lParam: its argument
HWND g_callWindow = nullptr;                  // message-only window of the UI thread
DWORD g_uiThreadId = 0;

LRESULT CALLBACK CallWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kRunCallMessage) {
        reinterpret_cast<void (*)(void *)>(wParam)(reinterpret_cast<void *>(lParam));
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

namespace sys {

const char kCaption[] = "Kelpro - Config S2-QTX";

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

void ShowMessage(WindowHandle owner, const char *text, MessageIcon icon)
{
    const UINT style = MB_OK | (icon == ICON_ERROR ? MB_ICONERROR : MB_ICONINFORMATION);
    MessageBoxA(reinterpret_cast<HWND>(owner), text, kCaption, style);
}

void InitUiThread()
{
    if (g_callWindow)
        return;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CallWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KlpUiCall";
    RegisterClassA(&wc);
    g_callWindow = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   wc.hInstance, nullptr);
    g_uiThreadId = GetCurrentThreadId();
}

void RunOnUiThread(void (*fn)(void *), void *arg)
{
    // SendMessage waits until the UI thread has run it; that thread serves sent messages in
    // its message loop, in modal boxes and while it waits for the reader thread to stop.
    if (g_callWindow == nullptr || GetCurrentThreadId() == g_uiThreadId) {
        fn(arg);
        return;
    }
    SendMessageA(g_callWindow, kRunCallMessage, reinterpret_cast<WPARAM>(fn),
                 reinterpret_cast<LPARAM>(arg));
}

}  // namespace sys
