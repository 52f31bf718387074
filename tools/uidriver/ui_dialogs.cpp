// Message boxes and the common file dialogs: found by caption, read, and answered with a button.
#include "ui_windows.h"

#include <chrono>
#include <thread>

namespace ui {

namespace {

using Clock = std::chrono::steady_clock;

// Ids of the file-name field in the explorer-style and the old-style file dialog templates
// (cmb13 and edt1 of <dlgs.h>).
const int kFileNameIds[] = {0x47c, 0x480};

std::string ClassName(HWND hwnd) {
    char name[64] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

std::string Caption(HWND hwnd) {
    char caption[256] = "";
    GetWindowTextA(hwnd, caption, sizeof caption);
    return caption;
}

// The text of a message box: its static controls that hold text (the icon is a static too).
std::string BoxText(HWND box) {
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassName(child) != "Static") continue;
        LONG style = GetWindowLongA(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) continue;
        std::string part = Text(child);
        if (part.empty()) continue;
        if (!text.empty()) text += "\n";
        text += part;
    }
    return text;
}

std::string OwnerName(HWND box) {
    HWND owner = GetWindow(box, GW_OWNER);
    if (!owner || owner == GetDesktopWindow()) return "none";
    if (Caption(owner) == kSheetCaption) return "sheet";
    return "\"" + Caption(owner) + "\"";
}

BOOL CALLBACK CollectBox(HWND hwnd, LPARAM lp) {
    auto *boxes = reinterpret_cast<std::vector<HWND> *>(lp);
    if (ClassName(hwnd) == "#32770" && IsWindowVisible(hwnd) && Caption(hwnd) != kSheetCaption)
        boxes->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> BoxWindows() {
    std::vector<HWND> boxes;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&boxes));
    return boxes;
}

HWND FindBox(const std::string &caption) {
    // A modal question disables the dialog that asked it, which may share its caption.
    for (HWND box : BoxWindows())
        if (Caption(box) == caption && IsWindowEnabled(box)) return box;
    return nullptr;
}

HWND WaitBox(const std::string &caption, unsigned ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (HWND box = FindBox(caption)) return box;
        if (Clock::now() >= deadline) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

HWND BoxOwnedBy(HWND owner) {
    for (HWND box : BoxWindows())
        if (GetWindow(box, GW_OWNER) == owner) return box;
    return nullptr;
}

void PressButton(HWND dialog, int button) {
    HWND control = GetDlgItem(dialog, button);
    Post(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

// Waits until the dialog has closed; a box that it opens instead (an overwrite or create
// question) ends the wait and is returned.
HWND WaitClosed(HWND dialog) {
    auto deadline = Clock::now() + std::chrono::milliseconds(TimeLimit());
    while (IsWindow(dialog)) {
        if (HWND question = BoxOwnedBy(dialog)) return question;
        if (Clock::now() >= deadline) throw Error("\"" + Caption(dialog) + "\" did not close");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return nullptr;
}

}  // namespace

std::vector<BoxInfo> OpenBoxes() {
    std::vector<BoxInfo> boxes;
    for (HWND hwnd : BoxWindows()) boxes.push_back({hwnd, Caption(hwnd), BoxText(hwnd), OwnerName(hwnd)});
    return boxes;
}

BoxInfo AnswerBox(const std::string &caption, int button) {
    HWND box = WaitBox(caption, TimeLimit());
    if (!box) throw Error("no box \"" + caption + "\" within " + std::to_string(TimeLimit()) + " ms");
    BoxInfo info{box, caption, BoxText(box), OwnerName(box)};
    if (!GetDlgItem(box, button)) throw Error("box \"" + caption + "\" has no button " + std::to_string(button));
    PressButton(box, button);
    if (HWND next = WaitClosed(box)) throw Error("box \"" + caption + "\" opened \"" + Caption(next) + "\"");
    return info;
}

std::string BoxOwner(const std::string &caption) {
    HWND box = WaitBox(caption, TimeLimit());
    if (!box) throw Error("no box \"" + caption + "\" within " + std::to_string(TimeLimit()) + " ms");
    return OwnerName(box);
}

void ExpectNoBox(const std::string &caption, unsigned ms) {
    if (HWND box = WaitBox(caption, ms))
        throw Error("unexpected box \"" + caption + "\": " + BoxText(box));
}

std::string AnswerFileDialog(const std::string &caption, const std::string &path) {
    HWND dialog = WaitBox(caption, TimeLimit());
    if (!dialog) throw Error("no file dialog \"" + caption + "\" within " + std::to_string(TimeLimit()) + " ms");
    HWND field = nullptr;
    for (int id : kFileNameIds)
        if ((field = GetDlgItem(dialog, id)) != nullptr) break;
    if (!field) throw Error("file dialog \"" + caption + "\" has no file-name field");
    SetText(field, path);
    PressButton(dialog, IDOK);
    HWND question = WaitClosed(dialog);
    return question ? BoxText(question) : std::string();
}

}  // namespace ui
