// libFuzzer target for the receive decoder, through its events into a sink that checks them.
// The first byte picks a chunk size; the rest is line traffic, decoded once whole and once in
// chunks. A line that would not make one whole log line, counts that shrink or jump, a bad
// hand-off, an out-of-range state or any difference between the two runs aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "comms/log_line.h"
#include "genisys/crc16.h"
#include "genisys/genisys_protocol.h"

namespace {

void Check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_decoder: %s\n", what);
        std::abort();
    }
}

// The checks are the fuzzer's own work, not the code under test: they are left out of the
// coverage that steers it, which would otherwise trace every character compared.
#define KLP_NOT_COVERED __attribute__((no_sanitize("coverage")))

class CheckingSink : public genisys::LinkEvents {
public:
    KLP_NOT_COVERED void OnLine(const genisys::LineEvent &e) override
    {
        Check(e.length > 0 && e.text[e.length] == '\0', "empty or unterminated text");
        Check(e.address >= -1 && e.address <= 255, "address out of range");
        logline::Message m;
        Check(logline::FromText(m, e.text, e.length), "text refused");
        char line[logline::kBufferSize];
        const size_t n = logline::Build(line, "10:54:31", m);
        Check(n <= 255 && n == std::strlen(line), "log line longer than 255 characters");
        Check(n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n', "line without CR LF");
        for (size_t i = 0; i + 2 < n; ++i)
            Check(line[i] == '\t' || (line[i] >= 0x20 && line[i] <= 0x7E), "unprintable character");
        transcript.append(e.text, e.length);
        transcript += '\n';
    }
    KLP_NOT_COVERED void OnCounters(uint32_t p, uint32_t a) override
    {
        // One frame counted at a time: exactly one count grows, by one.
        Check((p == polls + 1 && a == acks) || (p == polls && a == acks + 1), "counts did not grow by one");
        polls = p;
        acks = a;
    }
    KLP_NOT_COVERED void OnConfigFrame(const uint8_t *f, uint8_t k, uint32_t) override
    {
        Check(k >= 3 && k <= 128, "configuration frame length out of range");
        const uint16_t received = static_cast<uint16_t>(f[k - 3] | (f[k - 2] << 8));
        Check(genisys::Crc16(f, k - 3u) == (received ^ genisys::kConfigMarker),
              "configuration frame without the marked CRC");
        frames.push_back(static_cast<char>(k));
        frames.append(reinterpret_cast<const char *>(f), k);
    }
    void OnPortStalled() override { Check(false, "the decoder reported a stalled port"); }

    std::string transcript;  // every line, one after the other
    std::string frames;      // every configuration frame, each after its length
    uint32_t polls = 0, acks = 0;
};

KLP_NOT_COVERED bool SameOutcome(const CheckingSink &a, const CheckingSink &b)
{
    return a.transcript == b.transcript && a.frames == b.frames && a.polls == b.polls &&
           a.acks == b.acks;
}

// Decodes into sink, which keeps its memory from one run to the next.
void Decode(const uint8_t *data, size_t size, size_t chunk, CheckingSink &sink)
{
    sink.transcript.clear();
    sink.frames.clear();
    sink.polls = sink.acks = 0;
    CGenisysProtocol link(&sink);
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        link.OnReceive(data + at, static_cast<uint32_t>(n));
        Check(link.m_rxLength >= 0 && link.m_rxLength <= CGenisysProtocol::kRxBufferSize,
              "receive length out of range");
    }
    Check(link.m_rxPolls == sink.polls && link.m_rxAcks == sink.acks, "counts not reported");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t chunk = (data[0] >> 1) + 1u;  // 1 to 128
    ++data;
    --size;
    static CheckingSink whole, chunked;
    Decode(data, size, size ? size : 1, whole);
    Decode(data, size, chunk, chunked);
    Check(SameOutcome(whole, chunked), "chunking changed what was decoded");
    return 0;
}
