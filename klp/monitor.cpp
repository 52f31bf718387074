// `klp monitor` and `klp decode`: the decoder's lines from a live port until Ctrl-C or a time
// limit, or from a raw byte capture, with the poll/ack counter and the stations' summary.
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
#include "klp/commands.h"
#include "klp/line_printer.h"
#include "klp/output.h"
#include "klp/signals.h"

namespace klp {

namespace {

// The link of a monitor: after each chunk the decoder has taken, what it printed goes out, so
// a reader of the output or the log is never more than one chunk behind.
class MonitorLink : public CGenisysProtocol {
public:
    explicit MonitorLink(LinePrinter *printer) : CGenisysProtocol(printer), m_printer(printer) {}
    ~MonitorLink() override { Close(); }

    void OnReceive(const uint8_t *bytes, uint32_t count) override
    {
        ++m_inside;
        CGenisysProtocol::OnReceive(bytes, count);
        m_printer->Flush();
        --m_inside;
    }

    // After Close: the reader is still printing (Close gave up on it, as on output that
    // nobody reads), so the decoder, the printer and the streams are still its.
    bool ReaderLeftBehind() const { return m_inside.load() != 0; }

private:
    LinePrinter *m_printer;
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

std::chrono::milliseconds Limit(double seconds)
{
    return std::chrono::milliseconds(seconds < 0 ? -1
                                                 : static_cast<long long>(seconds * 1000 + 0.5));
}

// The end of a run: the counter and summary unless nobody reads them, then how it ended.
int Finish(LinePrinter &printer, StopReason reason, const MonitorOptions &o)
{
    if (reason != StopReason::kOutputClosed) {
        printer.PrintCounter();
        if (o.summary)
            printer.PrintSummary();
        printer.Flush();
    }
    switch (reason) {
    case StopReason::kPortStalled:
        return Fail(kExitPort, "port %s stopped responding (was the adapter unplugged?).",
                    o.port.port.c_str());
    case StopReason::kLogFailed:
        return Fail(kExitFile, "cannot write to the log file %s.", o.log.c_str());
    default:
        return kExitOk;
    }
}

}  // namespace

int RunMonitor(const MonitorOptions &o)
{
    CatchInterrupts();  // before the port's reader thread starts, which inherits it
    StopSignal &stop = ProcessStop();
    InterruptDeadline deadline(stop);
    std::FILE *log = nullptr;
    if (!o.log.empty() && (log = std::fopen(o.log.c_str(), "ab")) == nullptr)
        return Fail(kExitFile, "cannot open the log file %s for appending: %s.", o.log.c_str(),
                    std::strerror(errno));
    PrintOptions print;
    print.polls = o.polls;
    print.json = o.json;
    print.log = log;
    LinePrinter printer(print, &stop);
    int code;
    {
        MonitorLink link(&printer);
        code = OpenPort(link, o.port);
        if (code == kExitOk) {
            const StopReason reason = stop.WaitFor(Limit(o.duration));
            link.Close();  // the reader is done with the printer from here on...
            if (link.ReaderLeftBehind())  // ...unless Close gave up on it
                EndNow("the port's reader is stuck on output nobody reads; stopped without "
                       "the counter.");
            code = Finish(printer, reason, o);
        }
    }
    if (log && std::fclose(log) != 0 && code == kExitOk)
        code = Fail(kExitFile, "cannot write to the log file %s.", o.log.c_str());
    return code;
}

int RunDecode(const DecodeOptions &o)
{
    const bool fromStdin = o.file.empty() || o.file == "-";
    std::FILE *in = fromStdin ? stdin : std::fopen(o.file.c_str(), "rb");
    if (in == nullptr)
        return Fail(kExitFile, "cannot open the capture %s: %s.", o.file.c_str(),
                    std::strerror(errno));
    PrintOptions print;
    print.polls = o.polls;
    print.json = o.json;
    print.stamped = false;  // a capture has no times of its own
    LinePrinter printer(print, nullptr);
    CGenisysProtocol decoder(&printer);
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
    printer.PrintCounter();
    if (o.summary)
        printer.PrintSummary();
    printer.Flush();
    return kExitOk;
}

}  // namespace klp
