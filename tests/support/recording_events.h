// Records what the link reports: the lines with their kind, the counts, the configuration
// frames with their arrival ticks and the stall notices. The link core's tests run against it.
#pragma once
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "genisys/link_events.h"

class RecordingEvents : public genisys::LinkEvents {
public:
    struct Line {
        genisys::LineKind kind;
        uint8_t header;
        int address;
        std::string text;
    };

    void OnLine(const genisys::LineEvent &line) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back({line.kind, line.header, line.address, std::string(line.text, line.length)});
    }
    void OnCounters(uint32_t p, uint32_t a) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        polls = p;
        acks = a;
        ++counterReports;
    }
    void OnConfigFrame(const uint8_t *frame, uint8_t length, uint32_t tick) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        configFrames.emplace_back(frame, frame + length);
        arrivalTicks.push_back(tick);
    }
    void OnCrcChosen(genisys::CrcChoice crc) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        crcChoices.push_back(crc);
    }
    void OnPortStalled() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++stalls;
    }

    // The texts reported since the last call, oldest first; poll and acknowledge lines only
    // when withPolls (as a front end with "Show Polls/ACKs" would show them).
    std::vector<std::string> TakeTexts(bool withPolls = true)
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> texts;
        for (const Line &l : lines)
            if (withPolls || l.kind != genisys::LineKind::kPollOrAck)
                texts.push_back(l.text);
        lines.clear();
        return texts;
    }
    std::vector<std::vector<uint8_t>> TakeConfigFrames()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::vector<uint8_t>> out;
        out.swap(configFrames);
        arrivalTicks.clear();
        return out;
    }
    // The counts as label 1004 shows them.
    std::string CounterText()
    {
        std::lock_guard<std::mutex> lock(mutex);
        char text[32];
        std::snprintf(text, sizeof text, "%u/%u", polls, acks);
        return text;
    }

    std::mutex mutex;
    std::vector<Line> lines;
    uint32_t polls = 0, acks = 0;
    int counterReports = 0;
    std::vector<std::vector<uint8_t>> configFrames;
    std::vector<uint32_t> arrivalTicks;
    int stalls = 0;
    std::vector<genisys::CrcChoice> crcChoices;
};
