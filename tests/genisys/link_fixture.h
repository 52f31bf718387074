// Test fixture for the link core: a fresh link reporting to recorded events over a recording
// port, with helpers to feed bytes and read back the reported lines.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "genisys/genisys_protocol.h"
#include "tests/genisys/traffic.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial.h"
#include "tests/support/recording_events.h"

// Everything the receive path produced, for comparing two runs.
struct RxOutcome {
    std::vector<std::string> lines;
    std::vector<Bytes> configFrames;
    uint32_t polls = 0, acks = 0;
    std::string counterText;
    bool operator==(const RxOutcome &o) const
    {
        return lines == o.lines && configFrames == o.configFrames && polls == o.polls &&
               acks == o.acks && counterText == o.counterText;
    }
};

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::ResetClock();
        fake::Serial() = fake::SerialState();
        ASSERT_EQ(link.Open("COM1", 9600), 1);
    }

    void TearDown() override { link.Close(); }

    // The decoder as at process start, and nothing reported yet.
    void ResetDecoder()
    {
        link.m_rxLength = 0;
        link.m_rxPolls = link.m_rxAcks = 0;
        events.TakeTexts();
        events.TakeConfigFrames();
        events.polls = events.acks = 0;
    }

    // What a front end with "Show Polls/ACKs" ticked (or not) would log.
    void ShowPolls(bool on) { showPolls = on; }

    void Feed(const Bytes &bytes)
    {
        link.OnReceive(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    // Log texts reported since the last call, oldest first.
    std::vector<std::string> TakeLines() { return events.TakeTexts(showPolls); }

    std::string Counters() { return events.CounterText(); }

    // Feeds the stream in chunks of the given sizes (cycled) and collects what came out.
    RxOutcome Run(const Bytes &stream, const std::vector<size_t> &chunks)
    {
        ResetDecoder();
        size_t at = 0;
        for (size_t c = 0; at < stream.size(); ++c) {
            const size_t n = std::min(chunks[c % chunks.size()], stream.size() - at);
            link.OnReceive(stream.data() + at, static_cast<uint32_t>(n));
            at += n;
        }
        RxOutcome out;
        out.lines = TakeLines();
        out.configFrames = events.TakeConfigFrames();
        out.polls = link.m_rxPolls;
        out.acks = link.m_rxAcks;
        out.counterText = Counters();
        return out;
    }

    RecordingEvents events;
    CGenisysProtocol link{&events};
    bool showPolls = true;
};
