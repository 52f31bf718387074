// Clock, locale texts and message boxes: the small system services the portable code needs.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/dialog.h"

namespace sys {

extern const char kCaption[];  // "Kelpro - Config S2-QTX", the caption of every message box

enum MessageIcon { ICON_ERROR, ICON_INFORMATION };

uint32_t TickCount();  // milliseconds, wraps at 2^32 (GetTickCount)
void TimeText(char *buf, size_t size);  // current local time, user's format
void DateText(char *buf, size_t size);  // current local date, user's short format
// Shows a message box with an OK button and waits until it is dismissed.
void ShowMessage(WindowHandle owner, const char *text, MessageIcon icon);

// Marks the calling thread as the user-interface thread (once, at start-up).
void InitUiThread();
// Runs fn(arg) on the user-interface thread and waits for it; runs it directly when called
// there. The reader thread uses it so that it never races the user-interface thread.
void RunOnUiThread(void (*fn)(void *), void *arg);

}  // namespace sys
