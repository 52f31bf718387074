// Sending on the link: SendFrame with its Tx log lines, and where the link's events go.
#include "genisys/genisys_protocol.h"

#include "genisys/line_text.h"

namespace {

struct TxText {
    uint8_t header;
    const char *format;  // takes the address
};

// Log lines of configuration frames the tool sends, by header.
const TxText kConfigTxTexts[] = {
    {genisys::kHdrPoll, "ID %d Tx: Config message (request)."},
    {genisys::kHdrControl, "ID %d Tx: Config message (send data)."},
    {genisys::kHdrCommit, "ID %d Tx: Config message (commit & reset)."},
};

const char *TxFormat(uint8_t header, int flags)
{
    if (!(flags & SEND_CONFIG))
        return "ID %d Tx: 0x%02X message.";
    for (const TxText &t : kConfigTxTexts)
        if (t.header == header)
            return t.format;
    return "ID %d Tx: Config message (0x%02X).";
}

}  // namespace

void CGenisysProtocol::SetEvents(genisys::LinkEvents *events)
{
    m_events = events ? events : &m_silent;
}

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
    if (!(flags & SEND_NOLOG)) {
        char line[genisys::kLineTextSize];
        const size_t lineLength = genisys::FormatLine(line, TxFormat(header, flags), address, header, "");
        m_events->OnLine(genisys::LineEvent{genisys::LineKind::kSent, header, address, line, lineLength});
    }
    return written != 0 ? 1 : 0;
}

void CGenisysProtocol::OnPortStalled()
{
    m_events->OnPortStalled();
}
