// UI driver: operates the running program's property sheet from another process, one command
// per invocation or a script of commands on standard input (see Usage below).
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "ui_windows.h"

namespace {

// Sent by the system for the F1 key; not in the public headers.
const UINT kKeyF1Message = 0x004D;

const char kUsage[] =
    "usage: uidriver [--timeout MS] COMMAND [ARGS...]   one command\n"
    "       uidriver [--timeout MS] -                   commands from standard input\n"
    "\n"
    "TARGET names a window: sheet, sheet:ID, PAGE or PAGE:ID (PAGE counts from 0; the\n"
    "page must have been shown once). TEXT is the rest of the line. Every wait and every\n"
    "message to the program is bounded by the time limit (default 5000 ms).\n"
    "\n"
    "Commands:\n"
    "%s"
    "\n"
    "One command: its output on stdout; on failure a message on stderr and exit code 1\n"
    "(2 for a usage error). Script mode answers each input line with one line:\n"
    "  ok<TAB>MS<TAB>OUTPUT    or    fail<TAB>MS<TAB>MESSAGE\n"
    "where MS is the time the command took and OUTPUT has \\\\, \\n, \\r and \\t escaped.\n";

struct Args {
    std::vector<std::string> words;  // the fixed arguments
    std::string rest;                // TEXT, when the command takes one
};

typedef std::string (*Handler)(const Args &);

struct Command {
    const char *name;
    int words;      // fixed arguments
    int optional;   // how many of the fixed arguments may be left out (from the end)
    bool rest;      // takes TEXT
    const char *synopsis;
    Handler run;
};

unsigned Number(const std::string &text) {
    char *end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') throw ui::Error("not a number: '" + text + "'");
    return static_cast<unsigned>(value);
}

std::string JoinLines(const std::vector<std::string> &lines) {
    std::string out;
    for (const std::string &line : lines) out += (out.empty() ? "" : "\n") + line;
    return out;
}

ui::Target Control(const std::string &address) {
    ui::Target target = ui::Resolve(address);
    if (!target.id) throw ui::Error(address + " is not a control (use PAGE:ID or sheet:ID)");
    return target;
}

void Notify(const ui::Target &target, WORD code) {
    ui::Post(target.parent, WM_COMMAND, MAKEWPARAM(target.id, code), reinterpret_cast<LPARAM>(target.window));
}

std::string DoSheets(const Args &) { return std::to_string(ui::CountSheets()); }

std::string DoWaitSheet(const Args &) {
    ui::FindSheet(true);
    return "";
}

std::string DoGone(const Args &) { return std::to_string(ui::WaitSheetGone()); }

std::string DoPage(const Args &a) {
    if (a.words.empty()) return std::to_string(ui::CurrentPage());
    ui::SelectPage(static_cast<int>(Number(a.words[0])));
    return "";
}

std::string DoControls(const Args &a) { return JoinLines(ui::DescribeChildren(ui::Resolve(a.words[0]).window)); }

std::string DoText(const Args &a) { return ui::Text(ui::Resolve(a.words[0]).window); }

std::string DoItems(const Args &a) { return JoinLines(ui::ComboItems(Control(a.words[0]).window)); }

std::string DoState(const Args &a) {
    HWND hwnd = ui::Resolve(a.words[0]).window;
    LRESULT check = ui::Send(hwnd, BM_GETCHECK, 0, 0);
    return std::string(IsWindowVisible(hwnd) ? "visible" : "hidden") +
           (IsWindowEnabled(hwnd) ? " enabled" : " disabled") + (check == BST_CHECKED ? " checked" : " unchecked");
}

std::string DoRect(const Args &a) { return ui::DescribeRect(ui::Resolve(a.words[0]).window); }

std::string DoScreen(const Args &) {
    return std::to_string(GetSystemMetrics(SM_CXSCREEN)) + " " + std::to_string(GetSystemMetrics(SM_CYSCREEN));
}

// A click is posted: the handler may open a modal box, and a sent click would wait for it.
std::string DoClick(const Args &a) {
    ui::Target target = ui::Resolve(a.words[0]);
    if (!target.id) throw ui::Error(a.words[0] + " is not a control");
    Notify(target, BN_CLICKED);
    return "";
}

// Selects the item as a user's pick does: the selection changes, then the dialog hears of it.
std::string DoPick(const Args &a) {
    ui::Target target = Control(a.words[0]);
    std::vector<std::string> items = ui::ComboItems(target.window);
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] != a.rest) continue;
        if (ui::Send(target.window, CB_SETCURSEL, i, 0) == CB_ERR) throw ui::Error("the list refused the pick");
        Notify(target, CBN_SELCHANGE);
        return "";
    }
    throw ui::Error("no item \"" + a.rest + "\" in " + a.words[0] + " (items: " + JoinLines(items) + ")");
}

std::string DoCheck(const Args &a) {
    ui::Target target = Control(a.words[0]);
    bool on = a.words[1] == "on";
    if (!on && a.words[1] != "off") throw ui::Error("check takes on or off");
    bool was = ui::Send(target.window, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (was == on) return "";
    ui::Send(target.window, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    // Sent, as the button itself sends it: when the command returns, the page has taken the
    // new state (a check box never opens a modal box that would hold the driver).
    ui::Send(target.parent, WM_COMMAND, MAKEWPARAM(target.id, BN_CLICKED),
             reinterpret_cast<LPARAM>(target.window));
    return "";
}

// WM_SETTEXT on a single-line edit makes the control itself send EN_CHANGE, as typing does.
std::string DoType(const Args &a) {
    ui::SetText(Control(a.words[0]).window, a.rest);
    return "";
}

std::string DoWait(const Args &a) {
    static const struct { const char *name; ui::Match how; } kOps[] = {
        {"is", ui::Match::kIs}, {"has", ui::Match::kHas}, {"re", ui::Match::kRegex}};
    for (const auto &op : kOps)
        if (a.words[1] == op.name) return ui::WaitText(a.words[0], op.how, a.rest);
    throw ui::Error("wait takes is, has or re");
}

// F1 as the window manager delivers it: WM_KEYF1 to the window with the focus (or the target),
// which the default window procedure turns into WM_HELP for its dialog.
std::string DoHelp(const Args &a) {
    HWND hwnd = nullptr;
    if (!a.words.empty()) {
        hwnd = ui::Resolve(a.words[0]).window;
    } else {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        DWORD thread = GetWindowThreadProcessId(ui::FindSheet(true), nullptr);
        if (GetGUIThreadInfo(thread, &info)) hwnd = info.hwndFocus;
        if (!hwnd) hwnd = ui::Resolve(std::to_string(ui::CurrentPage())).window;
    }
    ui::Post(hwnd, kKeyF1Message, 0, 0);
    return "";
}

std::string DoBoxes(const Args &) {
    std::vector<std::string> lines;
    for (const ui::BoxInfo &box : ui::OpenBoxes()) lines.push_back(box.caption + " | " + box.owner + " | " + box.text);
    return JoinLines(lines);
}

std::string DoBox(const Args &a) {
    return ui::AnswerBox(a.rest.empty() ? ui::kBoxCaption : a.rest, IDOK).text;
}

std::string DoAnswer(const Args &a) {
    return ui::AnswerBox(a.rest.empty() ? ui::kBoxCaption : a.rest, static_cast<int>(Number(a.words[0]))).text;
}

std::string DoOwner(const Args &a) { return ui::BoxOwner(a.rest.empty() ? ui::kBoxCaption : a.rest); }

std::string DoNoBox(const Args &a) {
    ui::ExpectNoBox(a.rest.empty() ? ui::kBoxCaption : a.rest, Number(a.words[0]));
    return "";
}

std::string DoOpen(const Args &a) { return ui::AnswerFileDialog("Open config file", a.rest); }
std::string DoSave(const Args &a) { return ui::AnswerFileDialog("Save config file", a.rest); }

// What the program's process holds, for the soak's growth checks. Counts the platform cannot
// give read as -1.
std::string DoResources(const Args &) {
    DWORD pid = 0;
    GetWindowThreadProcessId(ui::FindSheet(true), &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) throw ui::Error("cannot open the program's process: error " + std::to_string(GetLastError()));
    DWORD handles = 0;
    long long handleCount = GetProcessHandleCount(process, &handles) ? static_cast<long long>(handles) : -1;
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    bool haveMemory = GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&memory), sizeof memory);
    char text[256];
    std::snprintf(text, sizeof text, "pid=%lu handles=%lld gdi=%lu user=%lu private=%lld workingset=%lld",
                  static_cast<unsigned long>(pid), handleCount,
                  static_cast<unsigned long>(GetGuiResources(process, GR_GDIOBJECTS)),
                  static_cast<unsigned long>(GetGuiResources(process, GR_USEROBJECTS)),
                  haveMemory ? static_cast<long long>(memory.PrivateUsage) : -1LL,
                  haveMemory ? static_cast<long long>(memory.WorkingSetSize) : -1LL);
    CloseHandle(process);
    return text;
}

std::string DoTimeout(const Args &a) {
    ui::SetTimeLimit(Number(a.words[0]));
    return "";
}

std::string DoPause(const Args &a) {
    unsigned ms = Number(a.words[0]);
    if (ms > 600000) throw ui::Error("pause at most 600000 ms");
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return "";
}

const Command kCommands[] = {
    {"sheets", 0, 0, false, "sheets                  number of sheets open now", DoSheets},
    {"wait-sheet", 0, 0, false, "wait-sheet              wait until the sheet exists", DoWaitSheet},
    {"gone", 0, 0, false, "gone                    wait until no sheet is left; prints ms", DoGone},
    {"page", 1, 1, false, "page [N]                select page N, or print the current page", DoPage},
    {"controls", 1, 0, false, "controls TARGET         child windows: id class visible enabled text", DoControls},
    {"text", 1, 0, false, "text TARGET             the window's text (a list: the selected item)", DoText},
    {"items", 1, 0, false, "items TARGET            the items of a drop-down list, one a line", DoItems},
    {"state", 1, 0, false, "state TARGET            visible|hidden enabled|disabled checked|unchecked", DoState},
    {"rect", 1, 0, false, "rect TARGET             screen rectangle: left top right bottom", DoRect},
    {"screen", 0, 0, false, "screen                  screen width and height", DoScreen},
    {"click", 1, 0, false, "click TARGET            post a button click (BN_CLICKED)", DoClick},
    {"pick", 1, 0, true, "pick TARGET TEXT        select the list item TEXT and send CBN_SELCHANGE", DoPick},
    {"check", 2, 0, false, "check TARGET on|off     set a check box as a click would, then BN_CLICKED", DoCheck},
    {"type", 1, 0, true, "type TARGET TEXT        set an edit field's text (the field sends EN_CHANGE)", DoType},
    {"wait", 2, 0, true, "wait TARGET is|has|re TEXT  wait until the text equals/contains/matches", DoWait},
    {"help", 1, 1, false, "help [TARGET]           press F1 (on the focused window by default)", DoHelp},
    {"boxes", 0, 0, false, "boxes                   open dialog boxes: caption | owner | text", DoBoxes},
    {"box", 0, 0, true, "box [CAPTION]           wait for a message box, print its text, press OK", DoBox},
    {"answer", 1, 0, true, "answer BUTTON [CAPTION] wait for a box, print its text, press button id", DoAnswer},
    {"owner", 0, 0, true, "owner [CAPTION]         wait for a box and name its owner: sheet, none or a caption", DoOwner},
    {"no-box", 1, 0, true, "no-box MS [CAPTION]     fail if a box appears within MS", DoNoBox},
    {"open", 0, 0, true, "open PATH               answer \"Open config file\" with PATH", DoOpen},
    {"save", 0, 0, true, "save PATH               answer \"Save config file\"; prints a question it asks", DoSave},
    {"resources", 0, 0, false, "resources               the program's handles, GDI/USER objects and memory", DoResources},
    {"timeout", 1, 0, false, "timeout MS              set the time limit", DoTimeout},
    {"pause", 1, 0, false, "pause MS                wait MS (at most 600000)", DoPause},
};

const Command *FindCommand(const std::string &name) {
    for (const Command &c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

void PrintUsage(FILE *to) {
    std::string list;
    for (const Command &c : kCommands) list += std::string("  ") + c.synopsis + "\n";
    std::fprintf(to, kUsage, list.c_str());
}

// Splits the words off the front of a line; TEXT is what remains, as it stands.
Args SplitLine(const Command &c, const std::string &line, size_t from) {
    Args args;
    size_t pos = from;
    for (int i = 0; i < c.words; ++i) {
        pos = line.find_first_not_of(' ', pos);
        if (pos == std::string::npos) break;
        size_t end = line.find(' ', pos);
        args.words.push_back(line.substr(pos, end - pos));
        pos = end;
        if (end == std::string::npos) break;
    }
    if (c.rest && pos != std::string::npos && pos < line.size()) args.rest = line.substr(pos + 1);
    return args;
}

void CheckCount(const Command &c, const Args &args) {
    if (static_cast<int>(args.words.size()) < c.words - c.optional)
        throw ui::Error(std::string("usage: ") + c.synopsis);
}

std::string Escape(const std::string &text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += ch;
        }
    }
    return out;
}

int RunScript() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos || line[start] == '#') continue;
        size_t end = line.find(' ', start);
        std::string name = line.substr(start, end - start);
        auto begun = std::chrono::steady_clock::now();
        std::string status = "ok", output;
        try {
            const Command *c = FindCommand(name);
            if (!c) throw ui::Error("unknown command " + name);
            Args args = SplitLine(*c, line, end == std::string::npos ? line.size() : end);
            CheckCount(*c, args);
            output = c->run(args);
        } catch (const std::exception &e) {
            status = "fail";
            output = e.what();
        }
        long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begun).count();
        std::printf("%s\t%lld\t%s\n", status.c_str(), ms, Escape(output).c_str());
        std::fflush(stdout);
    }
    return 0;
}

int RunOne(int argc, char **argv, int first) {
    const Command *c = FindCommand(argv[first]);
    if (!c) {
        std::fprintf(stderr, "uidriver: unknown command %s\n", argv[first]);
        return 2;
    }
    Args args;
    int i = first + 1;
    for (; i < argc && static_cast<int>(args.words.size()) < c->words; ++i) args.words.push_back(argv[i]);
    for (; c->rest && i < argc; ++i) args.rest += (args.rest.empty() ? "" : " ") + std::string(argv[i]);
    if (i < argc || static_cast<int>(args.words.size()) < c->words - c->optional) {
        std::fprintf(stderr, "usage: uidriver %s\n", c->synopsis);
        return 2;
    }
    try {
        std::string output = c->run(args);
        if (!output.empty()) std::printf("%s\n", output.c_str());
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "uidriver: %s\n", e.what());
        return 1;
    }
}

}  // namespace

int main(int argc, char **argv) {
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--timeout") == 0) {
        ui::SetTimeLimit(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
        first = 3;
    }
    if (first >= argc || std::strcmp(argv[first], "--help") == 0 || std::strcmp(argv[first], "-h") == 0) {
        PrintUsage(first >= argc ? stderr : stdout);
        return first >= argc ? 2 : 0;
    }
    if (std::strcmp(argv[first], "-") == 0) return RunScript();
    return RunOne(argc, argv, first);
}
