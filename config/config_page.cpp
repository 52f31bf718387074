// The Kelpro Config page's logic: record to controls and back, set-up and command dispatch.
#include <cstring>

#include "config/config_dlg.h"
#include "res/resource.h"

namespace {

// Check boxes that show one bit of the options byte each. "NRZ I" is bit 2 and
// "No CTRL byte" bit 3 although the page shows "No CTRL byte" first.
struct OptionBox {
    int id;
    uint8_t bit;
};
const OptionBox kOptionBoxes[] = {
    {IDC_CFG_RX_EQUALISE, OPT_RX_EQUALISE},   {IDC_CFG_V22_TX_HIGH, OPT_V22_TX_HIGH},
    {IDC_CFG_NO_CTRL_BYTE, OPT_NO_CTRL_BYTE}, {IDC_CFG_NRZI, OPT_NRZI},
    {IDC_CFG_SEND_32_BITS, OPT_SEND_32_BITS}, {IDC_CFG_SYNC_CLOCK, OPT_SYNC_CLOCK},
    {IDC_CFG_KEEP_SENDING, OPT_KEEP_SENDING},
};

// Plain numbers: edit box, record byte, scale shown on the page, stored range.
struct NumberBox {
    int id;
    size_t byte;
    unsigned scale;  // the box shows byte * scale; the byte is box / scale (integer division)
    unsigned low, high;
};
const NumberBox kNumberBoxes[] = {
    {IDC_CFG_SLAVE_ID, 3, 1, 1, 255},         {IDC_CFG_GENISYS_TIMEOUT, 6, 1, 3, 255},
    {IDC_CFG_POLL_TIME, 4, 10, 10, 255},      {IDC_CFG_RECALL_TIME, 5, 1, 1, 255},
    {IDC_CFG_S2_ID1, 7, 1, 0, 63},            {IDC_CFG_S2_TIMEOUT, 9, 1, 3, 255},
    {IDC_CFG_ISD, 10, 10, 2, 255},
};

// The VF times in units of 6.666666 ms: byte 12 preamble, byte 13 postamble.
struct VfBox {
    int id;
    size_t byte;
};
const VfBox kVfBoxes[] = {{IDC_CFG_PREAMBLE, 12}, {IDC_CFG_POSTAMBLE, 13}};

struct ListContents {
    int id;
    const char *const *items;
    size_t count;
};
const char *const kGenisysBauds[] = {"1200", "2400", "4800", "9600", "19200"};
const char *const kProtocols[] = {"US&S", "GE/Harmon"};
const char *const kDirectBauds[] = {"300/1200",  "600/1200",  "1200/1200",
                                    "2400/2400", "4800/1200", "9600/1200"};
const ListContents kLists[] = {
    {IDC_CFG_GENISYS_BAUD, kGenisysBauds, sizeof kGenisysBauds / sizeof *kGenisysBauds},
    {IDC_CFG_PROTOCOL, kProtocols, sizeof kProtocols / sizeof *kProtocols},
    {IDC_CFG_DIRECT_BAUD, kDirectBauds, sizeof kDirectBauds / sizeof *kDirectBauds},
};

constexpr int kGeHarmonItem = 1;  // list 1028: item 0 "US&S", item 1 "GE/Harmon"

// The whole number is compared before it is narrowed to its byte.
uint8_t Clamp(unsigned value, unsigned low, unsigned high)
{
    if (value < low)
        return static_cast<uint8_t>(low);
    if (value > high)
        return static_cast<uint8_t>(high);
    return static_cast<uint8_t>(value);
}

unsigned VfUnitsToMs(uint8_t units)
{
    return static_cast<unsigned>(units * kVfUnitMs + 0.5);
}

uint8_t VfMsToUnits(unsigned ms)
{
    const double units = ms / kVfUnitMs + 0.5;  // at most about 6.4e8: no overflow in double
    return units >= 255.0 ? 255 : static_cast<uint8_t>(units);
}

// Reads the decimal digits at the start of text; stops at the first other character. A number
// too long to be a rate gives one no table holds.
unsigned long LeadingNumber(const char *text)
{
    unsigned long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<unsigned long>(*text - '0');
        if (value > 99999999ul)
            return 0xFFFFFFFFul;
    }
    return value;
}

}  // namespace

void CConfigDlg::RecordToControls(WindowHandle page)
{
    const uint8_t *b = m_record.bytes();
    for (const NumberBox &n : kNumberBoxes)
        dlg::SetUint(page, n.id, b[n.byte] * n.scale);
    // Item index is the baud index minus one; 0 or above 5 leaves no selection.
    dlg::ComboSetSel(page, IDC_CFG_GENISYS_BAUD, static_cast<int>(m_record.genisysBaud) - 1);
    dlg::ComboSetSel(page, IDC_CFG_PROTOCOL, (m_record.options & OPT_GE_HARMON) ? kGeHarmonItem : 0);

    const bool id2On = m_record.s2Id2 < kS2Id2Off;
    dlg::SetUint(page, IDC_CFG_S2_ID2, id2On ? m_record.s2Id2 : (m_record.s2Id2 & kS2IdMask));
    dlg::Enable(page, IDC_CFG_S2_ID2, id2On);
    dlg::SetChecked(page, IDC_CFG_S2_ID2_ON, id2On);

    ShowDirectBaud(page, m_record.directBaud);
    for (const OptionBox &o : kOptionBoxes)
        dlg::SetChecked(page, o.id, (m_record.options & o.bit) != 0);
    dlg::SetChecked(page, IDC_CFG_SECURE_POLLS, (m_record.genisysOptions & kSecurePolls) != 0);
    for (const VfBox &v : kVfBoxes)
        dlg::SetUint(page, v.id, VfUnitsToMs(b[v.byte]));
}

void CConfigDlg::ControlsToRecord(WindowHandle page)
{
    uint8_t *b = m_record.bytes();
    m_record.options = 0;
    m_record.genisysOptions = 0;
    for (const NumberBox &n : kNumberBoxes)
        b[n.byte] = Clamp(dlg::GetUint(page, n.id) / n.scale, n.low, n.high);
    // No selection reads as -1, so it is stored as the lowest rate index.
    const int baudItem = dlg::ComboGetSel(page, IDC_CFG_GENISYS_BAUD);
    m_record.genisysBaud = Clamp(static_cast<unsigned>(baudItem + 1), 1, 5);
    if (dlg::ComboGetSel(page, IDC_CFG_PROTOCOL) == kGeHarmonItem)
        m_record.options |= OPT_GE_HARMON;

    // The ID box is read even while disabled, so its number stays beside the "off" bit.
    m_record.s2Id2 = Clamp(dlg::GetUint(page, IDC_CFG_S2_ID2), 0, kS2IdMask);
    if (!dlg::IsChecked(page, IDC_CFG_S2_ID2_ON))
        m_record.s2Id2 |= kS2Id2Off;

    m_record.directBaud = ReadDirectBaud(page);
    for (const OptionBox &o : kOptionBoxes)
        if (dlg::IsChecked(page, o.id))
            m_record.options |= o.bit;
    if (dlg::IsChecked(page, IDC_CFG_SECURE_POLLS))
        m_record.genisysOptions |= kSecurePolls;
    for (const VfBox &v : kVfBoxes)
        b[v.byte] = VfMsToUnits(dlg::GetUint(page, v.id));
}

void CConfigDlg::ShowDirectBaud(WindowHandle page, uint8_t code)
{
    dlg::ComboSelectPrefix(page, IDC_CFG_DIRECT_BAUD, config::DirectBaudText(code));
}

uint8_t CConfigDlg::ReadDirectBaud(WindowHandle page)
{
    char text[64];
    dlg::GetText(page, IDC_CFG_DIRECT_BAUD, text, sizeof text);
    return config::DirectBaudCode(LeadingNumber(text));
}

int CConfigDlg::OnInitPage(WindowHandle page)
{
    for (const ListContents &list : kLists)
        for (size_t i = 0; i < list.count; ++i)
            dlg::ComboAdd(page, list.id, list.items[i]);
    // Posted, so the defaults land once the page has finished being created.
    dlg::PostCommand(page, IDC_CFG_DEFAULT);
    m_hwndPage = page;
    return 1;
}

void CConfigDlg::OnCommand(WindowHandle page, uintptr_t command)
{
    struct Command {
        int id;
        void (CConfigDlg::*handler)(WindowHandle);
    };
    static const Command kCommands[] = {
        {IDC_CFG_DEFAULT, &CConfigDlg::OnDefault}, {IDC_CFG_S2_ID2_ON, &CConfigDlg::OnToggleId2},
        {IDC_CFG_SAVE, &CConfigDlg::OnSave},       {IDC_CFG_OPEN, &CConfigDlg::OnOpen},
        {IDC_CFG_WRITE, &CConfigDlg::OnWrite},     {IDC_CFG_READ, &CConfigDlg::OnRead},
    };
    const int id = static_cast<int>(command & 0xFFFF);
    for (const Command &c : kCommands) {
        if (c.id == id) {
            (this->*c.handler)(page);
            return;
        }
    }
}

void CConfigDlg::OnDefault(WindowHandle page)
{
    m_record = config::DefaultRecord();
    RecordToControls(page);
    dlg::SetText(page, IDC_CFG_STATUS, "Set to defaults.");
}

void CConfigDlg::OnToggleId2(WindowHandle page)
{
    dlg::Enable(page, IDC_CFG_S2_ID2, dlg::IsChecked(page, IDC_CFG_S2_ID2_ON));
}
