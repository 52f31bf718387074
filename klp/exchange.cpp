// The configuration exchange with one unit at a time, with time limits: read, write and commit
// on the link, and what the line says back, sorted into answers, garbled answers and strays.
#include "klp/exchange.h"

#include <cstdio>
#include <cstring>

#include "comms/log_line.h"
#include "klp/output.h"
#include "platform/clock.h"

namespace klp {

namespace {

constexpr int kConfigSend = genisys::SEND_CRC | genisys::SEND_CONFIG;
constexpr size_t kMaxHeard = 64;  // far more than one exchange can bring

}  // namespace

UnitLink::UnitLink(const PortOptions &o) : m_options(o) {}

UnitLink::~UnitLink() { m_link.Close(); }

int UnitLink::Open() { return OpenPort(m_link, m_options); }

void UnitLink::OnLine(const genisys::LineEvent &line)
{
    if (line.kind == genisys::LineKind::kCrcFailed) {
        Heard h;
        h.crcFailed = true;
        h.header = line.header;
        h.address = line.address;
        Push(h);
    }
    if (!m_options.verbose || line.kind == genisys::LineKind::kPollOrAck)
        return;
    // As the Comms page logs it: time, TAB, the filtered text.
    logline::Message m;
    if (!logline::FromText(m, line.text, line.length))
        return;
    char time[logline::kMaxStampLength + 1];
    sys::TimeText(time, sizeof time);
    char text[logline::kBufferSize];
    const size_t n = logline::Build(text, time, m);
    std::fprintf(stderr, "%.*s\n", static_cast<int>(n - 2), text);
}

void UnitLink::OnConfigFrame(const uint8_t *frame, uint8_t length, uint32_t)
{
    Heard h;
    h.header = frame[0];
    h.address = length > 1 ? frame[1] : -1;
    h.length = length;
    std::memcpy(h.bytes, frame, length);
    Push(h);
}

void UnitLink::OnPortStalled()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stalled = true;
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
    m_changed.wait_until(lock, deadline, [this] { return m_stalled || !m_heard.empty(); });
    if (m_stalled || m_heard.empty())
        return false;
    *out = m_heard.front();
    m_heard.pop_front();
    return true;
}

bool UnitLink::KeepStray(const Heard &h)
{
    config::ReadResponse response;
    if (h.crcFailed || !config::ParseReadResponse(h.bytes, h.length, &response))
        return false;
    m_strays.push_back({response.address, response});
    return true;
}

UnitLink::Answer UnitLink::PortFailure(const char *doing)
{
    Answer a;
    a.outcome = Outcome::kPortFailed;
    a.problem = std::string("port ") + m_options.port + " stopped working while " + doing;
    return a;
}

UnitLink::Answer UnitLink::Read(uint8_t address, Ms wait)
{
    if (!m_link.SendFrame(genisys::kHdrPoll, address, nullptr, 0, kConfigSend))
        return PortFailure("sending the read request");
    const Clock::time_point deadline = Clock::now() + wait;
    Answer answer;
    Heard h;
    while (Next(deadline, &h)) {
        if (h.address != address) {
            KeepStray(h);
            continue;
        }
        if (h.crcFailed) {
            // It may be other traffic of that station: a good answer may still follow.
            answer.outcome = Outcome::kGarbled;
            answer.problem = "a frame with a bad CRC";
            continue;
        }
        // Acknowledgements, and requests echoed by the line or sent by another tool.
        if (h.header != genisys::kHdrIndication)
            continue;
        if (!config::ParseReadResponse(h.bytes, h.length, &answer.response)) {
            answer.outcome = Outcome::kGarbled;
            answer.problem = "a read response of " + std::to_string(h.length) + " bytes (not " +
                             std::to_string(config::kReadResponseLength) + ")";
            return answer;
        }
        answer.outcome = Outcome::kAnswered;
        answer.problem.clear();
        return answer;
    }
    if (m_stalled)
        return PortFailure("waiting for the answer");
    return answer;
}

UnitLink::Answer UnitLink::Write(uint8_t address, const ConfigRecord &record, Ms wait)
{
    if (!m_link.SendFrame(genisys::kHdrControl, address, record.bytes(),
                          static_cast<int>(ConfigRecord::kSize), kConfigSend))
        return PortFailure("sending the record");
    const Clock::time_point deadline = Clock::now() + wait;
    Answer answer;
    Heard h;
    while (Next(deadline, &h)) {
        if (KeepStray(h))
            continue;
        if (h.crcFailed && h.address == address) {
            answer.outcome = Outcome::kGarbled;
            answer.problem = "a frame with a bad CRC";
        } else if (!h.crcFailed && h.header == genisys::kHdrAckSlave) {
            if (h.address == address) {
                answer.outcome = Outcome::kAnswered;
                answer.problem.clear();
                return answer;
            }
            // Only the unit written to may lead to a commit; keep waiting for it.
            answer.outcome = Outcome::kGarbled;
            answer.problem = "an acknowledgement from address " + std::to_string(h.address);
        }
    }
    if (m_stalled)
        return PortFailure("waiting for the acknowledgement");
    return answer;
}

bool UnitLink::Commit(uint8_t slaveId)
{
    return m_link.SendFrame(genisys::kHdrCommit, slaveId, nullptr, 0, kConfigSend) != 0;
}

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
