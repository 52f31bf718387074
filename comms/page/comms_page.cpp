// The Comms page's handlers, CCommsDlg's, against the dialog-control seam: the port list built
// by probing COM1 to COM30, the baud list, the automatic open, port and baud selection, the
// "slave to config" address and "Find Slaves".
#include "comms/page/comms_page.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comms/page/comms_dlg.h"
#include "genisys/genisys_protocol.h"
#include "platform/system.h"
#include "res/resource.h"
#include "serial/serial_probe.h"

namespace comms {

namespace {

const char kNone[] = "None";
const char *const kBaudRates[] = {"1200", "2400", "4800", "9600", "19200"};
constexpr int kAnyNotification = -1;

// The line time of one slave search in baud-seconds: 7650 / baud is the estimate in seconds.
constexpr double kSearchBaudSeconds = 7650.0;
constexpr int kFirstAddress = 1;
constexpr int kLastAddress = 255;

void FillPortList(WindowHandle page)
{
    dlg::ComboAdd(page, IDC_PORT_LIST, kNone);
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        char name[32];
        PortName(n, name, sizeof name);
        if (serial::ProbePort(name) != serial::ProbeResult::kAbsent)
            dlg::ComboAdd(page, IDC_PORT_LIST, name);
    }
}

void FillBaudList(WindowHandle page)
{
    for (const char *rate : kBaudRates)
        dlg::ComboAdd(page, IDC_BAUD_LIST, rate);
    dlg::ComboSetSel(page, IDC_BAUD_LIST, kDefaultBaudIndex);
}

int ReadBaud(WindowHandle page)
{
    char text[kListTextSize];
    dlg::GetText(page, IDC_BAUD_LIST, text, sizeof text);
    return std::atoi(text);
}

void ClosePort()
{
    if (theLink.m_portOpen) {
        theLink.Close();
        theLink.m_portOpen = 0;
    }
    theComms.LogMessage("Port closed.");
}

}  // namespace

void PortName(int number, char *buf, size_t size)
{
    std::snprintf(buf, size, number <= 9 ? "COM%d" : "\\\\.\\COM%d", number);
}

}  // namespace comms

using namespace comms;

int CCommsDlg::OnInitPage(WindowHandle page)
{
    FillPortList(page);
    FillBaudList(page);
    dlg::SetUint(page, IDC_SLAVE_TO_CONFIG, static_cast<unsigned>(theLink.m_slaveToConfig));
    m_hwndPage = page;
    return 1;
}

void CCommsDlg::OnAutoOpen(WindowHandle page)
{
    // With no port found there is no entry 1: the list is left without a selection and the
    // open of an empty name fails the way any failed open does.
    dlg::ComboSetSel(page, IDC_PORT_LIST, 1);
    OnPortOrBaud(page);
}

void CCommsDlg::OnCommand(WindowHandle page, uintptr_t command)
{
    struct Route {
        int id;
        int notification;  // kAnyNotification: every notification of the control
        void (CCommsDlg::*handler)(WindowHandle);
    };
    static const Route kRoutes[] = {
        {IDC_PORT_LIST, kCbnSelChange, &CCommsDlg::OnPortOrBaud},
        {IDC_BAUD_LIST, kCbnSelChange, &CCommsDlg::OnPortOrBaud},
        {IDC_SLAVE_TO_CONFIG, kEnChange, &CCommsDlg::OnSlaveToConfig},
        {IDC_FIND_SLAVES, kAnyNotification, &CCommsDlg::OnFindSlaves},
        {IDC_WRITE_LOG_FILE, kAnyNotification, &CCommsDlg::OnLogSwitch},
        {IDC_SHOW_POLLS, kAnyNotification, &CCommsDlg::OnLogSwitch},
    };
    const int id = static_cast<int>(command & 0xFFFF);
    const int notification = static_cast<int>((command >> 16) & 0xFFFF);
    for (const Route &r : kRoutes) {
        if (r.id == id && (r.notification == kAnyNotification || r.notification == notification)) {
            (this->*r.handler)(page);
            return;
        }
    }
}

// Whatever the user picked in either list: "None" closes, a port name (re)opens at the rate.
void CCommsDlg::OnPortOrBaud(WindowHandle page)
{
    char port[kListTextSize];
    dlg::GetText(page, IDC_PORT_LIST, port, sizeof port);
    const int16_t baud = static_cast<int16_t>(ReadBaud(page));
    if (std::strcmp(port, kNone) == 0) {
        ClosePort();
        return;
    }
    if (theLink.OpenPort(port, baud)) {
        LogMessage("Opened %s at %d baud.", port, baud);
        return;
    }
    // Selecting from the program sends no notification, so no "Port closed." follows.
    dlg::ComboSetSel(page, IDC_PORT_LIST, 0);
    LogMessage("Failed to open %s at %d baud.", port, baud);
}

void CCommsDlg::OnSlaveToConfig(WindowHandle page)
{
    theLink.m_slaveToConfig = static_cast<int32_t>(dlg::GetUint(page, IDC_SLAVE_TO_CONFIG));
}

// Asks every address whether a unit is there; the answers arrive through the receive decoder.
void CCommsDlg::OnFindSlaves(WindowHandle page)
{
    const int baud = ReadBaud(page);
    const float seconds = static_cast<float>(kSearchBaudSeconds / baud);
    LogMessage("Polling all slave addresses. This will take about %0.01f Sec.",
               static_cast<double>(seconds));
    for (int address = kFirstAddress; address <= kLastAddress; ++address) {
        theLink.SendFrame(genisys::kHdrPoll, static_cast<uint8_t>(address), nullptr, 0,
                          genisys::SEND_CRC | genisys::SEND_CONFIG | genisys::SEND_NOLOG);
    }
}

// The log's two check boxes, kept where the threads that log can read them without asking
// the window.
void CCommsDlg::OnLogSwitch(WindowHandle page)
{
    m_writeLogFile = dlg::IsChecked(page, IDC_WRITE_LOG_FILE);
    m_showPolls = dlg::IsChecked(page, IDC_SHOW_POLLS);
}

int CGenisysProtocol::OpenPort(const char *portName, int16_t baud)
{
    const int16_t result = Open(portName, baud);
    if (result == kSerialOpenOk) {
        m_portOpen = 1;
        return 1;
    }
    char text[64];
    std::snprintf(text, sizeof text, "Failed to open serial port '%s'\nError code %d", portName,
                  result);
    sys::ShowMessage(g_hwndSheet, text, sys::MessageIcon::kError);
    return 0;
}
