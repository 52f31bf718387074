// "Read" and "Write": the configuration exchange with the unit, and the frames it answers with.
// Which frame answers which request is decided by the core's exchange (config/exchange.h).
#include <cstdio>

#include "config/page/config_dlg.h"
#include "config/read_response.h"
#include "genisys/genisys_protocol.h"
#include "platform/system.h"
#include "res/resource.h"

namespace {

using config::Verdict;

uint8_t RequestAddress()
{
    return static_cast<uint8_t>(theLink.m_slaveToConfig.load() & 0xFF);
}

struct Arrival {
    CConfigDlg *page;
    const uint8_t *frame;
    uint8_t length;
    uint32_t tick;
};

}  // namespace

void CConfigDlg::OnRead(WindowHandle)
{
    if (m_exchange.SendRead(theLink, RequestAddress())) {
        dlg::SetText(m_hwndPage, IDC_CFG_STATUS, "Sent config read request...");
        return;
    }
    sys::ShowMessage(g_hwndSheet, "Failed to send read request packet", sys::MessageIcon::kError);
    m_exchange.Reopen(config::RequestKind::kRead);  // from when the box was closed
}

void CConfigDlg::OnWrite(WindowHandle)
{
    ControlsToRecord(m_hwndPage);
    RecordToControls(m_hwndPage);  // the page shows exactly what is sent
    SendConfigWrite();
}

void CConfigDlg::SendConfigWrite()
{
    dlg::SetText(m_hwndPage, IDC_CFG_STATUS, "Sending write command.");
    if (m_exchange.SendWrite(theLink, RequestAddress(), m_record))
        return;
    // Otherwise "Sending write command." would stay on the page as if something went out.
    sys::ShowMessage(g_hwndSheet, "Failed to send write request packet", sys::MessageIcon::kError);
    m_exchange.Reopen(config::RequestKind::kWrite);
}

void CConfigDlg::OnConfigFrame(const uint8_t *frame, uint8_t length, uint32_t arrivalTick)
{
    // The arrival tick was taken by the decoder, so time spent waiting for the user-interface
    // thread does not count against the response window.
    Arrival arrival{this, frame, length, arrivalTick};
    sys::RunOnUiThread(&CConfigDlg::HandOffConfigFrame, &arrival);
}

void CConfigDlg::HandOffConfigFrame(void *arg)
{
    const Arrival *a = static_cast<const Arrival *>(arg);
    a->page->HandleConfigFrame(a->frame, a->length, a->tick);
}

void CConfigDlg::HandleConfigFrame(const uint8_t *frame, uint8_t length, uint32_t arrivalTick)
{
    const config::Judgement j = m_exchange.Judge(frame, length, arrivalTick);
    // Other headers, read responses of another length and acknowledgements without an
    // address are ignored without a word.
    if (j.verdict == Verdict::kNotAnAnswer || j.verdict == Verdict::kMalformed)
        return;
    if (j.kind == config::RequestKind::kRead)
        OnReadResponse(frame, j);
    else
        OnWriteAck(j);
}

void CConfigDlg::OnReadResponse(const uint8_t *frame, const config::Judgement &j)
{
    char text[128];
    switch (j.verdict) {
    case Verdict::kAnswer:
        break;
    case Verdict::kRepeat:
        // Two units set alike: the form keeps the first answer, and the technician is told.
        std::snprintf(text, sizeof text, "Two units answered at address %d; the form shows the first.",
                      j.address);
        dlg::SetText(m_hwndPage, IDC_CFG_STATUS, text);
        return;
    default:  // late, unasked, or from a unit that was not asked
        dlg::SetText(m_hwndPage, IDC_CFG_STATUS, "Received unexpected configuration read message.");
        return;
    }
    config::ReadResponse response;
    if (!config::ParseReadResponse(frame, config::kReadResponseLength, &response))
        return;
    std::snprintf(text, sizeof text, "Read complete. (F/W v%d.%d)", response.firmwareMajor,
                  response.firmwareMinor);
    dlg::SetText(m_hwndPage, IDC_CFG_STATUS, text);

    config::DipSwitchText(response, text, sizeof text);
    dlg::SetText(m_hwndPage, IDC_CFG_DIP_SWITCH, text);

    // The unit's bytes are taken as they are; they are clamped when next taken from the page.
    m_record = response.record;
    RecordToControls(m_hwndPage);
}

void CConfigDlg::OnWriteAck(const config::Judgement &j)
{
    char text[128];
    switch (j.verdict) {
    case Verdict::kAnswer:
        dlg::SetText(m_hwndPage, IDC_CFG_STATUS, "Upload completed successfully, sent save/reset.");
        m_exchange.SendCommit(theLink);
        return;
    case Verdict::kRepeat:
        // One write gives at most one commit.
        std::snprintf(text, sizeof text, "Two units acknowledged at address %d; one commit was sent.",
                      j.address);
        dlg::SetText(m_hwndPage, IDC_CFG_STATUS, text);
        return;
    case Verdict::kOtherAddress:
        // Only the unit the write went to may trigger the commit.
        return;
    default:  // late, or no write went out before it
        dlg::SetText(m_hwndPage, IDC_CFG_STATUS, "Received unexpected write complete message.");
        return;
    }
}
