// "Read" and "Write": the configuration exchange with the unit, and the frames it answers with.
#include <cstdio>

#include "config/config_dlg.h"
#include "config/read_response.h"
#include "genisys/genisys_protocol.h"
#include "platform/system.h"
#include "res/resource.h"

namespace {

// Every configuration request carries a CRC with the configuration marker and is logged.
constexpr int kConfigSend = genisys::SEND_CRC | genisys::SEND_CONFIG;

constexpr size_t kAckAddress = 1;  // the acknowledging unit's address in its frame

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
    m_sendTick = sys::TickCount();
    if (theLink.SendFrame(genisys::kHdrPoll, RequestAddress(), nullptr, 0, kConfigSend))
        dlg::SetText(m_hwndPage, IDC_CFG_STATUS, "Sent config read request...");
    else
        sys::ShowMessage(g_hwndSheet, "Failed to send read request packet", sys::ICON_ERROR);
    m_readPending = 1;
    m_requestTick = sys::TickCount();
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
    m_sendTick = sys::TickCount();
    const int sent = theLink.SendFrame(genisys::kHdrControl, RequestAddress(), m_record.bytes(),
                                       static_cast<int>(ConfigRecord::kSize), kConfigSend);
    // Otherwise "Sending write command." would stay on the page as if something went out.
    if (!sent)
        sys::ShowMessage(g_hwndSheet, "Failed to send write request packet", sys::ICON_ERROR);
    m_writePending = 1;
    m_requestTick = sys::TickCount();
}

bool CConfigDlg::InResponseWindow(uint32_t arrival) const
{
    // Less than 1000 ms after the request's tick; an answer that arrived while the request
    // was still being sent counts too. Unsigned differences stay right across the tick's wrap.
    const uint32_t sending = m_requestTick - m_sendTick;
    return static_cast<uint32_t>(arrival - m_sendTick) < sending + kResponseMs;
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
    if (frame == nullptr || length == 0)
        return;
    switch (frame[0]) {
    case genisys::kHdrIndication:  // configuration read response
        if (length == config::kReadResponseLength)
            OnReadResponse(frame, arrivalTick);
        break;
    case genisys::kHdrAckSlave:  // write acknowledgement
        OnWriteAck(frame, length, arrivalTick);
        break;
    default:
        break;
    }
}

void CConfigDlg::OnReadResponse(const uint8_t *frame, uint32_t arrivalTick)
{
    if (!m_readPending || !InResponseWindow(arrivalTick)) {
        dlg::SetText(m_hwndPage, IDC_CFG_STATUS, "Received unexpected configuration read message.");
        return;
    }
    config::ReadResponse response;
    if (!config::ParseReadResponse(frame, config::kReadResponseLength, &response))
        return;
    char text[128];
    std::snprintf(text, sizeof text, "Read complete. (F/W v%d.%d)", response.firmwareMajor,
                  response.firmwareMinor);
    dlg::SetText(m_hwndPage, IDC_CFG_STATUS, text);

    config::DipSwitchText(response, text, sizeof text);
    dlg::SetText(m_hwndPage, IDC_CFG_DIP_SWITCH, text);

    // The unit's bytes are taken as they are; they are clamped when next taken from the page.
    m_record = response.record;
    RecordToControls(m_hwndPage);
}

void CConfigDlg::OnWriteAck(const uint8_t *frame, uint8_t length, uint32_t arrivalTick)
{
    if (!m_writePending || !InResponseWindow(arrivalTick)) {
        dlg::SetText(m_hwndPage, IDC_CFG_STATUS, "Received unexpected write complete message.");
        return;
    }
    // Only the unit the write went to may trigger the commit.
    if (length <= kAckAddress || frame[kAckAddress] != RequestAddress())
        return;
    dlg::SetText(m_hwndPage, IDC_CFG_STATUS, "Upload completed successfully, sent save/reset.");
    // The commit goes to the slave ID just written, which differs when the write changed it.
    theLink.SendFrame(genisys::kHdrCommit, m_record.genisysSlaveId, nullptr, 0, kConfigSend);
}
