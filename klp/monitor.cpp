// `klp monitor` and `klp decode`: the decoder's lines from a live port until Ctrl-C or a time
// limit, or from a raw byte capture, with the poll/ack counter and the stations' summary.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "genisys/genisys_protocol.h"
#include "klp/capture_decode.h"
#include "klp/capture_reader.h"
#include "klp/commands.h"
#include "klp/line_printer.h"
#include "klp/metrics.h"
#include "klp/pcap_writer.h"
#include "klp/output.h"
#include "klp/signals.h"

namespace klp {

namespace {

// What the link reports goes to the printer and, with --metrics, to the metrics too.
class MonitorEvents : public genisys::LinkEvents {
public:
    MonitorEvents(LinePrinter *printer, LineMetrics *metrics) : m_printer(printer), m_metrics(metrics) {}

    void OnLine(const genisys::LineEvent &line) override
    {
        if (m_metrics)
            m_metrics->OnLine(line);
        m_printer->OnLine(line);
    }
    void OnCounters(uint32_t, uint32_t) override {}  // the printer counts the lines
    void OnConfigFrame(const uint8_t *, uint8_t, uint32_t) override {}
    void OnCrcChosen(genisys::CrcChoice crc) override { m_printer->OnCrcChosen(crc); }
    void OnPortStalled() override
    {
        if (m_metrics)
            m_metrics->SetPortState(PortState::kStalled);
        m_printer->OnPortStalled();
    }

private:
    LinePrinter *m_printer;
    LineMetrics *m_metrics;
};

// The link of a monitor: after each chunk the decoder has taken, what it printed goes out, so
// a reader of the output or the log is never more than one chunk behind.
class MonitorLink : public CGenisysProtocol {
public:
    MonitorLink(MonitorEvents *events, LinePrinter *printer, LineMetrics *metrics, PcapWriter *pcap)
        : CGenisysProtocol(events), m_printer(printer), m_metrics(metrics), m_pcap(pcap)
    {
    }
    ~MonitorLink() override { Close(); }

    void OnReceive(const uint8_t *bytes, uint32_t count) override
    {
        ++m_inside;
        if (m_metrics)
            m_metrics->OnBytes(count);
        if (m_pcap)
            m_pcap->Add(bytes, count);
        CGenisysProtocol::OnReceive(bytes, count);
        m_printer->Flush();
        if (m_pcap && !m_pcap->Flush())
            ProcessStop().Raise(StopReason::kLogFailed);
        --m_inside;
    }

    // After Close: the reader is still printing (Close gave up on it, as on output that
    // nobody reads), so the decoder, the printer and the streams are still its.
    bool ReaderLeftBehind() const { return m_inside.load() != 0; }

private:
    LinePrinter *m_printer;
    LineMetrics *m_metrics;
    PcapWriter *m_pcap;
    std::atomic<int> m_inside{0};
};

constexpr auto kInterruptGrace = std::chrono::milliseconds(1500);

// Says why klp ends without its counter and ends it as it stands: no stream is flushed or
// closed, nothing is freed, so a reader still printing touches nothing gone. The sentence
// goes from a thread of its own, as standard error may be the same stuck pipe.
[[noreturn]] void EndNow(const char *why)
{
    std::thread([why] {
        std::fprintf(stderr, "klp: %s\n", why);
        std::fflush(stderr);
    }).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::_Exit(kExitFile);
}

// Ctrl-C ends klp within 2 s whatever its output does: should the run not be over by
// kInterruptGrace after it (a reader stuck on output nobody reads, a counter line that
// cannot go out), the process ends there.
class InterruptDeadline {
public:
    explicit InterruptDeadline(StopSignal &stop) : m_state(std::make_shared<State>())
    {
        std::shared_ptr<State> state = m_state;
        std::thread([&stop, state] {
            stop.WaitForInterrupt();
            std::unique_lock<std::mutex> lock(state->mutex);
            if (!state->done.wait_for(lock, kInterruptGrace, [&] { return state->over; }))
                EndNow("standard output is not taking lines; stopped without the counter.");
        }).detach();  // waits for a Ctrl-C that may never come; ends with the process
    }
    ~InterruptDeadline()
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->over = true;
        m_state->done.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        bool over = false;
    };
    std::shared_ptr<State> m_state;
};

using Clock = std::chrono::steady_clock;

// What is left of --duration (negative: no limit).
std::chrono::milliseconds Remaining(double seconds, Clock::time_point start)
{
    if (seconds < 0)
        return std::chrono::milliseconds(-1);
    const auto end = start + std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

// With --reopen: tries the port once a second until it opens again, Ctrl-C or --duration.
bool Reopen(CSerialCom &link, const MonitorOptions &o, Clock::time_point start, StopReason *reason)
{
    for (;;) {
        std::chrono::milliseconds wait = Remaining(o.duration, start);
        if (wait.count() < 0 || wait > std::chrono::milliseconds(1000))
            wait = std::chrono::milliseconds(1000);
        *reason = ProcessStop().WaitFor(wait);
        if (*reason != StopReason::kNone || Remaining(o.duration, start).count() == 0)
            return false;
        if (TryOpenPort(link, o.port))
            return true;
    }
}

// The end of a run: the counter and summary unless nobody reads them, then how it ended.
int Finish(LinePrinter &printer, StopReason reason, const MonitorOptions &o, bool pcapFailed)
{
    if (reason != StopReason::kOutputClosed) {
        printer.PrintCounter();
        if (o.summary)
            printer.PrintSummary();
        printer.Flush();
    }
    switch (reason) {
    case StopReason::kPortStalled:
        return Fail(kExitPort, "%s", LostPortText(o.port).c_str());
    case StopReason::kLogFailed:
        if (pcapFailed)
            return Fail(kExitFile, "cannot write to the capture %s.", o.pcap.c_str());
        return Fail(kExitFile, "cannot write to the log file %s.", o.log.c_str());
    default:
        return kExitOk;
    }
}

// Watches the port until Ctrl-C, --duration, or a reason to stop; with --reopen a port that
// stopped answering (an unplugged adapter) is waited for and watched again when it is back.
int Watch(const MonitorOptions &o, MonitorEvents &events, LinePrinter &printer,
          LineMetrics *metrics, PcapWriter *pcap)
{
    const Clock::time_point start = Clock::now();
    StopSignal &stop = ProcessStop();
    StopReason reason = StopReason::kNone;
    for (bool first = true;; first = false) {
        MonitorLink link(&events, &printer, metrics, pcap);
        link.SetCrc(o.crc);
        if (first) {
            if (const int code = OpenPort(link, o.port))
                return code;
        } else if (!Reopen(link, o, start, &reason)) {
            break;
        } else {
            Note("port %s is back; watching it again.", o.port.port.c_str());
        }
        if (metrics)
            metrics->SetPortState(PortState::kOpen);
        reason = stop.WaitFor(Remaining(o.duration, start));
        link.Close();  // the reader is done with the printer from here on...
        if (link.ReaderLeftBehind())  // ...unless Close gave up on it
            EndNow("the port's reader is stuck on output nobody reads; stopped without the "
                   "counter.");
        if (reason != StopReason::kPortStalled || !o.reopen)
            break;
        std::string lost = LostPortText(o.port);
        lost.pop_back();  // its full stop
        Note("%s; waiting for it to come back.", lost.c_str());
        if (metrics)
            metrics->SetPortState(PortState::kReopening);
        stop.Clear(StopReason::kPortStalled);
    }
    return Finish(printer, reason, o, pcap && !pcap->Flush());
}

}  // namespace

int RunMonitor(const MonitorOptions &o)
{
    // A service's log is reopened on SIGHUP, after logrotate moved it.
    CatchInterrupts(!o.log.empty());  // before the port's reader thread starts, which inherits it
    InterruptDeadline deadline(ProcessStop());
    PrintOptions print;
    print.polls = o.polls;
    print.json = o.json;
    print.stamp = o.time == "iso" ? Stamp::kIso
                                  : o.time == "ms" ? Stamp::kMilliseconds : Stamp::kPage;
    LinePrinter printer(print, &ProcessStop());
    if (!o.log.empty() && !printer.OpenLog(o.log))
        return Fail(kExitFile, "cannot open the log file %s for appending: %s.", o.log.c_str(),
                    std::strerror(errno));
    PcapWriter pcap;
    if (!o.pcap.empty() && !pcap.Open(o.pcap, o.port.port)) {
        const int error = errno;
        printer.CloseLog();
        return Fail(kExitFile, "cannot create the capture %s: %s.", o.pcap.c_str(),
                    std::strerror(error));
    }
    LineMetrics metrics(o.port.port);
    int code = kExitOk;
    std::unique_ptr<MetricsServer> server;
    if (!o.metrics.empty() && !(server = ServeMetrics(o.metrics, metrics, &code))) {
        printer.CloseLog();
        return code;
    }
    LineMetrics *served = server ? &metrics : nullptr;
    MonitorEvents events(&printer, served);
    code = Watch(o, events, printer, served, o.pcap.empty() ? nullptr : &pcap);
    if (!printer.CloseLog() && code == kExitOk)
        code = Fail(kExitFile, "cannot write to the log file %s.", o.log.c_str());
    if (!pcap.Close() && code == kExitOk)  // a failure said already leaves code set
        code = Fail(kExitFile, "cannot write to the capture %s.", o.pcap.c_str());
    return code;
}

namespace {

// A name that says network capture on bytes that are none: refused rather than decoded as
// line bytes, which would print pages of unknown data.
bool NamedLikeACapture(const std::string &name)
{
    for (const char *ending : {".pcap", ".pcapng", ".cap"}) {
        const size_t n = std::strlen(ending);
        if (name.size() >= n && name.compare(name.size() - n, n, ending) == 0)
            return true;
    }
    return false;
}

}  // namespace

int RunDecode(const DecodeOptions &o)
{
    // A decode prints far faster than a person reads: output in large blocks.
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    const bool fromStdin = o.file.empty() || o.file == "-";
    std::FILE *in = fromStdin ? stdin : std::fopen(o.file.c_str(), "rb");
    if (in == nullptr)
        return Fail(kExitFile, "cannot open the capture %s: %s.", o.file.c_str(),
                    std::strerror(errno));
    // Told by its first bytes: a network capture, or the line's raw bytes.
    uint8_t head[4];
    const size_t headLength = std::fread(head, 1, sizeof head, in);
    const FileKind kind = KindOfCapture(head, headLength);
    if (kind != FileKind::kRaw) {
        if (fromStdin)
            return Fail(kExitFile, "a network capture is read from a file: give its name.");
        std::fclose(in);
        return RunCaptureDecode(o);
    }
    if (!fromStdin && NamedLikeACapture(o.file)) {
        std::fclose(in);
        return Fail(kExitFile, "%s is neither a pcap nor a pcapng capture (its first bytes are no "
                    "capture's); raw line bytes are decoded from a file of another name.",
                    o.file.c_str());
    }
    LinePrinter printer(DecodePrintOptions(o), nullptr);
    CGenisysProtocol decoder(&printer);
    decoder.SetCrc(o.crc);
    decoder.OnReceive(head, static_cast<uint32_t>(headLength));
    // Chunks as the serial port hands them on; the decoder does not care where they split.
    uint8_t chunk[1024];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0)
        decoder.OnReceive(chunk, static_cast<uint32_t>(n));
    const bool readFailed = std::ferror(in) != 0;
    if (!fromStdin)
        std::fclose(in);
    if (readFailed)
        return Fail(kExitFile, "cannot read the capture %s.",
                    fromStdin ? "on standard input" : o.file.c_str());
    FinishDecode(o, printer);
    return kExitOk;
}

}  // namespace klp
