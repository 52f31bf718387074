// The configuration exchange with one unit at a time, with time limits: read, write and commit
// through the core's exchange, and what the line says back, sorted into answers, garbled
// answers and strays.
#include "klp/unit_link.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "comms/log_line.h"
#include "klp/signals.h"
#include "platform/clock.h"

namespace klp {

namespace {

using config::Verdict;

constexpr size_t kMaxHeard = 512;  // a burst scan's answers, with room for noise

bool Taken(Verdict v) { return v == Verdict::kAnswer || v == Verdict::kRepeat; }

}  // namespace

UnitLink::UnitLink(const PortOptions &o) : m_options(o)
{
    ProcessStop().OnRaise([this] { Wake(); });
}

UnitLink::~UnitLink()
{
    ProcessStop().OnRaise(nullptr);
    m_link.Close();
}

int UnitLink::Open() { return OpenPort(m_link, m_options); }

void UnitLink::OnLine(const genisys::LineEvent &line)
{
    if (line.kind == genisys::LineKind::kCrcFailed) {
        Heard h;
        h.crcFailed = true;
        h.header = line.header;
        h.address = line.address;
        h.tick = sys::TickCount();
        Push(h);
    }
    if (!m_options.verbose || !logline::Shows(line, false))
        return;
    // As the Comms page logs it: time, TAB, the filtered text.
    logline::Message m;
    if (!logline::FromText(m, line.text, line.length))
        return;
    logline::StampedLine s;
    s.ReadClock(false);
    s.Build(m);
    std::fprintf(stderr, "%.*s\n", static_cast<int>(s.length - 2), s.line);
}

void UnitLink::OnConfigFrame(const uint8_t *frame, uint8_t length, uint32_t arrivalTick)
{
    Heard h;
    h.header = frame[0];
    h.address = length > 1 ? frame[1] : -1;
    h.length = length;
    h.tick = arrivalTick;
    std::memcpy(h.bytes, frame, length);
    Push(h);
}

void UnitLink::OnPortStalled()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stalled = true;
    m_changed.notify_all();
}

void UnitLink::Wake()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_changed.notify_all();
}

void UnitLink::Push(const Heard &h)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_heard.size() >= kMaxHeard)
        m_heard.pop_front();
    m_heard.push_back(h);
    m_changed.notify_all();
}

bool UnitLink::Next(Clock::time_point deadline, Heard *out)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_until(lock, deadline, [this] {
        return m_stalled || ProcessStop().Raised() || !m_heard.empty();
    });
    if (m_stalled || ProcessStop().Raised() || m_heard.empty())
        return false;
    *out = m_heard.front();
    m_heard.pop_front();
    return true;
}

UnitLink::Answers UnitLink::Failure(const char *doing) const
{
    Answers a;
    if (ProcessStop().Raised())
        a.interrupted = true;
    else if (m_stalled)
        a.portFailure = "port " + m_options.port + " stopped working while " + doing;
    return a;
}

bool UnitLink::KeepStray(const Heard &h)
{
    config::ReadResponse response;
    if (h.crcFailed || !config::ParseReadResponse(h.bytes, h.length, &response))
        return false;
    m_strays.push_back({response.address, response});
    return true;
}

std::string UnitLink::GarbledText(const Heard &h)
{
    if (h.crcFailed)
        return "a frame with a bad CRC";
    return "a read response of " + std::to_string(h.length) + " bytes (not " +
           std::to_string(config::kReadResponseLength) + ")";
}

bool UnitLink::GarbledFrom(const Heard &h, const config::Request &r)
{
    return h.address == r.address && config::TimingOf(r, h.tick) == config::Timing::kInside;
}

bool UnitLink::SendRead(config::Request &r, uint8_t address)
{
    return config::SendReadRequest(m_link, r, address) != 0;
}

UnitLink::Answers UnitLink::Read(uint8_t address, Ms wait)
{
    if (!m_exchange.SendRead(m_link, address))
        return Failure("sending the read request");
    const Clock::time_point deadline = Clock::now() + wait;
    Answers answers;
    Heard h;
    while (Next(deadline, &h)) {
        const config::Request &request = m_exchange.Read();
        // A bad CRC may be other traffic of that station: a good answer may still follow.
        const config::Judgement j = h.crcFailed ? config::Judgement{}
                                                : m_exchange.Judge(h.bytes, h.length, h.tick);
        if (h.crcFailed || j.verdict == Verdict::kMalformed) {
            if (GarbledFrom(h, request) && answers.responses.empty())
                answers.garbled = GarbledText(h);
            continue;
        }
        if (j.kind != config::RequestKind::kRead || j.verdict == Verdict::kNotAnAnswer)
            continue;  // acknowledgements, and requests echoed or sent by another tool
        if (!Taken(j.verdict)) {
            KeepStray(h);  // late, from elsewhere, or heard before this request went out
            continue;
        }
        config::ReadResponse response;
        config::ParseReadResponse(h.bytes, h.length, &response);
        answers.responses.push_back(response);
        answers.garbled.clear();  // whatever else was heard, the unit answered
    }
    const Answers failed = Failure("waiting for the answer");
    if (failed.Failed())
        return failed;
    return answers;
}

UnitLink::Answers UnitLink::ReadTrying(uint8_t address, Ms wait, int tries, int *used)
{
    Answers a;
    int n = 0;
    for (; n < tries && !a.Heard() && !a.Failed(); ++n) {
        if (n > 0 && TakeLateAnswer(address, &a))
            break;
        a = Read(address, wait);
    }
    if (used)
        *used = n;
    return a;
}

// A unit slower than the wait answers inside the window of the next request, where its answer
// would pass for the answer to that one and the unit's second answer for a second unit: the
// rest of the latest request's window runs out before another is sent.
bool UnitLink::TakeLateAnswer(uint8_t address, Answers *a)
{
    const uint32_t open = m_exchange.Read().requestTick + config::kResponseMs - sys::TickCount();
    const Clock::time_point deadline =
        Clock::now() + Ms(static_cast<int32_t>(open) > 0 ? static_cast<int32_t>(open) : 0);
    const size_t before = m_strays.size();  // older strays answered earlier requests
    Heard h;
    while (Next(deadline, &h))
        KeepStray(h);
    *a = Failure("waiting for the answer");
    const auto late = std::stable_partition(
        m_strays.begin() + static_cast<std::ptrdiff_t>(before), m_strays.end(),
        [address](const Stray &s) { return s.address != address; });
    for (auto s = late; s != m_strays.end(); ++s)
        a->responses.push_back(s->response);
    m_strays.erase(late, m_strays.end());
    return a->Heard() || a->Failed();
}

UnitLink::Answers UnitLink::Write(uint8_t address, const ConfigRecord &record, Ms wait)
{
    if (!m_exchange.SendWrite(m_link, address, record))
        return Failure("sending the record");
    const Clock::time_point deadline = Clock::now() + wait;
    Answers answers;
    Heard h;
    while (Next(deadline, &h)) {
        const config::Request &request = m_exchange.Write();
        if (h.crcFailed) {
            if (GarbledFrom(h, request) && answers.acks == 0)
                answers.garbled = GarbledText(h);
            continue;
        }
        if (KeepStray(h))
            continue;
        const config::Judgement j = m_exchange.Judge(h.bytes, h.length, h.tick);
        if (j.kind != config::RequestKind::kWrite)
            continue;
        if (Taken(j.verdict)) {
            ++answers.acks;
            answers.garbled.clear();
            answers.heardInstead.clear();
        } else if (j.verdict == Verdict::kOtherAddress && answers.acks == 0) {
            // Only the unit written to may lead to a commit; keep waiting for it.
            answers.heardInstead = "an acknowledgement from address " + std::to_string(j.address);
        }
        // Late ones, and those heard before the write went out, answer nothing.
    }
    const Answers failed = Failure("waiting for the acknowledgement");
    if (failed.Failed())
        return failed;
    return answers;
}

bool UnitLink::Commit() { return m_exchange.SendCommit(m_link) != 0; }

std::vector<UnitLink::Stray> UnitLink::TakeStrays(Ms wait)
{
    const Clock::time_point deadline = Clock::now() + wait;
    Heard h;
    while (Next(deadline, &h))
        KeepStray(h);
    std::vector<Stray> out;
    out.swap(m_strays);
    return out;
}

}  // namespace klp
