// The configuration exchange's rules: requests out, and which frame answers which request.
#include "config/exchange.h"

#include "config/read_response.h"
#include "genisys/genisys_protocol.h"
#include "platform/clock.h"

namespace config {

namespace {

constexpr size_t kAnswerAddress = 1;  // the answering unit's address in its frame

void Begin(Request &r, uint8_t address)
{
    r.made = true;
    r.address = address;
    r.answers = 0;
    r.sendTick = sys::TickCount();
    r.requestTick = r.sendTick;
}

}  // namespace

Timing TimingOf(const Request &r, uint32_t arrivalTick)
{
    // Unsigned differences stay right across the tick's wrap; an arrival up to 2^31 ms before
    // the send reads as before it.
    const uint32_t sinceSend = arrivalTick - r.sendTick;
    if (static_cast<int32_t>(sinceSend) < 0)
        return Timing::kBefore;
    const uint32_t sending = r.requestTick - r.sendTick;
    return sinceSend < sending + kResponseMs ? Timing::kInside : Timing::kAfter;
}

Verdict JudgeAnswer(Request &r, uint8_t address, uint32_t arrivalTick)
{
    if (!r.made)
        return Verdict::kUnasked;
    switch (TimingOf(r, arrivalTick)) {
    case Timing::kBefore:
        return Verdict::kUnasked;
    case Timing::kAfter:
        return Verdict::kLate;
    case Timing::kInside:
        break;
    }
    if (r.address != kAnyAddress && address != r.address)
        return Verdict::kOtherAddress;
    return ++r.answers == 1 ? Verdict::kAnswer : Verdict::kRepeat;
}

int SendReadRequest(CGenisysProtocol &link, Request &r, uint8_t address)
{
    Begin(r, address);
    const int sent = link.SendFrame(genisys::kHdrPoll, address, nullptr, 0, kConfigSend);
    r.requestTick = sys::TickCount();
    return sent;
}

int Exchange::SendRead(CGenisysProtocol &link, uint8_t address)
{
    return SendReadRequest(link, m_read, address);
}

int Exchange::SendWrite(CGenisysProtocol &link, uint8_t address, const ConfigRecord &record)
{
    Begin(m_write, address);
    // The commit goes to the slave ID just written, which differs when the write changed it.
    m_write.commitAddress = record.genisysSlaveId;
    const int sent = link.SendFrame(genisys::kHdrControl, address, record.Bytes(),
                                    static_cast<int>(ConfigRecord::kSize), kConfigSend);
    m_write.requestTick = sys::TickCount();
    return sent;
}

int Exchange::SendCommit(CGenisysProtocol &link) const
{
    return link.SendFrame(genisys::kHdrCommit, m_write.commitAddress, nullptr, 0, kConfigSend);
}

void Exchange::Reopen(RequestKind kind) { Of(kind).requestTick = sys::TickCount(); }

Judgement Exchange::Judge(const uint8_t *frame, size_t length, uint32_t arrivalTick)
{
    Judgement j;
    if (frame == nullptr || length == 0)
        return j;
    if (frame[0] == genisys::kHdrIndication) {
        j.kind = RequestKind::kRead;
        if (length != kReadResponseLength) {
            j.verdict = Verdict::kMalformed;
            j.address = length > kAnswerAddress ? frame[kAnswerAddress] : 0;
            return j;
        }
    } else if (frame[0] == genisys::kHdrAckSlave) {
        j.kind = RequestKind::kWrite;
        // The acknowledgement's data is not examined, but it must name who sent it.
        if (length <= kAnswerAddress) {
            j.verdict = Verdict::kMalformed;
            return j;
        }
    } else {
        return j;
    }
    j.address = frame[kAnswerAddress];
    j.verdict = JudgeAnswer(Of(j.kind), j.address, arrivalTick);
    return j;
}

}  // namespace config
