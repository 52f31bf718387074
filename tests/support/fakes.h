// In-memory stand-ins for the platform seams: dialog controls with the real controls' semantics,
// the clock, locale texts, message boxes, a recording serial port and the configuration hand-off.
// Test programs and fuzzers link these instead of the Win32 or POSIX side.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialog.h"
#include "platform/system.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial.h"

namespace fake {

enum class Kind { Static, Edit, Button, Combo, MultiEdit };

struct Control {
    Kind kind = Kind::Static;
    std::string text;                 // static/edit/button text; the multi-line edit's whole text
    bool checked = false;
    bool enabled = true;
    std::vector<std::string> items;   // combo items
    int sel = -1;                     // combo selection
    int selStart = 0, selEnd = 0;     // edit selection
    int scrollCarets = 0;             // EM_SCROLLCARET count
};

// A page: controls by id, and the commands posted to it. Every access goes through the
// page's mutex, because the receive path reaches the page from the reader thread.
class Page {
public:
    void Add(int id, Kind kind, const std::string &text = "");
    Control &At(int id);  // the control (aborts the test on an unknown id)
    std::string Text(int id);
    std::vector<std::string> LogLines(int id);  // multi-line edit text split at CR LF
    std::vector<int> TakePosted();               // commands posted so far, then cleared
    WindowHandle handle() { return reinterpret_cast<WindowHandle>(this); }

    std::recursive_mutex mutex;
    std::map<int, Control> controls;
    std::vector<int> posted;
    // While journal is on, every text put in a multi-line edit (EM_REPLACESEL), oldest first,
    // untouched by the log's trim: long runs can be compared line by line.
    bool journal = false;
    std::vector<std::string> appended;
    // Runs as text goes into a multi-line edit (EM_REPLACESEL), before it shows.
    std::function<void(int id, const char *text)> onReplaceSel;
};

Page *FromHandle(WindowHandle h);

// Pages laid out like the real templates (ids and kinds).
void AddCommsControls(Page &page);
void AddConfigControls(Page &page);

// Message boxes shown, in order.
struct Message {
    WindowHandle owner;
    std::string text;
    sys::MessageIcon icon;
};
std::vector<Message> TakeMessages();
// Runs while a message box is "open" (tests use it to act during a modal box).
void OnMessage(std::function<void(const Message &)> hook);

// The user-interface thread. By default every thread is it, and everything the log hands to
// it runs at once. Deferred, no thread is: calls posted to it (and its one timer) wait until
// the test runs them, as they would while the window is busy.
void DeferUiCalls(bool on);
// While deferred: the calls that follow come from the user-interface thread (or not).
void CallFromUiThread(bool on);
// One round of the window's loop: every posted call, then the timer if one is set. Returns
// how many calls ran.
int RunUiCalls();
// Runs before each call handed to the user-interface thread and waited for (a busy window).
void BeforeUiCall(std::function<void()> hook);


// Puts the clock, locale texts, message boxes and the user-interface thread back to their
// initial state.
void ResetAll();

}  // namespace fake
