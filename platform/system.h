// Message boxes and the user-interface thread: the small window-system services the pages and
// the message log need. The clock and locale texts are platform/clock.h.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/clock.h"
#include "platform/dialog.h"

namespace sys {

extern const char kCaption[];  // "Kelpro - Config S2-QTX", the caption of every message box

enum class MessageIcon { kError, kInformation };

// Shows a message box with an OK button and waits until it is dismissed.
void ShowMessage(WindowHandle owner, const char *text, MessageIcon icon);

// Marks the calling thread as the user-interface thread (once, at start-up) and makes the
// window that carries other threads' calls to it; false when that window cannot be made.
bool InitUiThread();
// True on the user-interface thread (and wherever there is none, as in tests: the caller then
// does the work itself).
bool OnUiThread();
// Runs fn(arg) on the user-interface thread and waits for it; runs it directly when called
// there. The reader thread uses it so that it never races the user-interface thread.
void RunOnUiThread(void (*fn)(void *), void *arg);
// Asks the user-interface thread to run fn(arg) soon, without waiting (a posted message).
void PostToUiThread(void (*fn)(void *), void *arg);
// On the user-interface thread: runs fn(arg) once, ms from now, after pending input and
// painting (a timer). A later call replaces one not yet run.
void RunOnUiThreadLater(unsigned ms, void (*fn)(void *), void *arg);

}  // namespace sys

// The property sheet window: owner of the help and most error message boxes (set by the entry).
extern WindowHandle g_hwndSheet;
