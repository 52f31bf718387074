// Template 130 with real controls under Wine, through the page's own procedure: the counter
// label has room for the counts it shows and cuts longer ones visibly, the row it shares
// stays whole, and the "slave to config" field reads numbers as Windows does.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/pages_win32.h"
#include "comms/comms_dlg.h"
#include "genisys/genisys_protocol.h"
#include "res/resource.h"
#include "tests/support/fake_probe.h"

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

// One sheet for every test: under Wine without a window manager each top-level window that
// goes away costs two seconds.
class CommsTemplate : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        fake::SetProbeResults({});
        theLink.m_slaveToConfig = 1;
        // In a property sheet, as the program shows it: the sheet scales its pages by its own
        // font, so a page alone would measure differently.
        PROPSHEETPAGEA p = PROPSHEETPAGEA();
        p.dwSize = sizeof p;
        p.dwFlags = PSP_PREMATURE;
        p.hInstance = GetModuleHandleA(nullptr);
        p.pszTemplate = MAKEINTRESOURCEA(IDD_COMMS);
        p.pfnDlgProc = CommsPageProc;
        PROPSHEETHEADERA h = PROPSHEETHEADERA();
        h.dwSize = sizeof h;
        h.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_NOAPPLYNOW;
        h.pszCaption = "comms page host";
        h.nPages = 1;
        h.ppsp = &p;
        sheet_ = reinterpret_cast<HWND>(PropertySheetA(&h));
        page_ = sheet_ ? PropSheet_IndexToHwnd(sheet_, 0) : nullptr;
        if (page_)
            KillTimer(page_, IDT_AUTO_OPEN);  // no automatic open: no port here to open
    }

    static void TearDownTestSuite()
    {
        DestroyWindow(sheet_);
        theComms.m_hwndPage = nullptr;
    }

    void SetUp() override { ASSERT_NE(page_, nullptr); }
    void TearDown() override { theLink.m_slaveToConfig = 1; }

    HWND Item(int id) { return GetDlgItem(page_, id); }

    static HWND sheet_;
    static HWND page_;
};

HWND CommsTemplate::sheet_ = nullptr;
HWND CommsTemplate::page_ = nullptr;

// Label 1004 shows polls/acks: five digits each fit, and a longer text ends in an ellipsis
// instead of losing its last digits unseen (which would read as a smaller count).
TEST_F(CommsTemplate, CounterHasRoomForFiveDigitCountsAndMarksLongerOnesCut)
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
TEST_F(CommsTemplate, TheLogSwitchesShowTheirWholeText)
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

TEST_F(CommsTemplate, NothingOverlapsAndEverythingStaysWithinThePage)
{
    std::vector<HWND> children;
    EnumChildWindows(page_, CollectChild, reinterpret_cast<LPARAM>(&children));
    ASSERT_EQ(children.size(), 12u);  // eight controls with ids, four labels without
    RECT page;
    GetClientRect(page_, &page);
    for (size_t i = 0; i < children.size(); ++i) {
        const RECT a = RectIn(page_, children[i]);
        SCOPED_TRACE(GetDlgCtrlID(children[i]));
        EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right <= page.right && a.bottom <= page.bottom);
        for (size_t k = i + 1; k < children.size(); ++k) {
            const RECT b = RectIn(page_, children[k]);
            RECT both;
            EXPECT_FALSE(IntersectRect(&both, &a, &b)) << "overlaps " << GetDlgCtrlID(children[k]);
        }
    }
}

// Typed into the real field, through the page's procedure: Windows' reading, under Wine too.
TEST_F(CommsTemplate, SlaveToConfigFieldReadsNumbersAsWindowsDoes)
{
    const struct {
        const char *typed;
        int32_t stored;
    } cases[] = {{"300", 300}, {"-5", 0}, {"4294967295", -1}, {"4294967296", 0}, {"", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        theLink.m_slaveToConfig = 12345;
        SetDlgItemTextA(page_, IDC_SLAVE_TO_CONFIG, c.typed);  // EN_CHANGE reaches the page
        EXPECT_EQ(theLink.m_slaveToConfig.load(), c.stored);
    }
}

}  // namespace
