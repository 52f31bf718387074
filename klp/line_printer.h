// The decoder's lines as klp prints them: time-stamped exactly as the Comms page shows them
// (or bare, for a capture, which has no times), polls and acknowledgements only when asked
// for, as text or one JSON object a line, and a copy in CommsLog.txt's format. It counts every
// station's traffic for the summary. Each line is written as it comes: nothing piles up.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "genisys/link_events.h"
#include "klp/signals.h"

namespace klp {

struct PrintOptions {
    bool polls = false;        // print polls and acknowledgements too (they are counted always)
    bool json = false;         // one JSON object a line
    bool stamped = true;       // time stamps and the log's 255-character lines
    std::FILE *log = nullptr;  // a copy in CommsLog.txt's format, or none
};

class LinePrinter : public genisys::LinkEvents {
public:
    // A failed write of the output or the log raises the stop signal, when there is one.
    LinePrinter(const PrintOptions &o, StopSignal *stop);

    void OnLine(const genisys::LineEvent &line) override;
    void OnCounters(uint32_t polls, uint32_t acks) override;
    void OnConfigFrame(const uint8_t *, uint8_t, uint32_t) override {}
    void OnPortStalled() override;
    void OnCrcChosen(genisys::CrcChoice crc) override;

    // For a network capture: the time of the packet being decoded and its direction
    // ("10.0.0.1:20000 > 10.0.0.2:1234"), put before each line until changed.
    void SetSource(const std::string &time, const std::string &direction);
    // A stretch of a captured TCP stream that the capture lacks, said where it was noticed.
    void PrintGap(uint32_t missing);

    // Pushes what was printed out to its readers; the monitor calls it after every chunk.
    void Flush();
    // "Polls/ACKs: 12/10", the counter the Comms page shows.
    void PrintCounter();
    // One row per station heard: polls, acknowledgements, indications, controls, recalls,
    // CRC failures, and when it was last heard.
    void PrintSummary();

private:
    struct Station {
        uint32_t polls, acks, indications, controls, recalls, crcFailures;
        bool heard;
        char lastSeen[32];
    };

    void Count(const genisys::LineEvent &line, const char *time);
    void Print(const genisys::LineEvent &line, const char *time, const char *text, size_t length);
    void Log(const char *line, size_t length);

    PrintOptions m_o;
    std::string m_sourceTime, m_direction;
    std::string m_json;  // one line's JSON, built in place: the hot path of a decode
    StopSignal *m_stop;
    uint32_t m_polls = 0, m_acks = 0;
    Station m_stations[256] = {};
};

}  // namespace klp
