// `klp monitor` and `klp decode`: the decoder's lines from a live port until Ctrl-C or a time
// limit, or from a raw byte capture, with the poll/ack counter and the stations' summary.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "genisys/genisys_protocol.h"
#include "klp/capture_decode.h"
#include "klp/capture_reader.h"
#include "klp/commands.h"
#include "klp/line_printer.h"
#include "klp/output.h"
#include "klp/pcap_writer.h"
#include "klp/signals.h"

namespace klp {

namespace {

// The link of a monitor: after each chunk the decoder has taken, what it printed goes out, so
// a reader of the output or the log is never more than one chunk behind.
class MonitorLink : public CGenisysProtocol {
public:
    MonitorLink(LinePrinter *printer, PcapWriter *pcap)
        : CGenisysProtocol(printer), m_printer(printer), m_pcap(pcap)
    {
    }
    ~MonitorLink() override { Close(); }

    void OnReceive(const uint8_t *bytes, uint32_t count) override
    {
        if (m_pcap)
            m_pcap->Add(bytes, count);
        CGenisysProtocol::OnReceive(bytes, count);
        m_printer->Flush();
        if (m_pcap && !m_pcap->Flush())
            ProcessStop().Raise(StopReason::kLogFailed);
    }

private:
    LinePrinter *m_printer;
    PcapWriter *m_pcap;
};

std::chrono::milliseconds Limit(double seconds)
{
    return std::chrono::milliseconds(seconds < 0 ? -1
                                                 : static_cast<long long>(seconds * 1000 + 0.5));
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

}  // namespace

int RunMonitor(const MonitorOptions &o)
{
    CatchInterrupts();  // before the port's reader thread starts, which inherits it
    StopSignal &stop = ProcessStop();
    std::FILE *log = nullptr;
    if (!o.log.empty() && (log = std::fopen(o.log.c_str(), "ab")) == nullptr)
        return Fail(kExitFile, "cannot open the log file %s for appending: %s.", o.log.c_str(),
                    std::strerror(errno));
    PcapWriter pcap;
    if (!o.pcap.empty() && !pcap.Open(o.pcap, o.port.port)) {
        if (log)
            std::fclose(log);
        return Fail(kExitFile, "cannot create the capture %s: %s.", o.pcap.c_str(),
                    std::strerror(errno));
    }
    PrintOptions print;
    print.polls = o.polls;
    print.json = o.json;
    print.log = log;
    LinePrinter printer(print, &stop);
    int code;
    {
        MonitorLink link(&printer, o.pcap.empty() ? nullptr : &pcap);
        link.SetCrc(o.crc);
        code = OpenPort(link, o.port);
        if (code == kExitOk) {
            const StopReason reason = stop.WaitFor(Limit(o.duration));
            link.Close();  // the reader is done with the printer from here on
            code = Finish(printer, reason, o, !pcap.Flush());
        }
    }
    if (log && std::fclose(log) != 0 && code == kExitOk)
        code = Fail(kExitFile, "cannot write to the log file %s.", o.log.c_str());
    if (!pcap.Close() && code == kExitOk)  // a failure said already leaves code set
        code = Fail(kExitFile, "cannot write to the capture %s.", o.pcap.c_str());
    return code;
}

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
        if (!fromStdin)
            std::fclose(in);
        if (fromStdin)
            return Fail(kExitFile, "a network capture is read from a file: give its name.");
        return RunCaptureDecode(o);
    }
    if (!fromStdin && NamedLikeACapture(o.file)) {
        std::fclose(in);
        return Fail(kExitFile, "%s is neither a pcap nor a pcapng capture (its first bytes are no "
                    "capture's); raw line bytes are decoded from a file of another name.",
                    o.file.c_str());
    }
    PrintOptions print;
    print.polls = o.polls;
    print.json = o.json;
    print.stamped = false;  // a capture has no times of its own
    LinePrinter printer(print, nullptr);
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
    printer.PrintCounter();
    if (o.summary)
        printer.PrintSummary();
    printer.Flush();
    return kExitOk;
}

}  // namespace klp
