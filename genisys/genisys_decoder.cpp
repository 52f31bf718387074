// The receive decoder: assembles Genisys frames byte by byte, checks them and logs each one.
#include <cstdio>

#include "app/globals.h"
#include "genisys/crc16.h"
#include "genisys/genisys_protocol.h"
#include "platform/dialog.h"
#include "res/resource.h"

using namespace genisys;

namespace {

enum DataText { TEXT_NONE, TEXT_PAIRS, TEXT_SINGLE };
enum Counter { COUNT_NONE, COUNT_POLL, COUNT_ACK };

struct RxClass {
    uint8_t header;
    const char *format;  // address, then the data text (or the header for unknown frames)
    DataText text;
    Counter counter;
};

// How each header of an ordinary frame is shown. Polls and acknowledgements are counted and
// shown only while "Show Polls/ACKs" is ticked; the poll's text depends on its length.
const RxClass kRxClasses[] = {
    {kHdrAckMaster, "ID %d Rx: Ack master message.\n", TEXT_NONE, COUNT_ACK},
    {kHdrIndication, "ID %d Rx: Indication data message:%s.\n", TEXT_PAIRS, COUNT_NONE},
    {kHdrCheckback, "ID %d Rx: Control checkback message:%s.\n", TEXT_PAIRS, COUNT_NONE},
    {kHdrDateTime, "ID %d Rx: Date/Time update message:%s.\n", TEXT_SINGLE, COUNT_NONE},
    {kHdrCommonControl, "ID %d Rx: Common control message:%s.\n", TEXT_PAIRS, COUNT_NONE},
    {kHdrAckSlave, "ID %d Rx: Ack slave message.\n", TEXT_NONE, COUNT_ACK},
    {kHdrPoll, nullptr, TEXT_NONE, COUNT_POLL},
    {kHdrControl, "ID %d Rx: Control message:%s.\n", TEXT_PAIRS, COUNT_NONE},
    {kHdrRecall, "ID %d Rx: Recall message.\n", TEXT_NONE, COUNT_NONE},
};

const char kUnknownFormat[] = "ID %d Rx: Unknown 0x%02X message:%s.\n";

const RxClass *FindClass(uint8_t header)
{
    for (const RxClass &c : kRxClasses)
        if (c.header == header)
            return &c;
    return nullptr;
}

// Room for " XX" per byte of the largest frame, and the terminating zero.
constexpr int kTextSize = 3 * CGenisysProtocol::kRxBufferSize + 1;

const char kHexDigits[] = "0123456789ABCDEF";

// Writes " XX" (upper-case hex); a hand-made %02X, as this runs for every byte shown.
char *PutHex(char *p, char separator, uint8_t b)
{
    p[0] = separator;
    p[1] = kHexDigits[b >> 4];
    p[2] = kHexDigits[b & 0x0F];
    return p + 3;
}

// " %02X" for each byte from first to last (inclusive).
void SingleText(const uint8_t *frame, int first, int last, char *text)
{
    char *p = text;
    for (int i = first; i <= last; ++i)
        p = PutHex(p, ' ', frame[i]);
    *p = '\0';
}

// " %02X-%02X" per pair of data bytes; an odd count pairs the last one with the CRC's low byte.
void PairText(const uint8_t *frame, int k, char *text)
{
    char *p = text;
    for (int i = 2; i < k - 3; i += 2) {
        p = PutHex(p, ' ', frame[i]);
        p = PutHex(p, '-', frame[i + 1]);
    }
    *p = '\0';
}

// Unescapes in place (an 0xF0 and the byte after it become that byte minus 0x10, mod 256);
// returns the new length.
int Unescape(uint8_t *frame, int length)
{
    int out = 0;
    for (int in = 0; in < length; ++in) {
        if (frame[in] == kEscape && in + 1 < length)
            frame[out++] = static_cast<uint8_t>(frame[++in] - 0x10);
        else
            frame[out++] = frame[in];
    }
    return out;
}

void ShowCounters()
{
    char text[32];
    std::snprintf(text, sizeof text, "%u/%u", theComms.m_pollCount, theComms.m_ackCount);
    dlg::SetText(theComms.m_hwndPage, IDC_COUNTERS, text);
}

}  // namespace

void CGenisysProtocol::OnReceive(const uint8_t *bytes, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (b == kTerminator) {
            if (m_rxLength > 0)
                ProcessFrame();
        } else if (IsHeaderByte(b)) {
            m_rxBuffer[0] = b;  // a header restarts any frame in progress
            m_rxLength = 1;
        } else if (m_rxLength == 0) {
            theComms.LogMessage("Received unknown data.\n");
        } else if (m_rxLength < kRxBufferSize) {
            m_rxBuffer[m_rxLength++] = b;
        } else {
            m_rxLength = 0;  // overflow: the frame and this byte are dropped
        }
    }
}

void CGenisysProtocol::ProcessFrame()
{
    if (m_rxLength >= kRxBufferSize) {
        // No slot for the terminator: dropped like a frame that grows past the buffer, so a
        // frame never exceeds 128 bytes (its length travels as 8 bits).
        m_rxLength = 0;
        return;
    }
    m_rxBuffer[m_rxLength++] = kTerminator;
    const int k = Unescape(m_rxBuffer, m_rxLength);
    m_rxLength = 0;

    const uint8_t header = m_rxBuffer[0];
    const bool insecure = k == 3 && (header == kHdrPoll || header == kHdrAckMaster);
    if (insecure) {
        Classify(k);
        return;
    }
    if (k < 3) {
        // No room for a CRC field at all (a header, maybe an escape, then the terminator):
        // report it rather than read outside the frame.
        ReportCrcFailure(k);
        return;
    }
    const uint16_t computed = Crc16(m_rxBuffer, static_cast<size_t>(k - 3));
    const uint16_t received =
        static_cast<uint16_t>(m_rxBuffer[k - 3] | (m_rxBuffer[k - 2] << 8));
    if (computed == received) {
        Classify(k);
    } else if (computed == (received ^ kConfigMarker)) {
        const int address = m_rxBuffer[1];
        if (header == kHdrAckMaster)
            theComms.LogMessage("ID %d Rx: Config message (acknowledge).\n", address);
        else if (header == kHdrIndication)
            theComms.LogMessage("ID %d Rx: Config message (receive data).\n", address);
        else
            theComms.LogMessage("ID %d Rx: Config message (0x%02X).\n", address, header);
        theConfig.OnConfigFrame(m_rxBuffer, static_cast<uint8_t>(k));
    } else {
        ReportCrcFailure(k);
    }
}

void CGenisysProtocol::ReportCrcFailure(int k)
{
    char text[kTextSize];
    SingleText(m_rxBuffer, 0, k - 1, text);
    theComms.LogMessage("CRC failed:%s.\n", text);
}

void CGenisysProtocol::Classify(int k)
{
    const uint8_t header = m_rxBuffer[0];
    const int address = m_rxBuffer[1];
    const RxClass *c = FindClass(header);
    char text[kTextSize];

    if (c == nullptr) {
        SingleText(m_rxBuffer, 2, k - 4, text);
        theComms.LogMessage(kUnknownFormat, address, header, text);
        return;
    }
    if (c->counter != COUNT_NONE) {
        if (c->counter == COUNT_POLL)
            ++theComms.m_pollCount;
        else
            ++theComms.m_ackCount;
        ShowCounters();
        if (!dlg::IsChecked(theComms.m_hwndPage, IDC_SHOW_POLLS))
            return;
        if (c->format == nullptr)
            theComms.LogMessage(k == 3 ? "ID %d Rx: Poll message (insecure).\n"
                                       : "ID %d Rx: Poll message (secure).\n",
                                address);
        else
            theComms.LogMessage(c->format, address);
        return;
    }
    if (c->text == TEXT_PAIRS)
        PairText(m_rxBuffer, k, text);
    else if (c->text == TEXT_SINGLE)
        SingleText(m_rxBuffer, 2, k - 4, text);
    else
        text[0] = '\0';
    theComms.LogMessage(c->format, address, text);
}
