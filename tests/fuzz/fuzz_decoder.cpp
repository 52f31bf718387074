// libFuzzer target for the receive decoder. The first byte picks "Show Polls/ACKs" and a chunk
// size; the rest is line traffic, decoded once whole and once in chunks. Any difference between
// the two, a line that is not whole, a bad hand-off or an out-of-range state aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/globals.h"
#include "genisys/crc16.h"
#include "res/resource.h"
#include "tests/support/fakes.h"

namespace {

struct Outcome {
    std::vector<std::string> lines;
    std::vector<std::vector<uint8_t>> frames;
    uint32_t polls, acks;
    std::string counters;
    bool operator==(const Outcome &o) const
    {
        return lines == o.lines && frames == o.frames && polls == o.polls && acks == o.acks &&
               counters == o.counters;
    }
};

void Check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_decoder: %s\n", what);
        std::abort();
    }
}

fake::Page &Page()
{
    static fake::Page *page = [] {
        auto *p = new fake::Page;
        fake::AddCommsControls(*p);
        p->journal = true;
        theComms.m_hwndPage = p->handle();
        return p;
    }();
    return *page;
}

void Reset()
{
    theLink.m_rxLength = 0;
    theComms.m_pollCount = 0;
    theComms.m_ackCount = 0;
    Page().At(IDC_COUNTERS).text = "0/0";
    Page().At(IDC_LOG).text.clear();
    Page().appended.clear();
    fake::TakeConfigFrames();
}

void Feed(const uint8_t *data, size_t size, size_t chunk)
{
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        theLink.OnReceive(data + at, static_cast<uint32_t>(n));
        Check(theLink.m_rxLength >= 0 && theLink.m_rxLength <= CGenisysProtocol::kRxBufferSize,
              "receive length out of range");
    }
}

Outcome Collect()
{
    Outcome out{Page().appended, fake::TakeConfigFrames(), theComms.m_pollCount,
                theComms.m_ackCount, Page().Text(IDC_COUNTERS)};
    for (const std::string &line : out.lines) {
        Check(line.size() <= 255, "log line longer than 255 characters");
        Check(line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0, "line without CR LF");
        Check(line.find("\r\n") == line.size() - 2, "line break inside a line");
        for (size_t i = 0; i + 2 < line.size(); ++i)
            Check(line[i] == '\t' || (line[i] >= 0x20 && line[i] <= 0x7E), "unprintable character");
    }
    for (const std::vector<uint8_t> &f : out.frames) {
        const size_t k = f.size();
        Check(k >= 3 && k <= 128, "configuration frame length out of range");
        const uint16_t received = static_cast<uint16_t>(f[k - 3] | (f[k - 2] << 8));
        Check(genisys::Crc16(f.data(), k - 3) == (received ^ genisys::kConfigMarker),
              "configuration frame without the marked CRC");
    }
    char counters[32];
    std::snprintf(counters, sizeof counters, "%u/%u", out.polls, out.acks);
    Check(out.counters == counters, "counter label differs from the counters");
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t control = data[0];
    ++data;
    --size;
    Page().At(IDC_SHOW_POLLS).checked = control & 1;
    const size_t chunk = (control >> 1) + 1u;  // 1 to 128

    Reset();
    Feed(data, size, size ? size : 1);
    const Outcome whole = Collect();
    Reset();
    Feed(data, size, chunk);
    Check(Collect() == whole, "chunking changed what was decoded");
    return 0;
}
