// Test fixture for the link core: a fake Comms page, a fresh decoder and an open fake port,
// with helpers to feed bytes and read back the log lines without their time stamp.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/globals.h"
#include "genisys/genisys_frame.h"
#include "res/resource.h"
#include "tests/genisys/traffic.h"
#include "tests/support/fakes.h"

// Strips "10:54:31\t" and the CR LF from one appended log line; a malformed line fails the test
// and comes back marked, so no comparison can pass by accident.
inline std::string LogText(const std::string &line)
{
    const std::string stamp = "10:54:31\t";
    const bool stamped = line.compare(0, stamp.size(), stamp) == 0;
    const bool ended = line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0;
    EXPECT_TRUE(stamped && ended) << "malformed log line: " << line;
    if (!stamped || !ended)
        return "<malformed>" + line;
    return line.substr(stamp.size(), line.size() - stamp.size() - 2);
}

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
        fake::ResetAll();
        fake::AddCommsControls(page);
        page.journal = true;
        page.At(IDC_SHOW_POLLS).checked = true;
        theComms.m_hwndPage = page.handle();
        ResetDecoder();
        fake::Serial() = fake::SerialState();
        ASSERT_EQ(theLink.Open("COM1", 9600), 1);
    }

    void TearDown() override
    {
        theLink.Close();
        theComms.m_hwndPage = nullptr;
        fake::TakeConfigFrames();
    }

    // The decoder as at process start; the page's log and counter label emptied too.
    void ResetDecoder()
    {
        theLink.m_rxLength = 0;
        theComms.m_pollCount = 0;
        theComms.m_ackCount = 0;
        page.At(IDC_COUNTERS).text = "0/0";
        page.At(IDC_LOG).text.clear();
        page.appended.clear();
        fake::TakeConfigFrames();
    }

    void ShowPolls(bool on) { page.At(IDC_SHOW_POLLS).checked = on; }

    void Feed(const Bytes &bytes)
    {
        theLink.OnReceive(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    // Log texts written since the last call, oldest first.
    std::vector<std::string> TakeLines()
    {
        std::vector<std::string> texts;
        for (const std::string &line : page.appended)
            texts.push_back(LogText(line));
        page.appended.clear();
        return texts;
    }

    std::string Counters() { return page.Text(IDC_COUNTERS); }

    // Feeds the stream in chunks of the given sizes (cycled) and collects what came out.
    RxOutcome Run(const Bytes &stream, const std::vector<size_t> &chunks)
    {
        ResetDecoder();
        size_t at = 0;
        for (size_t c = 0; at < stream.size(); ++c) {
            const size_t n = std::min(chunks[c % chunks.size()], stream.size() - at);
            theLink.OnReceive(stream.data() + at, static_cast<uint32_t>(n));
            at += n;
        }
        RxOutcome out;
        out.lines = TakeLines();
        out.configFrames = fake::TakeConfigFrames();
        out.polls = theComms.m_pollCount;
        out.acks = theComms.m_ackCount;
        out.counterText = Counters();
        return out;
    }

    fake::Page page;
};
