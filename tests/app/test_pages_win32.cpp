// The sheet's three pages on real controls under Wine, in a property sheet through their own
// procedures: what every procedure does alike (help, notifications, the colour rule, unknown
// messages), and template 130's counter label, log switches, layout and address field.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/about_dlg.h"
#include "app/pages_win32.h"
#include "comms/page/comms_dlg.h"
#include "config/page/config_dlg.h"
#include "genisys/genisys_protocol.h"
#include "res/maker.h"
#include "res/resource.h"
#include "tests/support/fake_probe.h"
#include "tests/support/fake_shell.h"

namespace {

RECT RectIn(HWND page, HWND w)
{
    RECT r;
    GetWindowRect(w, &r);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT *>(&r), 2);
    return r;
}

std::string TextOf(HWND w)
{
    char text[256] = "";
    GetWindowTextA(w, text, sizeof text);
    return text;
}

// The width a text takes in a control's own font.
LONG TextWidth(HWND control, const char *text)
{
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    SIZE size = {};
    GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return size.cx;
}

struct PageEntry {
    int templateId;
    DLGPROC procedure;
};
const PageEntry kPages[] = {
    {IDD_COMMS, CommsPageProc}, {IDD_CONFIG, ConfigPageProc}, {IDD_ABOUT, AboutPageProc}};
constexpr int kPageCount = sizeof kPages / sizeof kPages[0];

// One sheet for every test: under Wine without a window manager each top-level window that
// goes away costs two seconds.
class SheetPages : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        fake::SetProbeResults({});
        fake::SetShellResult(42);  // the shell opens whatever it is asked to
        theLink.m_slaveToConfig = 1;
        // In a property sheet, as the program shows them: the sheet scales its pages by its
        // own font, so a page alone would measure differently.
        PROPSHEETPAGEA pages[kPageCount];
        for (int i = 0; i < kPageCount; ++i) {
            PROPSHEETPAGEA &p = pages[i];
            p = PROPSHEETPAGEA();
            p.dwSize = sizeof p;
            p.hInstance = GetModuleHandleA(nullptr);
            p.pszTemplate = MAKEINTRESOURCEA(kPages[i].templateId);
            p.pfnDlgProc = kPages[i].procedure;
        }
        PROPSHEETHEADERA h = PROPSHEETHEADERA();
        h.dwSize = sizeof h;
        h.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_NOAPPLYNOW;
        h.pszCaption = "page host";
        h.nPages = kPageCount;
        h.ppsp = pages;
        m_sheet = reinterpret_cast<HWND>(PropertySheetA(&h));
        if (!m_sheet)
            return;
        for (int i = kPageCount - 1; i >= 0; --i)  // shown once, each page exists
            PropSheet_SetCurSel(m_sheet, nullptr, i);
        m_page = PropSheet_IndexToHwnd(m_sheet, 0);
        if (m_page)
            KillTimer(m_page, IDT_AUTO_OPEN);  // no automatic open: no port here to open
    }

    static void TearDownTestSuite()
    {
        DestroyWindow(m_sheet);
        theComms.m_hwndPage = nullptr;
        theConfig = CConfigDlg();
        theAbout.m_hwndPage = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(m_page, nullptr);
        fake::TakeShellOpens();
    }
    void TearDown() override { theLink.m_slaveToConfig = 1; }

    HWND Item(int id) { return GetDlgItem(m_page, id); }  // on the Comms page
    static HWND Page(int index) { return PropSheet_IndexToHwnd(m_sheet, index); }

    static HWND m_sheet;
    static HWND m_page;  // the Comms page
};

HWND SheetPages::m_sheet = nullptr;
HWND SheetPages::m_page = nullptr;

size_t ManualOpens()
{
    size_t n = 0;
    for (const fake::ShellOpen &open : fake::TakeShellOpens())
        n += open.file == "KLP_V2Orizeze.pdf";
    return n;
}

// Each procedure: help from F1 and from the sheet's Help button, every notification answered
// with 1, the button-face colour for the Comms log alone, timers for the Comms page alone.
TEST_F(SheetPages, EveryPageHandlesHelpNotificationsAndColoursAlike)
{
    const struct {
        int index;
        int otherControl;  // a control the colour rule leaves alone
        bool colouredLog;  // the Comms page's log on the button face
        INT_PTR timer;     // what a timer that is not the page's own returns
    } cases[] = {
        {0, IDC_SLAVE_TO_CONFIG, true, TRUE},
        {1, IDC_CFG_SLAVE_ID, false, FALSE},
        {2, IDC_ABOUT_VERSION, false, FALSE},
    };
    const UINT kUnknownTimer = 4242;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.index);
        const DLGPROC proc = kPages[c.index].procedure;
        HWND page = Page(c.index);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(proc(page, WM_HELP, 0, 0), TRUE);
        EXPECT_EQ(ManualOpens(), 1u);
        NMHDR help = {m_sheet, 0, static_cast<UINT>(PSN_HELP)};
        EXPECT_EQ(proc(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&help)), TRUE);
        EXPECT_EQ(ManualOpens(), 1u);
        NMHDR other = {m_sheet, 0, static_cast<UINT>(PSN_SETACTIVE)};
        EXPECT_EQ(proc(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&other)), TRUE);
        EXPECT_EQ(proc(page, WM_USER + 7, 0, 0), FALSE);
        EXPECT_EQ(proc(page, WM_TIMER, kUnknownTimer, 0), c.timer);
        EXPECT_EQ(ManualOpens(), 0u);

        HDC dc = GetDC(page);
        const INT_PTR faceBrush = reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        const WPARAM w = reinterpret_cast<WPARAM>(dc);
        for (UINT message : {WM_CTLCOLOREDIT, WM_CTLCOLORSTATIC}) {
            const LPARAM control = reinterpret_cast<LPARAM>(GetDlgItem(page, c.otherControl));
            EXPECT_EQ(proc(page, message, w, control), 0);
            if (c.colouredLog) {
                const LPARAM log = reinterpret_cast<LPARAM>(GetDlgItem(page, IDC_LOG));
                EXPECT_EQ(proc(page, message, w, log), faceBrush);
                EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_BTNFACE));
            }
        }
        ReleaseDC(page, dc);
    }
}

// The About page's own command: "Visit Website" asks the shell for the maker's address.
TEST_F(SheetPages, AboutPageVisitsTheWebSite)
{
    ASSERT_NE(Page(2), nullptr);
    EXPECT_EQ(AboutPageProc(Page(2), WM_COMMAND, MAKEWPARAM(IDC_ABOUT_WEBSITE, BN_CLICKED), 0),
              TRUE);
    const std::vector<fake::ShellOpen> opens = fake::TakeShellOpens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].file, KLP_MAKER_WEB_ADDRESS);
    EXPECT_EQ(opens[0].owner, reinterpret_cast<WindowHandle>(Page(2)));
}

// Label 1004 shows polls/acks: five digits each fit, and a longer text ends in an ellipsis
// instead of losing its last digits unseen (which would read as a smaller count).
TEST_F(SheetPages, CounterHasRoomForFiveDigitCountsAndMarksLongerOnesCut)
{
    HWND counter = Item(IDC_COUNTERS);
    RECT client;
    GetClientRect(counter, &client);
    EXPECT_LE(TextWidth(counter, "99999/99999"), client.right);
    const LONG style = GetWindowLongA(counter, GWL_STYLE);
    EXPECT_EQ(style & SS_TYPEMASK, SS_LEFT);
    EXPECT_EQ(style & SS_ELLIPSISMASK, SS_ENDELLIPSIS);
    EXPECT_GT(TextWidth(counter, "4294967295/4294967295"), client.right) << "the ellipsis matters";
    EXPECT_EQ(TextOf(counter), "0/0");
}

// The check boxes beside the counter keep their whole text (their own measure of it).
TEST_F(SheetPages, TheLogSwitchesShowTheirWholeText)
{
    const struct {
        int id;
        const char *text;
    } boxes[] = {{IDC_WRITE_LOG_FILE, "Write to CommsLog.txt"}, {IDC_SHOW_POLLS, "Show Polls/ACKs"}};
    for (const auto &b : boxes) {
        SCOPED_TRACE(b.text);
        HWND box = Item(b.id);
        EXPECT_EQ(TextOf(box), b.text);
        SIZE ideal = {};
        ASSERT_TRUE(SendMessageA(box, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));
        RECT client;
        GetClientRect(box, &client);
        EXPECT_LE(ideal.cx, client.right);
        EXPECT_GT(ideal.cx, TextWidth(box, b.text)) << "the ideal size holds the box too";
    }
}

BOOL CALLBACK CollectChild(HWND w, LPARAM list)
{
    reinterpret_cast<std::vector<HWND> *>(list)->push_back(w);
    return TRUE;
}

TEST_F(SheetPages, NothingOverlapsAndEverythingStaysWithinThePage)
{
    std::vector<HWND> children;
    EnumChildWindows(m_page, CollectChild, reinterpret_cast<LPARAM>(&children));
    ASSERT_EQ(children.size(), 12u);  // eight controls with ids, four labels without
    RECT page;
    GetClientRect(m_page, &page);
    for (size_t i = 0; i < children.size(); ++i) {
        const RECT a = RectIn(m_page, children[i]);
        SCOPED_TRACE(GetDlgCtrlID(children[i]));
        EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right <= page.right && a.bottom <= page.bottom);
        for (size_t k = i + 1; k < children.size(); ++k) {
            const RECT b = RectIn(m_page, children[k]);
            RECT both;
            EXPECT_FALSE(IntersectRect(&both, &a, &b)) << "overlaps " << GetDlgCtrlID(children[k]);
        }
    }
}

// Typed into the real field, through the page's procedure: Windows' reading, under Wine too.
TEST_F(SheetPages, SlaveToConfigFieldReadsNumbersAsWindowsDoes)
{
    const struct {
        const char *typed;
        int32_t stored;
    } cases[] = {{"300", 300}, {"-5", 0}, {"4294967295", -1}, {"4294967296", 0}, {"", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        theLink.m_slaveToConfig = 12345;
        SetDlgItemTextA(m_page, IDC_SLAVE_TO_CONFIG, c.typed);  // EN_CHANGE reaches the page
        EXPECT_EQ(theLink.m_slaveToConfig.load(), c.stored);
    }
}

}  // namespace
