// Template 129 and the page procedure on real controls: every control where the page's table
// puts it, its commands, real clicks, and the common file dialogs.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "app/about_dlg.h"
#include "comms/page/comms_dlg.h"
#include "config/page/config_dlg.h"
#include "genisys/genisys_protocol.h"
#include "platform/file_dialog_win32.h"
#include "app/pages_win32.h"
#include "res/resource.h"
#include "tests/config/page_host.h"

namespace {

enum class Kind { Edit, List, Check, Push, CentredLabel };

struct ControlEntry {
    int id;
    Kind kind;
    const char *label;  // the control's own text (check boxes, buttons)
    const char *group;  // the group box it sits in; "" for none
};

const ControlEntry kControls[] = {
    {IDC_CFG_SLAVE_ID, Kind::Edit, "", "Genisys Protocol"},
    {IDC_CFG_GENISYS_BAUD, Kind::List, "", "Genisys Protocol"},
    {IDC_CFG_GENISYS_TIMEOUT, Kind::Edit, "", "Genisys Protocol"},
    {IDC_CFG_POLL_TIME, Kind::Edit, "", "Genisys Protocol"},
    {IDC_CFG_RECALL_TIME, Kind::Edit, "", "Genisys Protocol"},
    {IDC_CFG_SECURE_POLLS, Kind::Check, "Use secure polls", "Genisys Protocol"},
    {IDC_CFG_PROTOCOL, Kind::List, "", "Genisys Protocol"},
    {IDC_CFG_S2_ID1, Kind::Edit, "", "S2 Protocol"},
    {IDC_CFG_S2_ID2_ON, Kind::Check, "ID 2", "S2 Protocol"},
    {IDC_CFG_S2_ID2, Kind::Edit, "", "S2 Protocol"},
    {IDC_CFG_S2_TIMEOUT, Kind::Edit, "", "S2 Protocol"},
    {IDC_CFG_ISD, Kind::Edit, "", "S2 Protocol"},
    {IDC_CFG_NO_CTRL_BYTE, Kind::Check, "No CTRL byte", "S2 Protocol"},
    {IDC_CFG_NRZI, Kind::Check, "NRZ I", "S2 Protocol"},
    {IDC_CFG_SEND_32_BITS, Kind::Check, "Send 32 bits", "S2 Protocol"},
    {IDC_CFG_KEEP_SENDING, Kind::Check, "Keep sending (zeros) when comms down", ""},
    {IDC_CFG_DIRECT_BAUD, Kind::List, "", "Direct (Async/Sync)"},
    {IDC_CFG_SYNC_CLOCK, Kind::Check, "Sync use clock lines", "Direct (Async/Sync)"},
    {IDC_CFG_V22_TX_HIGH, Kind::Check, "V.22 Tx high/Rx low", "VF (V.22/V.23)"},
    {IDC_CFG_RX_EQUALISE, Kind::Check, "Rx audio equalisation", "VF (V.22/V.23)"},
    {IDC_CFG_PREAMBLE, Kind::Edit, "", "VF (V.22/V.23)"},
    {IDC_CFG_POSTAMBLE, Kind::Edit, "", "VF (V.22/V.23)"},
    {IDC_CFG_DIP_SWITCH, Kind::CentredLabel, "", "Daughter board"},
    {IDC_CFG_STATUS, Kind::CentredLabel, "", ""},
    {IDC_CFG_OPEN, Kind::Push, "Open", ""},
    {IDC_CFG_SAVE, Kind::Push, "Save", ""},
    {IDC_CFG_DEFAULT, Kind::Push, "Default", ""},
    {IDC_CFG_READ, Kind::Push, "Read", ""},
    {IDC_CFG_WRITE, Kind::Push, "Write", ""},
};

// Labels beside the controls, each of which must appear on the page.
const char *const kLabels[] = {
    "Slave ID", "Baud rate", "Timeout", "Sec", "Poll time", "mS", "Recall time",
    "Protocol implimentation", "Slave IDs to poll", "ID 1", "ISD", "Preamble", "Postamble",
};

std::string ClassOf(HWND w)
{
    char name[64] = "";
    GetClassNameA(w, name, sizeof name);
    return name;
}

std::string TextOf(HWND w)
{
    char text[256] = "";
    GetWindowTextA(w, text, sizeof text);
    return text;
}

RECT RectIn(HWND page, HWND w)
{
    RECT r;
    GetWindowRect(w, &r);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT *>(&r), 2);
    return r;
}

bool Inside(const RECT &inner, const RECT &outer)
{
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

class ConfigTemplate : public ::testing::Test {
protected:
    void SetUp() override
    {
        host = MakeConfigPage();
        hwnd = reinterpret_cast<HWND>(host->Handle());
        ASSERT_NE(hwnd, nullptr);
        EnumChildWindows(hwnd, Collect, reinterpret_cast<LPARAM>(this));
    }

    static BOOL CALLBACK Collect(HWND w, LPARAM self)
    {
        ConfigTemplate *t = reinterpret_cast<ConfigTemplate *>(self);
        const LONG style = GetWindowLongA(w, GWL_STYLE);
        if (ClassOf(w) == "Button" && (style & BS_TYPEMASK) == BS_GROUPBOX)
            t->groups[TextOf(w)] = RectIn(t->hwnd, w);
        else if (ClassOf(w) == "Static")
            t->labels.insert(TextOf(w));
        return TRUE;
    }

    std::string GroupOf(HWND w)
    {
        const RECT r = RectIn(hwnd, w);
        for (const auto &g : groups)
            if (Inside(r, g.second))
                return g.first;
        return "";
    }

    std::unique_ptr<PageHost> host;
    HWND hwnd = nullptr;
    std::map<std::string, RECT> groups;
    std::set<std::string> labels;
};

TEST_F(ConfigTemplate, IsThePagesSize)
{
    RECT units = {0, 0, 331, 231};
    MapDialogRect(hwnd, &units);
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);
    char caption[64] = "";
    GetWindowTextA(hwnd, caption, sizeof caption);
    EXPECT_STREQ(caption, "Kelpro Config");
}

TEST_F(ConfigTemplate, EveryControlHasItsKindLabelAndGroup)
{
    EXPECT_EQ(groups.size(), 5u);
    for (const ControlEntry &c : kControls) {
        SCOPED_TRACE(c.id);
        HWND w = GetDlgItem(hwnd, c.id);
        ASSERT_NE(w, nullptr);
        const LONG style = GetWindowLongA(w, GWL_STYLE);
        switch (c.kind) {
        case Kind::Edit:
            EXPECT_EQ(ClassOf(w), "Edit");
            EXPECT_EQ(style & (ES_NUMBER | ES_RIGHT | ES_AUTOHSCROLL), ES_NUMBER | ES_RIGHT | ES_AUTOHSCROLL);
            break;
        case Kind::List:
            EXPECT_EQ(ClassOf(w), "ComboBox");
            EXPECT_EQ(style & 3, CBS_DROPDOWNLIST);
            EXPECT_EQ(style & CBS_SORT, 0);
            break;
        case Kind::Check:
            EXPECT_EQ(ClassOf(w), "Button");
            EXPECT_EQ(style & BS_TYPEMASK, BS_AUTOCHECKBOX);
            break;
        case Kind::Push:
            EXPECT_EQ(ClassOf(w), "Button");
            EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);
            break;
        case Kind::CentredLabel:
            EXPECT_EQ(ClassOf(w), "Static");
            EXPECT_EQ(style & SS_TYPEMASK, SS_CENTER);
            break;
        }
        if (c.label[0]) {
            EXPECT_EQ(TextOf(w), c.label);
        }
        EXPECT_EQ(GroupOf(w), c.group);
    }
    for (const char *label : kLabels)
        EXPECT_TRUE(labels.count(label)) << label;
}

TEST_F(ConfigTemplate, KeepSendingSitsJustBelowTheS2Group)
{
    const RECT box = RectIn(hwnd, GetDlgItem(hwnd, IDC_CFG_KEEP_SENDING));
    ASSERT_TRUE(groups.count("S2 Protocol"));
    const RECT s2 = groups["S2 Protocol"];
    EXPECT_GE(box.top, s2.bottom);
    EXPECT_LT(box.top - s2.bottom, (s2.bottom - s2.top) / 4);
    EXPECT_LT(box.left, s2.right);
    EXPECT_GE(box.right, s2.left);
}

TEST_F(ConfigTemplate, NoCtrlByteStandsAboveNrzI)
{
    const RECT noCtrl = RectIn(hwnd, GetDlgItem(hwnd, IDC_CFG_NO_CTRL_BYTE));
    const RECT nrzi = RectIn(hwnd, GetDlgItem(hwnd, IDC_CFG_NRZI));
    EXPECT_LE(noCtrl.bottom, nrzi.top);
}

// Help and the other messages every page shares are tests/app's; here the page's own command.
TEST_F(ConfigTemplate, ProcedureHandsCommandsToThePage)
{
    SetDlgItemTextA(hwnd, IDC_CFG_STATUS, "");
    SetDlgItemTextA(hwnd, IDC_CFG_SLAVE_ID, "77");
    EXPECT_EQ(ConfigPageProc(hwnd, WM_COMMAND, MAKEWPARAM(IDC_CFG_DEFAULT, BN_CLICKED), 0), 1);
    EXPECT_EQ(GetDlgItemInt(hwnd, IDC_CFG_SLAVE_ID, nullptr, FALSE), 1u);
    char status[64];
    GetDlgItemTextA(hwnd, IDC_CFG_STATUS, status, sizeof status);
    EXPECT_STREQ(status, "Set to defaults.");
}

TEST_F(ConfigTemplate, ClickingId2EnablesItsBox)
{
    HWND box = GetDlgItem(hwnd, IDC_CFG_S2_ID2_ON);
    ASSERT_EQ(IsDlgButtonChecked(hwnd, IDC_CFG_S2_ID2_ON), BST_CHECKED);
    SendMessageA(box, BM_CLICK, 0, 0);
    host->DeliverPosted();
    EXPECT_EQ(IsDlgButtonChecked(hwnd, IDC_CFG_S2_ID2_ON), BST_UNCHECKED);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, IDC_CFG_S2_ID2)));
    SendMessageA(box, BM_CLICK, 0, 0);
    host->DeliverPosted();
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDC_CFG_S2_ID2)));
}

// Drives a common file dialog from another thread: waits for its window, types a name, OKs.
class DialogDriver {
public:
    DialogDriver(const char *title, std::string name) : m_title(title), m_name(std::move(name))
    {
        m_thread = std::thread([this] { Run(); });
    }
    ~DialogDriver() { m_thread.join(); }
    bool found() const { return m_found; }

private:
    void Run()
    {
        // Shown means initialised: the dialog becomes visible after WM_INITDIALOG.
        HWND dialog = nullptr;
        for (int i = 0; i < 300; ++i) {  // at most 30 s
            dialog = FindWindowA(nullptr, m_title);
            if (dialog && IsWindowVisible(dialog))
                break;
            Sleep(100);
        }
        if (!dialog || !IsWindowVisible(dialog))
            return;
        m_found = true;
        const int nameControls[] = {0x47c /* cmb13 */, 0x480 /* edt1 */};
        for (int id : nameControls)
            if (HWND edit = GetDlgItem(dialog, id))
                SetWindowTextA(edit, m_name.c_str());
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        for (int i = 0; i < 100 && IsWindow(dialog); ++i)  // at most 10 s, then give up on it
            Sleep(100);
        if (IsWindow(dialog))
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }

    const char *m_title;
    std::string m_name;
    std::atomic<bool> m_found{false};
    std::thread m_thread;
};

std::string TempDir()
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return dir;
}

TEST_F(ConfigTemplate, SaveDialogAddsTheDefaultExtension)
{
    const std::string base = TempDir() + "klp-browse-save";
    char path[CConfigDlg::kPathSize] = "unchanged";
    char *chosen;
    {
        DialogDriver driver("Save config file", base);
        chosen = theConfig.BrowseConfigFile(host->Handle(), path, CConfigDlg::kBrowseSave);
    }
    ASSERT_EQ(chosen, path);
    EXPECT_STRCASEEQ(path, (base + ".klp").c_str());
}

TEST_F(ConfigTemplate, OpenDialogReturnsAnExistingFile)
{
    const std::string file = TempDir() + "klp-browse-open.klp";
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    char path[CConfigDlg::kPathSize] = "";
    char *chosen;
    {
        DialogDriver driver("Open config file", file);
        chosen = theConfig.BrowseConfigFile(host->Handle(), path, CConfigDlg::kBrowseOpen);
    }
    DeleteFileA(file.c_str());
    ASSERT_EQ(chosen, path);
    EXPECT_STRCASEEQ(path, file.c_str());
}

// What the page hands the common dialogs, from the code that runs them: filter, title, flags
// and which dialog.
TEST_F(ConfigTemplate, FileDialogSettings)
{
    struct Case {
        int mode;
        const char *title;
        DWORD flags;
        bool save;
    };
    const Case cases[] = {
        {CConfigDlg::kBrowseOpen, "Open config file", OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, false},
        {CConfigDlg::kBrowseSave, "Save config file",
         OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_CREATEPROMPT | OFN_NOREADONLYRETURN, true},
    };
    // Text and pattern pairs, closed by an empty text: the array's own zero makes the second.
    const char filter[] = "Config Files (*.klp)\0*.KLP\0All Files (*.*)\0*.*\0";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.title);
        char file[CConfigDlg::kPathSize];
        char title[CConfigDlg::kPathSize];
        std::memset(file, 'x', sizeof file);
        std::memset(title, 'x', sizeof title);
        BrowseDialog dialog;
        std::memset(&dialog.ofn, 0x5A, sizeof dialog.ofn);  // every field is set, none left over
        dialog.save = !c.save;
        ASSERT_TRUE(MakeBrowseDialog(hwnd, c.mode, file, title, dialog));
        const OPENFILENAMEA &ofn = dialog.ofn;
        EXPECT_EQ(dialog.save, c.save);
        EXPECT_EQ(ofn.lStructSize, sizeof(OPENFILENAMEA));
        EXPECT_EQ(ofn.hwndOwner, hwnd);
        EXPECT_EQ(ofn.hInstance, nullptr);
        EXPECT_EQ(std::string(ofn.lpstrFilter, sizeof filter), std::string(filter, sizeof filter));
        EXPECT_EQ(ofn.nFilterIndex, 1u);
        EXPECT_EQ(ofn.lpstrFile, file);
        EXPECT_EQ(ofn.nMaxFile, 260u);
        EXPECT_EQ(file[0], '\0');
        EXPECT_EQ(ofn.lpstrFileTitle, title);
        EXPECT_EQ(ofn.nMaxFileTitle, 260u);
        EXPECT_EQ(title[0], '\0');
        EXPECT_STREQ(ofn.lpstrInitialDir, "");
        EXPECT_STREQ(ofn.lpstrTitle, c.title);
        EXPECT_EQ(ofn.Flags, c.flags);
        EXPECT_STREQ(ofn.lpstrDefExt, "klp");
        EXPECT_EQ(ofn.lpfnHook, nullptr);
        EXPECT_EQ(ofn.lpTemplateName, nullptr);
    }
}

TEST_F(ConfigTemplate, UnknownBrowseModeShowsNoDialog)
{
    char path[CConfigDlg::kPathSize] = "unchanged";
    for (int mode : {0, 3, -1})
        EXPECT_EQ(theConfig.BrowseConfigFile(host->Handle(), path, mode), nullptr);
    EXPECT_STREQ(path, "unchanged");
}

}  // namespace
