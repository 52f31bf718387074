// The decoder's lines as klp prints them: time-stamped exactly as the Comms page shows them
// (or bare, for a capture, which has no times), polls and acknowledgements only when asked
// for, as text or one JSON object a line, and a copy in CommsLog.txt's format. It counts every
// station's traffic for the summary. Each line is written as it comes: nothing piles up.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "comms/log_line.h"
#include "genisys/link_events.h"
#include "klp/signals.h"
#include "klp/station_counts.h"

namespace klp {

// How a line is stamped on standard output: as the Comms page does (the log file always is),
// with milliseconds, or in ISO 8601 with milliseconds and the zone, for machines.
enum class Stamp { kPage, kMilliseconds, kIso };

struct PrintOptions {
    bool polls = false;        // print polls and acknowledgements too (they are counted always)
    bool json = false;         // one JSON object a line
    bool stamped = true;       // time stamps and the log's 255-character lines
    Stamp stamp = Stamp::kPage;
};

class LinePrinter : public genisys::LinkEvents {
public:
    // A failed write of the output or the log raises the stop signal, when there is one.
    LinePrinter(const PrintOptions &o, StopSignal *stop);

    void OnLine(const genisys::LineEvent &line) override;
    void OnCounters(uint32_t, uint32_t) override {}  // PrintCounter sums the stations' counts
    void OnConfigFrame(const uint8_t *, uint8_t, uint32_t) override {}
    void OnPortStalled() override;
    void OnCrcChosen(genisys::CrcChoice crc) override;

    // For a network capture: the time of the packet being decoded and its direction
    // ("10.0.0.1:20000 > 10.0.0.2:1234"), put before each line until changed.
    void SetSource(const std::string &time, const std::string &direction);
    // A stretch of a captured TCP stream that the capture lacks, said where it was noticed.
    void PrintGap(uint32_t missing);

    // A copy of the lines in CommsLog.txt's format, appended to the file at path; false (with
    // errno) when it cannot be opened. Reopened before the next line once LogReopens() has
    // counted a request (logrotate moved the file away); closed, false if a write was lost.
    bool OpenLog(const std::string &path);
    bool CloseLog();

    // Pushes what was printed out to its readers; the monitor calls it after every chunk.
    void Flush();
    // "Polls/ACKs: 12/10", the counter the Comms page shows.
    void PrintCounter();
    // One row per station heard: polls, acknowledgements, indications, controls, recalls,
    // CRC failures, and when it was last heard.
    void PrintSummary();

private:
    void Count(const genisys::LineEvent &line, const char *time);
    void Print(const genisys::LineEvent &line, const char *time, const char *text, size_t length);
    void Log(const logline::StampedLine &s);
    void ReopenLogIfAsked();

    PrintOptions m_o;
    std::string m_sourceTime, m_direction;
    std::string m_json;  // one line's JSON, built in place: the hot path of a decode
    StopSignal *m_stop;
    std::FILE *m_log = nullptr;
    std::string m_logPath;
    unsigned m_logReopens = 0;  // the requests seen when the log was last opened
    StationCounts m_stations[256] = {};
    char m_lastSeen[256][32] = {};
};

}  // namespace klp
