// Sending on the link: SendFrame with its Tx log lines, and opening the port for the pages.
#include "genisys/genisys_protocol.h"

#include <cstdio>

#include "app/globals.h"
#include "platform/system.h"

namespace {

struct TxText {
    uint8_t header;
    const char *format;  // takes the address
};

// Log lines of configuration frames the tool sends, by header.
const TxText kConfigTxTexts[] = {
    {genisys::kHdrPoll, "ID %d Tx: Config message (request).\n"},
    {genisys::kHdrControl, "ID %d Tx: Config message (send data).\n"},
    {genisys::kHdrCommit, "ID %d Tx: Config message (commit & reset).\n"},
};

void LogTx(uint8_t header, uint8_t address, int flags)
{
    if (flags & SEND_NOLOG)
        return;
    if (!(flags & SEND_CONFIG)) {
        theComms.LogMessage("ID %d Tx: 0x%02X message.\n", address, header);
        return;
    }
    for (const TxText &t : kConfigTxTexts) {
        if (t.header == header) {
            theComms.LogMessage(t.format, address);
            return;
        }
    }
    theComms.LogMessage("ID %d Tx: Config message (0x%02X).\n", address, header);
}

}  // namespace

int CGenisysProtocol::SendFrame(uint8_t header, uint8_t address, const uint8_t *data, int n,
                                int flags)
{
    // Sized for the worst case of the longest frame the pages send (14 data bytes, all escaped);
    // anything longer cannot be a Kelpro frame and is refused rather than overrun.
    constexpr int kMaxData = 64;
    uint8_t wire[genisys::MaxWireLength(kMaxData)];
    if (n < 0 || n > kMaxData || (n > 0 && data == nullptr))
        return 0;
    const size_t length = genisys::EncodeFrame(header, address, data, static_cast<size_t>(n),
                                               flags, wire);
    const uint32_t written = Write(wire, static_cast<uint32_t>(length));
    LogTx(header, address, flags);
    return written != 0 ? 1 : 0;
}

int CGenisysProtocol::OpenPort(const char *portName, int16_t baud)
{
    const int16_t result = Open(portName, baud);
    if (result == SERIAL_OPEN_OK) {
        m_portOpen = 1;
        return 1;
    }
    char text[64];
    std::snprintf(text, sizeof text, "Failed to open serial port '%s'\nError code %d", portName,
                  result);
    sys::ShowMessage(g_hwndSheet, text, sys::ICON_ERROR);
    return 0;
}

void CGenisysProtocol::OnPortStalled()
{
    theComms.LogMessage("Serial port stopped responding.\n");
}
