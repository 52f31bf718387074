// Network captures decoded: conversations and their directions, TCP put back in sequence
// (a retransmission decoded once, a gap said once), and the lines stamped with capture times.
#include "klp/capture_decode.h"

#include <cstdio>
#include <map>
#include <memory>

#include "genisys/genisys_protocol.h"
#include "klp/capture_reader.h"
#include "klp/line_printer.h"
#include "klp/output.h"
#include "klp/packet_parse.h"

namespace klp {

namespace {

// Out-of-order segments held while waiting for the one before them; past this, what is
// missing is taken as lost.
constexpr size_t kMaxHeldBytes = 1 << 16;
constexpr size_t kMaxHeldSegments = 64;

// One direction of one conversation: its own decoder, whose lines the printer counts.
class Stream : public genisys::LinkEvents {
public:
    Stream(const std::string &direction, LinePrinter *printer, genisys::CrcChoice crc)
        : m_direction(direction), m_printer(printer), m_decoder(this)
    {
        m_decoder.SetCrc(crc);
    }

    void OnLine(const genisys::LineEvent &line) override { m_printer->OnLine(line); }
    void OnCounters(uint32_t, uint32_t) override {}
    void OnConfigFrame(const uint8_t *, uint8_t, uint32_t) override {}
    void OnPortStalled() override {}
    void OnCrcChosen(genisys::CrcChoice crc) override { m_printer->OnCrcChosen(crc); }

    void Decode(const uint8_t *bytes, size_t length)
    {
        m_decoder.OnReceive(bytes, static_cast<uint32_t>(length));
    }

    // TCP: bytes in sequence order, whatever order the segments came in.
    void Segment(uint32_t sequence, bool syn, const uint8_t *payload, size_t length,
                 const std::string &time)
    {
        if (!m_started || syn) {
            m_next = m_base = sequence + (syn ? 1 : 0);
            m_started = true;
        }
        if (length == 0)
            return;
        const int32_t ahead = static_cast<int32_t>(sequence - m_next);
        if (ahead > 0) {
            const Held held{std::string(reinterpret_cast<const char *>(payload), length), time};
            if (m_held.emplace(sequence - m_base, held).second)
                m_heldBytes += length;
            if (m_heldBytes > kMaxHeldBytes || m_held.size() > kMaxHeldSegments)
                SkipGap();
            return;
        }
        Take(sequence, payload, length);
        TakeHeld();
    }

    // What is still held once the capture ends comes after a gap.
    void Finish()
    {
        while (!m_held.empty())
            SkipGap();
    }

private:
    // The part of a segment at or after the next byte expected; a retransmission gives none.
    void Take(uint32_t sequence, const uint8_t *payload, size_t length)
    {
        const uint32_t skip = m_next - sequence;
        if (skip >= length)
            return;
        Decode(payload + skip, length - skip);
        m_next += static_cast<uint32_t>(length - skip);
    }

    void TakeHeld()
    {
        while (!m_held.empty()) {
            auto first = m_held.begin();
            const uint32_t sequence = first->first + m_base;
            if (static_cast<int32_t>(sequence - m_next) > 0)
                return;
            // Its lines carry the time it was captured, not the time it was put in order.
            const std::string &bytes = first->second.bytes;
            m_printer->SetSource(first->second.time, m_direction);
            Take(sequence, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
            m_heldBytes -= bytes.size();
            m_held.erase(first);
        }
    }

    // Says the gap once, drops the frame it cut into, and goes on after it.
    void SkipGap()
    {
        auto first = m_held.begin();
        m_printer->SetSource(first->second.time, m_direction);
        m_printer->PrintGap(first->first + m_base - m_next);
        m_decoder.m_rxLength = 0;
        m_next = first->first + m_base;
        TakeHeld();
    }

    struct Held {
        std::string bytes, time;
    };

    std::string m_direction;
    LinePrinter *m_printer;
    CGenisysProtocol m_decoder;
    bool m_started = false;
    uint32_t m_next = 0;
    uint32_t m_base = 0;  // where the stream started: held segments are ordered from there,
                          // so a stream whose sequence numbers wrap past 2^32 stays in order
    std::map<uint32_t, Held> m_held;
    size_t m_heldBytes = 0;
};

// Days since 1970-01-01 to a civil date (proleptic Gregorian), as in Howard Hinnant's
// algorithms: no time zone, no platform call.
void CivilFromDays(int64_t z, int *year, unsigned *month, unsigned *day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

}  // namespace

std::string CaptureTimeText(int64_t seconds, uint32_t microseconds)
{
    const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const int64_t inDay = seconds - days * 86400;
    int year;
    unsigned month, day;
    CivilFromDays(days, &year, &month, &day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d.%06u", year, month, day,
                  static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                  static_cast<int>(inDay % 60), microseconds);
    return text;
}

PrintOptions DecodePrintOptions(const DecodeOptions &o)
{
    PrintOptions print;
    print.polls = o.polls;
    print.json = o.json;
    print.stamped = false;
    return print;
}

void FinishDecode(const DecodeOptions &o, LinePrinter &printer)
{
    printer.PrintCounter();
    if (o.summary)
        printer.PrintSummary();
    printer.Flush();
}

int RunCaptureDecode(const DecodeOptions &o)
{
    std::string error;
    std::unique_ptr<CaptureReader> reader = OpenCapture(o.file, &error);
    if (!reader)
        return Fail(kExitFile, "cannot read the capture %s: %s.", o.file.c_str(), error.c_str());
    LinePrinter printer(DecodePrintOptions(o), nullptr);
    std::map<std::string, std::unique_ptr<Stream>> streams;  // by direction
    Packet packet;
    size_t packets = 0;
    while (reader->Next(&packet)) {
        ++packets;
        const klp::Segment s = ParsePacket(packet.linkType, packet.data, packet.length);
        if (s.kind == klp::Segment::Kind::kNone)
            continue;
        if (o.tcpPort != 0 && s.kind != klp::Segment::Kind::kSerial && s.sourcePort != o.tcpPort &&
            s.destinationPort != o.tcpPort)
            continue;
        const std::string direction =
            s.kind == klp::Segment::Kind::kSerial ? "line" : s.source + " > " + s.destination;
        std::unique_ptr<Stream> &stream = streams[(s.kind == klp::Segment::Kind::kUdp ? "udp " : "") + direction];
        if (!stream)
            stream.reset(new Stream(direction, &printer, o.crc));
        const std::string time = CaptureTimeText(packet.seconds, packet.microseconds);
        printer.SetSource(time, direction);
        if (s.kind == klp::Segment::Kind::kTcp)
            stream->Segment(s.sequence, s.syn, s.payload, s.length, time);
        else
            stream->Decode(s.payload, s.length);
    }
    for (auto &entry : streams)
        entry.second->Finish();
    FinishDecode(o, printer);
    const std::string failure = reader->Failure();
    if (!failure.empty())
        return Fail(kExitFile, "the capture %s is cut short after %zu packets (%s).",
                    o.file.c_str(), packets, failure.c_str());
    if (streams.empty())
        Note("the capture %s holds no TCP or UDP traffic%s.", o.file.c_str(),
             o.tcpPort ? (" on port " + std::to_string(o.tcpPort)).c_str() : "");
    return kExitOk;
}

}  // namespace klp
