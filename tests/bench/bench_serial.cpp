// Receive throughput of CSerialCom and the receive decoder over a pseudo-terminal, as a
// multiple of a 19200-baud line (1920 bytes a second), and CPU use while the line is idle.
#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <type_traits>

#include "app/sheet_events.h"
#include "comms/page/comms_dlg.h"
#include "genisys/genisys_protocol.h"
#include "tests/support/fakes.h"
#include "tools/klpsim/pty.h"
#include "tools/klpsim/traffic.h"

namespace {

constexpr double kLineBytesPerSecond = 1920.0;  // 19200 baud, 10 bits a byte
constexpr size_t kBlock = 64 * 1024;

// Counts what the reader hands on, after the decoder (or nothing) has handled it.
template <typename Base>
class Counting : public Base {
public:
    Counting()
    {
        // The decoder reports to the program's own log, as in the program.
        if constexpr (std::is_base_of_v<CGenisysProtocol, Base>)
            this->SetEvents(&theSheetEvents);
    }
    ~Counting() override { this->Close(); }

    void OnReceive(const uint8_t *bytes, uint32_t count) override
    {
        if (decode)
            Base::OnReceive(bytes, count);
        std::lock_guard<std::mutex> lock(m_lock);
        m_received += count;
        m_changed.notify_all();
    }

    bool WaitReceived(uint64_t total)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_received >= total; });
    }

    bool decode = false;

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    uint64_t m_received = 0;
};

// Ordinary Genisys traffic, whole frames, about kBlock bytes.
klpsim::Bytes TrafficBlock()
{
    klpsim::TrafficGenerator traffic({5, 17, 240});
    klpsim::Bytes block;
    while (block.size() < kBlock) {
        const klpsim::Bytes frame = traffic.Next();
        block.insert(block.end(), frame.begin(), frame.end());
    }
    return block;
}

long ProcessCpuUs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

template <typename Port>
void Receive(benchmark::State &state, bool decode)
{
    fake::ResetAll();
    theComms.m_hwndPage = nullptr;  // lines are formatted and queued, then go nowhere
    theComms.m_showPolls = true;
    klpsim::Pty peer;
    Counting<Port> port;
    port.decode = decode;
    if (!peer.Create() || port.Open(peer.path().c_str(), 19200) != 1) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const klpsim::Bytes block = TrafficBlock();
    uint64_t sent = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        sent += peer.Write(block, 10000);
        if (!port.WaitReceived(sent)) {
            state.SkipWithError("bytes went missing");
            return;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetBytesProcessed(static_cast<int64_t>(sent));
    // How many 19200-baud lines this would keep up with.
    state.counters["line_multiple"] = static_cast<double>(sent) / seconds / kLineBytesPerSecond;
}

// The reader thread and the decoder together, as the program runs.
void BM_SerialReceiveDecoded(benchmark::State &state) { Receive<CGenisysProtocol>(state, true); }
BENCHMARK(BM_SerialReceiveDecoded)->UseRealTime()->Unit(benchmark::kMillisecond);

// The transport alone.
void BM_SerialReceiveRaw(benchmark::State &state) { Receive<CSerialCom>(state, false); }
BENCHMARK(BM_SerialReceiveRaw)->UseRealTime()->Unit(benchmark::kMillisecond);

// An open port on a silent line: the reader must sleep in its wait.
void BM_SerialIdle(benchmark::State &state)
{
    klpsim::Pty peer;
    Counting<CSerialCom> port;
    if (!peer.Create() || port.Open(peer.path().c_str(), 19200) != 1) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const long cpuBefore = ProcessCpuUs();
    const auto wallBefore = std::chrono::steady_clock::now();
    for (auto _ : state)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double wallUs = std::chrono::duration<double, std::micro>(
                              std::chrono::steady_clock::now() - wallBefore).count();
    state.counters["cpu_percent"] = 100.0 * static_cast<double>(ProcessCpuUs() - cpuBefore) / wallUs;
}
BENCHMARK(BM_SerialIdle)->UseRealTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
