// The sheet, its pages and their controls, reached across processes with window messages.
#include "ui_windows.h"

#include <commctrl.h>
#include <prsht.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <thread>

namespace ui {

const char kSheetCaption[] = "Kelpro (S2 to Genisys, 2 x 64 bit version)";
const char kBoxCaption[] = "Kelpro - Config S2-QTX";

namespace {

unsigned g_timeLimit = 5000;
const unsigned kPollMs = 20;

using Clock = std::chrono::steady_clock;

Clock::time_point Deadline() { return Clock::now() + std::chrono::milliseconds(g_timeLimit); }

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs)); }

std::string ClassOf(HWND hwnd) {
    char name[64] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

struct SheetSearch {
    std::vector<HWND> found;
};

BOOL CALLBACK CollectSheet(HWND hwnd, LPARAM lp) {
    auto *search = reinterpret_cast<SheetSearch *>(lp);
    char caption[128] = "";
    GetWindowTextA(hwnd, caption, sizeof caption);
    if (ClassOf(hwnd) == "#32770" && std::string(caption) == kSheetCaption)
        search->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> Sheets() {
    SheetSearch search;
    EnumWindows(CollectSheet, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int ParseNumber(const std::string &text, const char *what) {
    char *end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') throw Error(std::string("not a ") + what + ": '" + text + "'");
    return static_cast<int>(value);
}

HWND PageWindow(HWND sheet, int index) {
    HWND page = reinterpret_cast<HWND>(Send(sheet, PSM_INDEXTOHWND, index, 0));
    if (!page) throw Error("page " + std::to_string(index) + " does not exist yet (select it first)");
    return page;
}

bool Matches(const std::string &text, Match how, const std::string &want) {
    switch (how) {
    case Match::kIs: return text == want;
    case Match::kHas: return text.find(want) != std::string::npos;
    case Match::kRegex: return std::regex_search(text, std::regex(want));
    }
    return false;
}

}  // namespace

void SetTimeLimit(unsigned ms) { g_timeLimit = ms; }
unsigned TimeLimit() { return g_timeLimit; }

LRESULT Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_NORMAL, g_timeLimit, &result))
        throw Error("message " + std::to_string(msg) + " not answered within " +
                    std::to_string(g_timeLimit) + " ms");
    return static_cast<LRESULT>(result);
}

// Texts cross the process boundary as UTF-16: Wine converts 8-bit texts of WM_GETTEXT but
// not of CB_GETLBTEXT between processes. The program's texts are 8-bit in the ANSI code page.
std::wstring Wide(const std::string &text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string Narrow(const std::wstring &wide) {
    if (wide.empty()) return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
    return text;
}

void SetText(HWND hwnd, const std::string &text) {
    std::wstring wide = Wide(text);
    if (!Send(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()))) throw Error("the window refused the text");
}

void Post(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (!PostMessageA(hwnd, msg, wp, lp)) throw Error("could not post message " + std::to_string(msg));
}

HWND FindSheet(bool wait) {
    auto deadline = Deadline();
    for (;;) {
        std::vector<HWND> sheets = Sheets();
        if (!sheets.empty()) return sheets.front();
        if (!wait || Clock::now() >= deadline) throw Error("no window \"" + std::string(kSheetCaption) + "\"");
        Pause();
    }
}

int CountSheets() { return static_cast<int>(Sheets().size()); }

unsigned WaitSheetGone() {
    auto start = Clock::now();
    auto deadline = Deadline();
    while (!Sheets().empty()) {
        if (Clock::now() >= deadline) throw Error("the sheet is still there after " + std::to_string(g_timeLimit) + " ms");
        Pause();
    }
    return static_cast<unsigned>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

Target Resolve(const std::string &address) {
    std::string where = address, id;
    size_t colon = address.find(':');
    if (colon != std::string::npos) {
        where = address.substr(0, colon);
        id = address.substr(colon + 1);
    }
    HWND sheet = FindSheet(true);
    Target target;
    HWND dialog = where == "sheet" ? sheet : PageWindow(sheet, ParseNumber(where, "page number"));
    if (id.empty()) {
        target.window = dialog;
        target.parent = where == "sheet" ? nullptr : sheet;
        return target;
    }
    target.id = ParseNumber(id, "control id");
    target.parent = dialog;
    target.window = GetDlgItem(dialog, target.id);
    if (!target.window) throw Error("no control " + id + " in " + where);
    return target;
}

int CurrentPage() {
    HWND sheet = FindSheet(true);
    HWND page = reinterpret_cast<HWND>(Send(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    return static_cast<int>(Send(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page), 0));
}

void SelectPage(int index) {
    HWND sheet = FindSheet(true);
    if (!Send(sheet, PSM_SETCURSEL, index, 0)) throw Error("the sheet refused page " + std::to_string(index));
}

std::string Text(HWND hwnd) {
    LRESULT length = Send(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = Send(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(got));
    return Narrow(text);
}

std::vector<std::string> ComboItems(HWND combo) {
    std::vector<std::string> items;
    LRESULT count = Send(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = Send(combo, CB_GETLBTEXTLEN, i, 0);
        std::wstring item(static_cast<size_t>(length < 0 ? 0 : length) + 1, L'\0');
        LRESULT got = Send(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&item[0]));
        item.resize(got < 0 ? 0 : static_cast<size_t>(got));
        items.push_back(Narrow(item));
    }
    return items;
}

std::string WaitText(const std::string &address, Match how, const std::string &want) {
    auto deadline = Deadline();
    std::string text;
    for (;;) {
        try {
            text = Text(Resolve(address).window);
            if (Matches(text, how, want)) return text;
        } catch (const Error &e) {
            text = std::string("(") + e.what() + ")";  // not there yet: keep waiting
        }
        if (Clock::now() >= deadline) {
            if (text.size() > 2000) text = "..." + text.substr(text.size() - 2000);
            throw Error("after " + std::to_string(g_timeLimit) + " ms " + address + " reads \"" + text + "\"");
        }
        Pause();
    }
}

std::vector<std::string> DescribeChildren(HWND parent) {
    std::vector<std::string> lines;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char line[512];
        std::snprintf(line, sizeof line, "%d %s %s %s %s", GetDlgCtrlID(child), ClassOf(child).c_str(),
                      IsWindowVisible(child) ? "visible" : "hidden",
                      IsWindowEnabled(child) ? "enabled" : "disabled", Text(child).c_str());
        lines.push_back(line);
    }
    return lines;
}

std::string DescribeRect(HWND hwnd) {
    RECT r;
    if (!GetWindowRect(hwnd, &r)) throw Error("no window rectangle");
    char text[96];
    std::snprintf(text, sizeof text, "%ld %ld %ld %ld", static_cast<long>(r.left), static_cast<long>(r.top),
                  static_cast<long>(r.right), static_cast<long>(r.bottom));
    return text;
}

}  // namespace ui
