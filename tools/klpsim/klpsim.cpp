// klpsim: a virtual Kelpro unit and Genisys line on a pseudo-terminal, for tests and demos.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/klpsim/line_pace.h"
#include "tools/klpsim/options.h"
#include "tools/klpsim/pty.h"
#include "tools/klpsim/traffic.h"
#include "tools/klpsim/unit.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

constexpr int kMaxPollMs = 100;   // a signal between checks is seen this late at worst
constexpr int kLineWriteMs = 50;  // nobody reading: drop the bytes rather than hang

struct Pending {
    uint32_t dueMs;
    klpsim::Bytes bytes;
};

class Simulator {
public:
    explicit Simulator(const klpsim::Options &o)
        : m_o(o), m_traffic(o.stations), m_rx(o.lineBaud), m_tx(o.lineBaud) {}

    bool Start();
    int Run();

private:
    bool Due(uint32_t at, uint32_t now) const { return static_cast<int32_t>(at - now) <= 0; }
    int MsUntil(uint32_t at, uint32_t now) const;
    bool Paced() const { return m_o.lineBaud > 0; }
    // Whether the line can take more of the traffic or the replay: at a real rate they
    // wait for it rather than pile up ahead of the answers.
    bool LineFreeForTraffic() const { return !Paced() || m_tx.empty(); }
    bool LineFreeForReplay() const { return !Paced() || m_tx.size() < m_tx.sliceBytes(); }
    void Receive(uint32_t now);
    void Hear(const klpsim::Bytes &bytes, uint32_t now);
    void Send(const klpsim::Bytes &bytes, const char *what);
    void Queue(uint32_t dueMs, klpsim::Bytes bytes);
    void SendDue(uint32_t now);
    void SendReplay(uint32_t now);
    int WaitMs(uint32_t now, uint64_t nowNs) const;
    void Report(const char *direction, const klpsim::Bytes &bytes, const char *what) const;

    const klpsim::Options &m_o;
    klpsim::Pty m_pty;
    std::vector<klpsim::KelproUnit> m_units;
    klpsim::FrameAssembler m_assembler;
    klpsim::TrafficGenerator m_traffic;
    std::deque<Pending> m_answers;
    klpsim::LineQueue m_rx;  // with --line-baud: bytes received, not yet wholly arrived
    klpsim::LineQueue m_tx;  // with --line-baud: bytes sent, not yet wholly gone
    klpsim::Bytes m_replay;
    size_t m_replayAt = 0;
    FILE *m_capture = nullptr;
    uint32_t m_start = 0;
    uint32_t m_nextTraffic = 0;
    uint32_t m_nextReplay = 0;
};

bool Simulator::Start()
{
    for (const klpsim::UnitOptions &u : m_o.units) {
        ConfigRecord record = u.record;
        std::string why;
        if (!u.recordFile.empty() && access(u.recordFile.c_str(), F_OK) == 0 &&
            !klpsim::LoadRecord(u.recordFile, &record, &why)) {
            std::fprintf(stderr, "klpsim: %s\n", why.c_str());
            return false;
        }
        klpsim::KelproUnit unit(u.address, record);
        unit.firmwareMajor = u.firmwareMajor;
        unit.firmwareMinor = u.firmwareMinor;
        unit.mode = u.mode;
        unit.saveFile = u.recordFile;
        unit.resetMs = u.resetMs;
        unit.faults = u.faults;
        m_units.push_back(unit);
    }
    if (!m_o.replayFile.empty()) {
        std::ifstream in(m_o.replayFile, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "klpsim: cannot read %s\n", m_o.replayFile.c_str());
            return false;
        }
        m_replay.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (!m_o.captureFile.empty() && (m_capture = std::fopen(m_o.captureFile.c_str(), "wb")) == nullptr) {
        std::fprintf(stderr, "klpsim: cannot write %s\n", m_o.captureFile.c_str());
        return false;
    }
    if (!m_pty.Create()) {
        std::perror("klpsim: pseudo-terminal");
        return false;
    }
    if (!m_o.link.empty() && !m_pty.Link(m_o.link)) {
        std::perror(("klpsim: link " + m_o.link).c_str());
        return false;
    }
    std::printf("%s\n", m_pty.path().c_str());
    std::fflush(stdout);
    m_start = m_nextTraffic = m_nextReplay = klpsim::MonotonicMs();
    return true;
}

int Simulator::MsUntil(uint32_t at, uint32_t now) const
{
    const int32_t left = static_cast<int32_t>(at - now);
    return left < 0 ? 0 : left;
}

void Simulator::Report(const char *direction, const klpsim::Bytes &bytes, const char *what) const
{
    if (!m_o.verbose)
        return;
    std::fprintf(stderr, "%s %s:", direction, what);
    for (uint8_t b : bytes)
        std::fprintf(stderr, " %02X", b);
    std::fprintf(stderr, "\n");
}

void Simulator::Send(const klpsim::Bytes &bytes, const char *what)
{
    Report("tx", bytes, what);
    if (Paced())
        m_tx.Push(bytes, klpsim::MonotonicNs());
    else
        m_pty.Write(bytes, kLineWriteMs);
}

void Simulator::Receive(uint32_t now)
{
    const klpsim::Bytes bytes = m_pty.Read(0);
    if (m_capture != nullptr && !bytes.empty()) {
        std::fwrite(bytes.data(), 1, bytes.size(), m_capture);
        std::fflush(m_capture);  // the record is complete whenever the run ends
    }
    if (Paced())
        m_rx.Push(bytes, klpsim::MonotonicNs());  // heard once the line has carried them
    else
        Hear(bytes, now);
}

void Simulator::Hear(const klpsim::Bytes &bytes, uint32_t now)
{
    static const char *const kKindNames[] = {"genisys", "config", "bad-crc", "insecure"};
    klpsim::RxFrame frame;
    for (uint8_t b : bytes) {
        if (!m_assembler.Feed(b, &frame))
            continue;
        Report("rx", frame.bytes, kKindNames[frame.kind]);
        for (klpsim::KelproUnit &unit : m_units) {
            klpsim::Bytes answer = unit.Answer(frame, now);
            if (!unit.lastError.empty()) {
                std::fprintf(stderr, "klpsim: %s\n", unit.lastError.c_str());
                unit.lastError.clear();
            }
            if (!answer.empty())
                Queue(now + unit.faults.delayMs, std::move(answer));
        }
    }
}

// Units have delays of their own, so an answer may be due before one queued earlier; answers
// due at the same time keep the order they were given in.
void Simulator::Queue(uint32_t dueMs, klpsim::Bytes bytes)
{
    auto at = m_answers.end();
    while (at != m_answers.begin() && static_cast<int32_t>(std::prev(at)->dueMs - dueMs) > 0)
        --at;
    m_answers.insert(at, {dueMs, std::move(bytes)});
}

void Simulator::SendDue(uint32_t now)
{
    while (!m_answers.empty() && Due(m_answers.front().dueMs, now)) {
        Send(m_answers.front().bytes, "answer");
        m_answers.pop_front();
    }
    for (klpsim::KelproUnit &unit : m_units) {
        const klpsim::Bytes ack = unit.UnaskedAck(now);
        if (!ack.empty())
            Send(ack, "unasked ack");
    }
    if (m_o.trafficRate > 0 && Due(m_nextTraffic, now) && LineFreeForTraffic()) {
        Send(m_traffic.Next(), "traffic");
        const uint32_t interval = static_cast<uint32_t>(1000.0 / m_o.trafficRate);
        m_nextTraffic += interval > 0 ? interval : 1;
        if (!Due(now, m_nextTraffic + 1000))
            m_nextTraffic = now;  // fell far behind: do not burst to catch up
    }
    if (m_replayAt < m_replay.size() && Due(m_nextReplay, now) && LineFreeForReplay())
        SendReplay(now);
}

// At a rate, a slice every 10 ms; otherwise everything at once, or on a paced line as fast
// as it goes, a slice at a time so that answers still get a turn.
void Simulator::SendReplay(uint32_t now)
{
    const size_t all = Paced() ? m_tx.sliceBytes() : m_replay.size();
    const size_t slice = m_o.replayRate > 0 ? std::max<size_t>(1, m_o.replayRate / 100) : all;
    const size_t n = std::min(slice, m_replay.size() - m_replayAt);
    if (Paced()) {
        m_tx.Push(m_replay.data() + m_replayAt, n, klpsim::MonotonicNs());
        m_replayAt += n;
    } else {
        m_replayAt += m_pty.Write(m_replay.data() + m_replayAt, n, 1000);
    }
    m_nextReplay = now + 10;
}

// How long the line may sleep: until the next thing due to go out or to be heard, or a while.
// Traffic and replay waiting for a busy line wake with the line, not before.
int Simulator::WaitMs(uint32_t now, uint64_t nowNs) const
{
    int wait = kMaxPollMs;
    if (!m_answers.empty())
        wait = std::min(wait, MsUntil(m_answers.front().dueMs, now));
    if (m_o.trafficRate > 0 && LineFreeForTraffic())
        wait = std::min(wait, MsUntil(m_nextTraffic, now));
    if (m_replayAt < m_replay.size() && LineFreeForReplay())
        wait = std::min(wait, MsUntil(m_nextReplay, now));
    for (const klpsim::LineQueue *line : {&m_rx, &m_tx}) {
        if (!line->empty()) {  // rounded up: waking early would find nothing crossed yet
            const uint64_t at = line->NextSliceNs();
            wait = static_cast<int>(std::min<uint64_t>(wait, at <= nowNs ? 0 : (at - nowNs + 999999) / 1000000));
        }
    }
    uint32_t at = 0;
    for (const klpsim::KelproUnit &unit : m_units) {
        if (unit.UnaskedAckDue(&at))
            wait = std::min(wait, MsUntil(at, now));
    }
    return wait;
}

int Simulator::Run()
{
    while (!g_stop) {
        const uint64_t nowNs = klpsim::MonotonicNs();
        const uint32_t now = static_cast<uint32_t>(nowNs / 1000000);  // as MonotonicMs()
        if (m_o.durationMs >= 0 && now - m_start >= m_o.durationMs)
            break;
        if (m_o.vanishAfterMs >= 0 && now - m_start >= m_o.vanishAfterMs) {
            m_pty.HangUp();
            break;
        }
        if (Paced())
            Hear(m_rx.TakeCrossed(nowNs), now);
        SendDue(now);
        if (Paced()) {
            const klpsim::Bytes gone = m_tx.TakeCrossed(nowNs);
            if (!gone.empty())
                m_pty.Write(gone, kLineWriteMs);
        }
        pollfd p = {m_pty.masterFd(), POLLIN, 0};
        if (poll(&p, 1, WaitMs(now, nowNs)) > 0 && (p.revents & POLLIN))
            Receive(klpsim::MonotonicMs());
    }
    if (m_capture != nullptr)
        std::fclose(m_capture);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    klpsim::Options options;
    std::string error;
    if (!klpsim::ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "klpsim: %s\nTry 'klpsim --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(klpsim::HelpText().c_str(), stdout);
        return 0;
    }
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Simulator sim(options);
    if (!sim.Start())
        return 1;
    return sim.Run();
}
