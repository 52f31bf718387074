// What the link reports: the events the receive decoder and the sender hand to whoever runs
// them (the property sheet, the command-line tool, a test). The link never reaches for a window.
#pragma once
#include <cstddef>
#include <cstdint>

#include "genisys/crc16.h"

namespace genisys {

// What a log line is about; front ends filter and summarise by it.
enum class LineKind : uint8_t {
    kTraffic,      // an ordinary frame received, shown always
    kPollOrAck,    // a poll or an acknowledgement received: shown only when asked for
    kConfig,       // a configuration frame received
    kCrcFailed,    // a frame whose CRC matched neither way
    kUnknownData,  // a byte outside any frame
    kSent,         // a frame the tool sent
};

// One log line's message, before the log's filter and time stamp; valid during the call only.
struct LineEvent {
    LineKind kind;
    uint8_t header;   // the frame's header byte; 0 for bytes outside a frame
    int address;      // the frame's station address; -1 when it has none
    const char *text;
    size_t length;
};

class LinkEvents {
public:
    virtual ~LinkEvents() {}
    virtual void OnLine(const LineEvent &line) = 0;
    // The poll and acknowledge counts after a change; they only ever grow.
    virtual void OnCounters(uint32_t polls, uint32_t acks) = 0;
    // A configuration frame (unescaped, header to final byte), with the tick it arrived at.
    virtual void OnConfigFrame(const uint8_t *frame, uint8_t length, uint32_t arrivalTick) = 0;
    // The device stopped answering (an unplugged adapter); reported once per outage.
    virtual void OnPortStalled() = 0;
    // A decoder told to choose its CRC chose one (kArc or kModbus); once per choice.
    virtual void OnCrcChosen(CrcChoice) {}
};

// Reports nothing: what a link runs with until the program hands it its events.
class SilentEvents : public LinkEvents {
public:
    void OnLine(const LineEvent &) override {}
    void OnCounters(uint32_t, uint32_t) override {}
    void OnConfigFrame(const uint8_t *, uint8_t, uint32_t) override {}
    void OnPortStalled() override {}
};

}  // namespace genisys
