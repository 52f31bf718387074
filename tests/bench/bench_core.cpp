// Throughput of the link core: CRC, encoder, SendFrame and the receive decoder on mixed
// traffic, alone and with the program's message log formatting and queueing every line (no
// page window, or the in-memory one).
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <random>

#include "comms/page/comms_dlg.h"
#include "genisys/genisys_protocol.h"
#include "genisys/crc16.h"
#include "res/resource.h"
#include "tests/genisys/traffic.h"
#include "tests/support/fakes.h"

namespace {

Bytes RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes bytes(n);
    for (uint8_t &b : bytes)
        b = static_cast<uint8_t>(rng());
    return bytes;
}

// Feeds the stream as the reader thread does, a chunk at a time; after each chunk the window
// takes what was queued (it is far slower in truth, and takes bigger batches).
void FeedInChunks(CGenisysProtocol &link, const Bytes &stream)
{
    for (size_t at = 0; at < stream.size(); at += 1024) {
        const size_t n = std::min<size_t>(1024, stream.size() - at);
        link.OnReceive(stream.data() + at, static_cast<uint32_t>(n));
        fake::RunUiCalls();
    }
}

// The program's log with no page: every line formatted, time-stamped and queued on the
// receiving thread, and taken by the window in batches.
void LogWithoutPage()
{
    fake::DeferUiCalls(true);
    theComms.m_hwndPage = nullptr;
    theComms.m_showPolls = true;
}

void BM_Crc16(benchmark::State &state)
{
    const Bytes bytes = RandomBytes(static_cast<size_t>(state.range(0)), 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(genisys::Crc16(bytes.data(), bytes.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc16)->Arg(16)->Arg(1024);

// Configuration write requests (14 record bytes, some escaped), every flag combination.
void BM_EncodeFrame(benchmark::State &state)
{
    const Bytes record = {0x01, 0xF0, 0x03, 0xF6, 0x05, 0x06, 0xFF, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E};
    uint8_t out[genisys::MaxWireLength(14)];
    int64_t wire = 0;
    int flags = 0;
    for (auto _ : state) {
        wire += static_cast<int64_t>(genisys::EncodeFrame(0xFC, static_cast<uint8_t>(flags * 37), record.data(),
                                                          record.size(), flags, out));
        benchmark::DoNotOptimize(out);
        flags = (flags + 1) & 7;
    }
    state.SetBytesProcessed(wire);
}
BENCHMARK(BM_EncodeFrame);

// SendFrame with its log line formatted and dropped; the port is closed, so no write happens.
void BM_SendFrameLogged(benchmark::State &state)
{
    LogWithoutPage();
    theLink.Close();
    const Bytes record(14, 0x5A);
    for (auto _ : state)
        benchmark::DoNotOptimize(theLink.SendFrame(0xFC, 1, record.data(), 14, SEND_CRC | SEND_CONFIG));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_SendFrameLogged);

// The decoder alone on mixed traffic: every line made, reported and dropped.
void BM_DecodeMixedTrafficCore(benchmark::State &state)
{
    genisys::SilentEvents events;
    CGenisysProtocol link(&events);
    std::mt19937 rng(42);
    const Bytes traffic = MixedTraffic(rng, 20000);
    for (auto _ : state)
        FeedInChunks(link, traffic);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * traffic.size()));
}
BENCHMARK(BM_DecodeMixedTrafficCore)->Unit(benchmark::kMillisecond);

// The program's receive path on mixed traffic: every line (polls and acknowledgements too)
// formatted, time-stamped and queued for the window.
void BM_DecodeMixedTraffic(benchmark::State &state)
{
    LogWithoutPage();
    std::mt19937 rng(42);
    const Bytes traffic = MixedTraffic(rng, 20000);
    for (auto _ : state)
        FeedInChunks(theLink, traffic);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * traffic.size()));
}
BENCHMARK(BM_DecodeMixedTraffic)->Unit(benchmark::kMillisecond);

// The same through the in-memory page with "Show Polls/ACKs" ticked: poll and acknowledge
// lines are formatted too, and the modelled control keeps and trims the text.
void BM_DecodeMixedTrafficShown(benchmark::State &state)
{
    fake::Page page;
    fake::AddCommsControls(page);
    fake::DeferUiCalls(true);
    theComms.m_showPolls = true;
    theComms.m_hwndPage = page.handle();
    std::mt19937 rng(42);
    const Bytes traffic = MixedTraffic(rng, 20000);
    for (auto _ : state)
        FeedInChunks(theLink, traffic);
    theComms.m_hwndPage = nullptr;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * traffic.size()));
}
BENCHMARK(BM_DecodeMixedTrafficShown)->Unit(benchmark::kMillisecond);

// The recorded line capture: mostly CRC failures with long dumps.
void BM_DecodeCapture(benchmark::State &state)
{
    LogWithoutPage();
    std::ifstream in(KLP_CAPTURE_FILE, std::ios::binary);
    const Bytes capture((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (capture.empty()) {
        state.SkipWithError("capture file missing");
        return;
    }
    for (auto _ : state)
        FeedInChunks(theLink, capture);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * capture.size()));
}
BENCHMARK(BM_DecodeCapture);

}  // namespace
