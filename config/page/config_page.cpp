// The Kelpro Config page's logic: record to controls and back, set-up and command dispatch.
#include "config/page/config_dlg.h"
#include "config/config_fields.h"
#include "res/resource.h"

namespace {

using config::FieldId;

// Each control shows one field of the record; where the field lives, how it converts and the
// range it is stored in come from the field table (config_fields.cpp).
struct FieldControl {
    int id;
    FieldId field;
};

// Edit boxes.
const FieldControl kBoxes[] = {
    {IDC_CFG_SLAVE_ID, config::kFieldSlaveId},
    {IDC_CFG_GENISYS_TIMEOUT, config::kFieldTimeout},
    {IDC_CFG_POLL_TIME, config::kFieldPollTime},
    {IDC_CFG_RECALL_TIME, config::kFieldRecallTime},
    {IDC_CFG_S2_ID1, config::kFieldS2Id1},
    {IDC_CFG_S2_ID2, config::kFieldS2Id2},
    {IDC_CFG_S2_TIMEOUT, config::kFieldS2Timeout},
    {IDC_CFG_ISD, config::kFieldIsd},
    {IDC_CFG_PREAMBLE, config::kFieldPreamble},
    {IDC_CFG_POSTAMBLE, config::kFieldPostamble},
};

// Check boxes. "NRZ I" is bit 2 and "No CTRL byte" bit 3 although the page shows "No CTRL
// byte" first; "ID 2" is ticked when the second S2 ID is polled.
const FieldControl kChecks[] = {
    {IDC_CFG_RX_EQUALISE, config::kFieldRxEqualise},
    {IDC_CFG_V22_TX_HIGH, config::kFieldV22TxHigh},
    {IDC_CFG_NO_CTRL_BYTE, config::kFieldNoCtrlByte},
    {IDC_CFG_NRZI, config::kFieldNrzi},
    {IDC_CFG_SEND_32_BITS, config::kFieldSend32Bits},
    {IDC_CFG_SYNC_CLOCK, config::kFieldSyncClock},
    {IDC_CFG_KEEP_SENDING, config::kFieldKeepSending},
    {IDC_CFG_SECURE_POLLS, config::kFieldSecurePolls},
    {IDC_CFG_S2_ID2_ON, config::kFieldS2Id2On},
};

// Lists selected by the item that names the value. The direct baud list has its own rules
// (ShowDirectBaud, ReadDirectBaud): it is matched by the rate text (config_record.h).
const FieldControl kSelectedLists[] = {
    {IDC_CFG_GENISYS_BAUD, config::kFieldBaud},
    {IDC_CFG_PROTOCOL, config::kFieldProtocol},
};

// Every list, filled with its field's items in order.
const FieldControl kLists[] = {
    {IDC_CFG_GENISYS_BAUD, config::kFieldBaud},
    {IDC_CFG_PROTOCOL, config::kFieldProtocol},
    {IDC_CFG_DIRECT_BAUD, config::kFieldDirectBaud},
};

}  // namespace

void CConfigDlg::RecordToControls(WindowHandle page)
{
    using namespace config;
    for (const FieldControl &c : kBoxes) {
        const Field &f = GetField(c.field);
        dlg::SetUint(page, c.id, static_cast<unsigned>(ShownNumber(f, FieldValue(f, m_record))));
    }
    // A value no item names (a baud index of 0 or above 5) leaves the list with no selection.
    for (const FieldControl &c : kSelectedLists) {
        const Field &f = GetField(c.field);
        dlg::ComboSetSel(page, c.id, ItemIndex(f, FieldValue(f, m_record)));
    }
    for (const FieldControl &c : kChecks) {
        const Field &f = GetField(c.field);
        dlg::SetChecked(page, c.id, IsTicked(f, FieldValue(f, m_record)));
    }
    ShowDirectBaud(page, m_record.directBaud);
    dlg::Enable(page, IDC_CFG_S2_ID2, dlg::IsChecked(page, IDC_CFG_S2_ID2_ON));
}

void CConfigDlg::ControlsToRecord(WindowHandle page)
{
    using namespace config;
    // Every field is set from its control; bits no field holds (byte 1's spare bits) are 0.
    ConfigRecord taken = {};
    // The ID 2 box is read even while disabled, so its number stays beside the "off" bit.
    for (const FieldControl &c : kBoxes) {
        const Field &f = GetField(c.field);
        SetFieldValue(f, taken, ClampToRange(f, TypedToValue(f, dlg::GetUint(page, c.id))));
    }
    // No selection reads as 0, which the clamp brings to the lowest value.
    for (const FieldControl &c : kSelectedLists) {
        const Field &f = GetField(c.field);
        SetFieldValue(f, taken, ClampToRange(f, ItemValue(f, dlg::ComboGetSel(page, c.id))));
    }
    for (const FieldControl &c : kChecks) {
        const Field &f = GetField(c.field);
        SetFieldValue(f, taken, TickedValue(f, dlg::IsChecked(page, c.id)));
    }
    taken.directBaud = ReadDirectBaud(page);
    m_record = taken;
}

void CConfigDlg::ShowDirectBaud(WindowHandle page, uint8_t code)
{
    dlg::ComboSelectPrefix(page, IDC_CFG_DIRECT_BAUD, config::DirectBaudText(code));
}

uint8_t CConfigDlg::ReadDirectBaud(WindowHandle page)
{
    char text[64];
    dlg::GetText(page, IDC_CFG_DIRECT_BAUD, text, sizeof text);
    return config::DirectBaudCodeOfText(text);
}

int CConfigDlg::OnInitPage(WindowHandle page)
{
    for (const FieldControl &list : kLists) {
        const config::Field &f = config::GetField(list.field);
        for (int i = 0; i < f.itemCount; ++i)
            dlg::ComboAdd(page, list.id, f.items[i].text);
    }
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
