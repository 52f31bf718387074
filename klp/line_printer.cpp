// The decoder's lines on standard output and in the log file, and the counts per station.
#include "klp/line_printer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "comms/log_line.h"
#include "genisys/line_text.h"
#include "klp/output.h"

namespace klp {

namespace {

using genisys::LineKind;

struct KindName {
    LineKind kind;
    const char *name;
};
const KindName kKindNames[] = {
    {LineKind::kTraffic, "traffic"},
    {LineKind::kPollOrAck, "poll_or_ack"},
    {LineKind::kConfig, "config"},
    {LineKind::kCrcFailed, "crc_failed"},
    {LineKind::kUnknownData, "unknown_data"},
    {LineKind::kSent, "sent"},
};

const char *KindName(LineKind kind)
{
    for (const struct KindName &k : kKindNames)
        if (k.kind == kind)
            return k.name;
    return "other";
}

// Now, with milliseconds: "21:27:33.042", or "2026-12-09T21:27:33.042+0100".
std::string MachineStamp(Stamp stamp)
{
    static std::mutex localTime;  // std::localtime shares one result
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    char date[32] = "", time[16] = "", zone[8] = "";
    {
        std::lock_guard<std::mutex> lock(localTime);
        const std::tm *t = std::localtime(&seconds);
        if (t) {
            std::strftime(date, sizeof date, "%Y-%m-%dT", t);
            std::strftime(time, sizeof time, "%H:%M:%S", t);
            std::strftime(zone, sizeof zone, "%z", t);
        }
    }
    char out[64];
    if (stamp == Stamp::kIso)
        std::snprintf(out, sizeof out, "%s%s.%03ld%s", date, time, ms, zone);
    else
        std::snprintf(out, sizeof out, "%s.%03ld", time, ms);
    return out;
}

std::string HeaderText(uint8_t header)
{
    static const char kHex[] = "0123456789ABCDEF";
    return std::string{kHex[header >> 4], kHex[header & 15]};
}

// Appends text as a JSON string, escaped as nlohmann-json writes it; runs that need no
// escape go in whole.
void AppendJsonString(std::string *out, const char *text, size_t length)
{
    static const char kHex[] = "0123456789abcdef";
    out->push_back('"');
    // Log lines hardly ever hold a character to escape: one look through a table first.
    static const struct Table {
        bool escape[256];
        Table() : escape()
        {
            for (int c = 0; c < 0x20; ++c)
                escape[c] = true;
            escape[static_cast<unsigned char>('"')] = escape[static_cast<unsigned char>('\\')] = true;
        }
    } kTable;
    size_t first = 0;
    while (first < length && !kTable.escape[static_cast<unsigned char>(text[first])])
        ++first;
    if (first == length) {
        out->append(text, length);
        out->push_back('"');
        return;
    }
    size_t run = 0;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out->append(text + run, i - run);
        run = i + 1;
        const char *named = c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\n' ? "\\n"
                          : c == '\r' ? "\\r" : c == '\t' ? "\\t" : c == '\b' ? "\\b"
                          : c == '\f' ? "\\f" : nullptr;
        if (named) {
            out->append(named, 2);
        } else {
            out->append("\\u00");
            out->push_back(kHex[c >> 4]);
            out->push_back(kHex[c & 15]);
        }
    }
    out->append(text + run, length - run);
    out->push_back('"');
}

const char *CrcName(genisys::CrcChoice crc)
{
    return crc == genisys::CrcChoice::kModbus ? "CRC-16/MODBUS (starting at 0xFFFF)"
                                              : "CRC-16/ARC (starting at 0, the page's)";
}

}  // namespace

void LinePrinter::SetSource(const std::string &time, const std::string &direction)
{
    m_sourceTime = time;
    m_direction = direction;
}

void LinePrinter::PrintGap(uint32_t missing)
{
    if (m_o.json) {
        PrintJson({{"type", "gap"}, {"time", m_sourceTime}, {"direction", m_direction},
                   {"bytes", missing}});
        return;
    }
    std::printf("%s\t%s\tGap in the capture: %u bytes missing.\n", m_sourceTime.c_str(),
                m_direction.c_str(), missing);
}

void LinePrinter::OnCrcChosen(genisys::CrcChoice crc)
{
    if (m_direction.empty())
        Note("--crc auto: the frames pass %s.", CrcName(crc));
    else
        Note("--crc auto: the frames of %s pass %s.", m_direction.c_str(), CrcName(crc));
}

LinePrinter::LinePrinter(const PrintOptions &o, StopSignal *stop) : m_o(o), m_stop(stop) {}

void LinePrinter::OnPortStalled()
{
    if (m_stop)
        m_stop->Raise(StopReason::kPortStalled);
}

void LinePrinter::OnLine(const genisys::LineEvent &line)
{
    logline::StampedLine s;
    if (m_o.stamped)
        s.ReadClock(false);  // the date only for a line that is logged
    // A capture's line was last seen at its packet's time.
    Count(line, m_direction.empty() ? s.time : m_sourceTime.c_str());
    if (!logline::Shows(line, m_o.polls))
        return;
    if (line.length == 0)
        return;  // nothing to show
    if (!m_o.stamped) {
        // A capture's lines are shown whole: there is no time stamp to share the line with.
        char whole[genisys::kLineTextSize + 1];
        const size_t n = line.length < genisys::kLineTextSize ? line.length : genisys::kLineTextSize;
        std::memcpy(whole, line.text, n);
        Print(line, s.time, whole, logline::KeepPrintable(whole, n));
        return;
    }
    logline::Message m;
    logline::FromText(m, line.text, line.length);
    if (!m_logPath.empty())
        s.ReadDate();
    s.Build(m);
    Log(s);
    if (m_o.stamp == Stamp::kPage) {
        Print(line, s.time, s.Text(), s.TextLength());
        return;
    }
    const std::string stamp = MachineStamp(m_o.stamp);
    Print(line, stamp.c_str(), s.Text(), s.TextLength());
}

void LinePrinter::Print(const genisys::LineEvent &line, const char *time, const char *text,
                        size_t length)
{
    if (m_o.json) {
        // Written by hand rather than through a JSON object: a decode prints millions.
        std::string &o = m_json;
        o.assign("{\"type\":\"line\",\"kind\":\"");
        o += KindName(line.kind);
        o += '"';
        // Times and directions are of our own making: digits, addresses, no escapes.
        if (m_o.stamped || !m_direction.empty()) {
            o += ",\"time\":\"";
            o += m_o.stamped ? time : m_sourceTime.c_str();
            o += '"';
        }
        if (!m_direction.empty()) {
            o += ",\"direction\":\"";
            o += m_direction;
            o += '"';
        }
        o += ",\"header\":";  // bytes outside a frame have none
        if (line.kind != LineKind::kUnknownData) {
            o += '"';
            o += HeaderText(line.header);
            o += '"';
        } else {
            o += "null";
        }
        o += ",\"address\":";
        if (line.address >= 0) {
            char digits[4];
            int n = 0;
            for (int a = line.address; n == 0 || a > 0; a /= 10)
                digits[n++] = static_cast<char>('0' + a % 10);
            while (n > 0)
                o += digits[--n];
        } else {
            o += "null";
        }
        o += ",\"text\":";
        AppendJsonString(&o, text, length);
        o += "}\n";
        std::fwrite(o.data(), 1, o.size(), stdout);
        return;
    }
    std::string &o = m_json;
    o.clear();
    if (m_o.stamped) {
        o += time;
        o += '\t';
    } else if (!m_direction.empty()) {
        o += m_sourceTime;
        o += '\t';
        o += m_direction;
        o += '\t';
    }
    o.append(text, length);
    o += '\n';
    std::fwrite(o.data(), 1, o.size(), stdout);
}

bool LinePrinter::OpenLog(const std::string &path)
{
    m_logPath = path;
    m_logReopens = LogReopens();
    m_log = std::fopen(path.c_str(), "ab");
    return m_log != nullptr;
}

bool LinePrinter::CloseLog()
{
    if (!m_log)
        return true;
    const bool written = !std::ferror(m_log);
    const bool closed = std::fclose(m_log) == 0;
    m_log = nullptr;
    return written && closed;
}

void LinePrinter::ReopenLogIfAsked()
{
    if (m_logPath.empty() || LogReopens() == m_logReopens)
        return;
    // Whatever was written goes to the old file, the next line to the new one: none is lost.
    if ((!CloseLog() || !OpenLog(m_logPath)) && m_stop)
        m_stop->Raise(StopReason::kLogFailed);
}

void LinePrinter::Log(const logline::StampedLine &s)
{
    ReopenLogIfAsked();
    if (!m_log)
        return;
    std::fwrite(s.prefix, 1, s.prefixLength, m_log);
    std::fwrite(s.line, 1, s.length, m_log);
}

void LinePrinter::Flush()
{
    // The log first: it must not lose lines because standard output went away.
    if (m_log && (std::fflush(m_log) != 0 || std::ferror(m_log)) && m_stop)
        m_stop->Raise(StopReason::kLogFailed);
    if (!FlushOutput() && m_stop)
        m_stop->Raise(StopReason::kOutputClosed);
}

void LinePrinter::Count(const genisys::LineEvent &line, const char *time)
{
    if (!CountLine(m_stations, line))
        return;
    const char *seen = *time ? time : "-";
    const size_t n = std::min(std::strlen(seen), sizeof m_lastSeen[0] - 1);
    std::memcpy(m_lastSeen[line.address], seen, n);
    m_lastSeen[line.address][n] = '\0';
}

// The stations' polls and acknowledgements are the decoder's counts: it counts exactly the
// lines it reports as such. Summed here, they run on across a reopened port's new decoder and
// across a capture's streams, each with a decoder of its own.
void LinePrinter::PrintCounter()
{
    uint32_t polls = 0, acks = 0;
    for (const StationCounts &s : m_stations) {
        polls += s.polls;
        acks += s.acks;
    }
    if (m_o.json)
        PrintJson({{"type", "counter"}, {"polls", polls}, {"acks", acks}});
    else
        std::printf("Polls/ACKs: %u/%u\n", polls, acks);
}

void LinePrinter::PrintSummary()
{
    if (!m_o.json)
        std::printf(
            "Station  Polls   Acks  Indications  Controls  Recalls  CRC failures  Last seen\n");
    for (int address = 0; address < 256; ++address) {
        const StationCounts &s = m_stations[address];
        if (!s.heard)
            continue;
        if (m_o.json) {
            PrintJson({{"type", "station"},
                       {"address", address},
                       {"polls", s.polls},
                       {"acks", s.acks},
                       {"indications", s.indications},
                       {"controls", s.controls},
                       {"recalls", s.recalls},
                       {"crc_failures", s.crcFailures},
                       {"last_seen", m_o.stamped || m_lastSeen[address][0] != '-'
                                         ? nlohmann::ordered_json(m_lastSeen[address])
                                         : nlohmann::ordered_json()}});
            continue;
        }
        std::printf("%7d %6u %6u %12u %9u %8u %13u  %s\n", address, s.polls, s.acks, s.indications,
                    s.controls, s.recalls, s.crcFailures, m_lastSeen[address]);
    }
}

}  // namespace klp
