// Finding and operating the program's windows from another process: the sheet, its pages and
// their controls, message boxes and the common file dialogs.
#pragma once
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace ui {

// Every failure of a driver action (window missing, time limit, refused message).
struct Error : std::runtime_error {
    explicit Error(const std::string &what) : std::runtime_error(what) {}
};

extern const char kSheetCaption[];  // the property sheet's caption
extern const char kBoxCaption[];    // the caption of the program's message boxes

// Time limit of every wait and of every message sent to the program, in milliseconds.
void SetTimeLimit(unsigned ms);
unsigned TimeLimit();

// Sends a message to a window of the program with the time limit; throws when it is not
// answered in time, so a busy or hung program fails the action instead of hanging the driver.
LRESULT Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
void Post(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
void SetText(HWND hwnd, const std::string &text);  // WM_SETTEXT

// The sheet: waits up to the time limit for it when asked to.
HWND FindSheet(bool wait);
int CountSheets();
// Waits until no sheet is left; returns the milliseconds it took.
unsigned WaitSheetGone();

// A control named as "sheet", "sheet:ID", "PAGE" or "PAGE:ID" (PAGE counts from 0).
struct Target {
    HWND window = nullptr;  // the control (or the page or sheet itself)
    HWND parent = nullptr;  // the dialog that receives its notifications
    int id = 0;
};
Target Resolve(const std::string &address);

int CurrentPage();
void SelectPage(int index);

std::string Text(HWND hwnd);
std::vector<std::string> ComboItems(HWND combo);
// Waits until the text of the target satisfies the test; returns the text that matched.
enum class Match { kIs, kHas, kRegex };
std::string WaitText(const std::string &address, Match how, const std::string &want);

// One line per child window: "id class visible enabled text".
std::vector<std::string> DescribeChildren(HWND parent);
std::string DescribeRect(HWND hwnd);

// Message boxes and file dialogs (ui_dialogs.cpp).
struct BoxInfo {
    HWND hwnd = nullptr;
    std::string caption, text, owner;  // owner: "sheet", "none" or another window's caption
};
std::vector<BoxInfo> OpenBoxes();
// Waits for a dialog box with this caption, returns its text and presses the button.
BoxInfo AnswerBox(const std::string &caption, int button);
// Waits for a box and names its owner: "sheet", "none" or the owner's caption in quotes.
std::string BoxOwner(const std::string &caption);
// Fails if a box with this caption shows up within ms milliseconds.
void ExpectNoBox(const std::string &caption, unsigned ms);
// Types the path into the open or save dialog with this caption and presses its default button.
// Returns "" once the dialog has closed, or the text of the question it asks instead (an
// overwrite question, answered with AnswerBox by the same caption).
std::string AnswerFileDialog(const std::string &caption, const std::string &path);

}  // namespace ui
