// The receive decoder: assembles Genisys frames byte by byte, checks them and reports each one
// as a log line, counts polls and acknowledgements, and hands on configuration frames.
#include "genisys/crc16.h"
#include "genisys/genisys_protocol.h"
#include "genisys/line_text.h"
#include "platform/clock.h"

using namespace genisys;

namespace {

enum class DataText { kNone, kPairs, kSingle };
enum class Counter { kNone, kPoll, kAck };

struct RxClass {
    uint8_t header;
    const char *format;  // %d the address, %s the data text
    DataText text;
    Counter counter;
};

// How each header of an ordinary frame is shown. Polls and acknowledgements are counted, and
// their lines are marked so that a front end shows them only when asked; the poll's text
// depends on its length.
const RxClass kRxClasses[] = {
    {kHdrAckMaster, "ID %d Rx: Ack master message.", DataText::kNone, Counter::kAck},
    {kHdrIndication, "ID %d Rx: Indication data message:%s.", DataText::kPairs, Counter::kNone},
    {kHdrCheckback, "ID %d Rx: Control checkback message:%s.", DataText::kPairs, Counter::kNone},
    {kHdrDateTime, "ID %d Rx: Date/Time update message:%s.", DataText::kSingle, Counter::kNone},
    {kHdrCommonControl, "ID %d Rx: Common control message:%s.", DataText::kPairs, Counter::kNone},
    {kHdrAckSlave, "ID %d Rx: Ack slave message.", DataText::kNone, Counter::kAck},
    {kHdrPoll, nullptr, DataText::kNone, Counter::kPoll},
    {kHdrControl, "ID %d Rx: Control message:%s.", DataText::kPairs, Counter::kNone},
    {kHdrRecall, "ID %d Rx: Recall message.", DataText::kNone, Counter::kNone},
};

const char kUnknownFormat[] = "ID %d Rx: Unknown 0x%02X message:%s.";
const char kInsecurePoll[] = "ID %d Rx: Poll message (insecure).";
const char kSecurePoll[] = "ID %d Rx: Poll message (secure).";

// Lines of configuration frames, by header.
struct ConfigText {
    uint8_t header;
    const char *format;
};
const ConfigText kConfigTexts[] = {
    {kHdrAckMaster, "ID %d Rx: Config message (acknowledge)."},
    {kHdrIndication, "ID %d Rx: Config message (receive data)."},
};
const char kConfigOtherFormat[] = "ID %d Rx: Config message (0x%02X).";

const RxClass *FindClass(uint8_t header)
{
    for (const RxClass &c : kRxClasses)
        if (c.header == header)
            return &c;
    return nullptr;
}

const char *ConfigFormat(uint8_t header)
{
    for (const ConfigText &t : kConfigTexts)
        if (t.header == header)
            return t.format;
    return kConfigOtherFormat;
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

// One line with no frame behind it: the text is the whole line.
void ReportPlain(LinkEvents *events, LineKind kind, const char *text, size_t length)
{
    events->OnLine(LineEvent{kind, 0, -1, text, length});
}

}  // namespace

void CGenisysProtocol::OnReceive(const uint8_t *bytes, uint32_t count)
{
    static const char kUnknownData[] = "Received unknown data.";
    std::lock_guard<std::mutex> lock(m_decodeLock);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (b == kTerminator) {
            if (m_rxLength > 0)
                ProcessFrame();
        } else if (IsHeaderByte(b)) {
            m_rxBuffer[0] = b;  // a header restarts any frame in progress
            m_rxLength = 1;
        } else if (m_rxLength == 0) {
            ReportPlain(m_events, LineKind::kUnknownData, kUnknownData, sizeof kUnknownData - 1);
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
    const uint16_t received =
        static_cast<uint16_t>(m_rxBuffer[k - 3] | (m_rxBuffer[k - 2] << 8));
    const uint16_t computed = FrameCrc(k - 3, received);
    if (computed == received) {
        Classify(k);
    } else if (computed == (received ^ kConfigMarker)) {
        // The arrival time is taken here, so time spent handing the frame on does not count
        // against the configuration page's response window.
        const uint32_t arrival = sys::TickCount();
        Report(LineKind::kConfig, ConfigFormat(header));
        m_events->OnConfigFrame(m_rxBuffer, static_cast<uint8_t>(k), arrival);
    } else {
        ReportCrcFailure(k);
    }
}

// The CRC of the frame's first length bytes from the chosen start value; undecided, the first
// start value the frame passes with (plain or with the configuration marker) becomes the choice.
uint16_t CGenisysProtocol::FrameCrc(int length, uint16_t received)
{
    if (m_crc != CrcChoice::kAuto)
        return Crc16(m_rxBuffer, static_cast<size_t>(length), CrcStart(m_crc));
    for (CrcChoice c : {CrcChoice::kArc, CrcChoice::kModbus}) {
        const uint16_t crc = Crc16(m_rxBuffer, static_cast<size_t>(length), CrcStart(c));
        if (crc == received || crc == (received ^ kConfigMarker)) {
            m_crc = c;
            m_events->OnCrcChosen(c);
            return crc;
        }
    }
    return Crc16(m_rxBuffer, static_cast<size_t>(length));  // passes neither: a failure
}

void CGenisysProtocol::Report(LineKind kind, const char *format, const char *text)
{
    char line[kLineTextSize];
    const size_t length = FormatLine(line, format, m_rxBuffer[1], m_rxBuffer[0], text);
    m_events->OnLine(LineEvent{kind, m_rxBuffer[0], m_rxBuffer[1], line, length});
}

void CGenisysProtocol::ReportCrcFailure(int k)
{
    char text[kDataTextSize];
    SingleText(m_rxBuffer, 0, k - 1, text);
    // A frame of a header alone has no address byte (the buffer still holds the previous one).
    char line[kLineTextSize];
    const size_t length = FormatLine(line, "CRC failed:%s.", 0, 0, text);
    m_events->OnLine(
        LineEvent{LineKind::kCrcFailed, m_rxBuffer[0], k >= 3 ? m_rxBuffer[1] : -1, line, length});
}

void CGenisysProtocol::Classify(int k)
{
    const uint8_t header = m_rxBuffer[0];
    const RxClass *c = FindClass(header);
    char text[kDataTextSize];

    if (c == nullptr) {
        SingleText(m_rxBuffer, 2, k - 4, text);
        Report(LineKind::kTraffic, kUnknownFormat, text);
        return;
    }
    if (c->counter != Counter::kNone) {
        if (c->counter == Counter::kPoll)
            ++m_rxPolls;
        else
            ++m_rxAcks;
        m_events->OnCounters(m_rxPolls, m_rxAcks);
        const char *format = c->format ? c->format : k == 3 ? kInsecurePoll : kSecurePoll;
        Report(LineKind::kPollOrAck, format);
        return;
    }
    if (c->text == DataText::kPairs)
        PairText(m_rxBuffer, k, text);
    else if (c->text == DataText::kSingle)
        SingleText(m_rxBuffer, 2, k - 4, text);
    else
        text[0] = '\0';
    Report(LineKind::kTraffic, c->format, text);
}
