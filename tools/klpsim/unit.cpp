// The virtual Kelpro unit: frame assembly on the unit's side and its configuration answers.
#include "tools/klpsim/unit.h"

#include <unistd.h>

#include <cstdio>

#include "genisys/crc16.h"
#include "genisys/genisys_frame.h"

namespace klpsim {

namespace {

constexpr int kConfigFlags = genisys::SEND_CRC | genisys::SEND_CONFIG;

void PutEscaped(uint8_t value, Bytes *out)
{
    if (value < genisys::kEscape) {
        out->push_back(value);
        return;
    }
    out->push_back(genisys::kEscape);
    out->push_back(static_cast<uint8_t>(value - genisys::kEscape));
}

Bytes Unescape(const Bytes &held)
{
    Bytes out;
    for (size_t i = 0; i < held.size(); ++i) {
        if (held[i] == genisys::kEscape && i + 1 < held.size())
            out.push_back(static_cast<uint8_t>(held[++i] + genisys::kEscape));
        else
            out.push_back(held[i]);
    }
    return out;
}

}  // namespace

Bytes RxFrame::Data() const
{
    if (kind == kInsecure || bytes.size() < 5)
        return {};
    return Bytes(bytes.begin() + 2, bytes.end() - 3);
}

bool FrameAssembler::Feed(uint8_t byte, RxFrame *frame)
{
    if (genisys::IsHeaderByte(byte)) {
        m_held.assign(1, byte);
        m_inFrame = true;
        return false;
    }
    if (!m_inFrame)
        return false;  // noise between frames
    if (byte == genisys::kTerminator) {
        m_held.push_back(byte);
        *frame = Classify(m_held);
        m_held.clear();
        m_inFrame = false;
        return true;
    }
    if (m_held.size() >= kMaxHeld) {
        m_held.clear();  // overlong: not a frame of ours
        m_inFrame = false;
        return false;
    }
    m_held.push_back(byte);
    return false;
}

RxFrame Classify(const Bytes &held)
{
    RxFrame frame;
    frame.bytes = Unescape(held);
    const size_t k = frame.bytes.size();
    const uint8_t header = frame.bytes[0];
    if (k == 3 && (header == genisys::kHdrPoll || header == genisys::kHdrAckMaster)) {
        frame.kind = RxFrame::kInsecure;
        return frame;
    }
    if (k < 5) {
        frame.kind = RxFrame::kBadCrc;  // no room for a CRC
        return frame;
    }
    const uint16_t computed = genisys::Crc16(frame.bytes.data(), k - 3);
    const uint16_t received = static_cast<uint16_t>(frame.bytes[k - 3] | frame.bytes[k - 2] << 8);
    if (computed == received)
        frame.kind = RxFrame::kGenisys;
    else if (computed == (received ^ genisys::kConfigMarker))
        frame.kind = RxFrame::kConfig;
    else
        frame.kind = RxFrame::kBadCrc;
    return frame;
}

Bytes Encode(uint8_t header, uint8_t address, const Bytes &data, int flags)
{
    Bytes out(genisys::MaxWireLength(data.size()));
    out.resize(genisys::EncodeFrame(header, address, data.data(), data.size(), flags, out.data()));
    return out;
}

KelproUnit::KelproUnit(uint8_t address, const ConfigRecord &record)
    : m_address(address), m_record(record)
{
}

Bytes KelproUnit::Answer(const RxFrame &frame, uint32_t nowMs)
{
    if (!m_heard) {
        m_heard = true;  // whatever the frame: the tool's first request starts the clock
        m_heardAt = nowMs;
    }
    if (frame.kind != RxFrame::kConfig || QuietAt(nowMs) || m_gone)
        return {};
    m_quiet = false;
    const uint8_t header = frame.header();
    const uint8_t address = frame.address();
    // The commit goes to the slave ID the record holds: after a write that changed it, the
    // old address no longer commits.
    if (header == genisys::kHdrCommit && address == m_record.genisysSlaveId) {
        Commit(nowMs);
        return {};  // the unit resets; nothing is answered
    }
    if (address != m_address || faults.silent)
        return {};
    if (header == genisys::kHdrPoll)
        return ReadResponse();
    if (header == genisys::kHdrControl) {
        const Bytes data = frame.Data();
        if (data.size() != ConfigRecord::kSize)
            return {};
        for (size_t i = 0; i < ConfigRecord::kSize; ++i)
            m_record.Bytes()[i] = data[i];
        return Ack();
    }
    return {};
}

bool KelproUnit::UnaskedAckDue(uint32_t *atMs) const
{
    if (faults.unaskedAckMs < 0 || !m_heard || m_unaskedSent)
        return false;
    *atMs = m_heardAt + static_cast<uint32_t>(faults.unaskedAckMs);
    return true;
}

Bytes KelproUnit::UnaskedAck(uint32_t nowMs)
{
    uint32_t at = 0;
    if (!UnaskedAckDue(&at) || static_cast<int32_t>(at - nowMs) > 0)
        return {};
    m_unaskedSent = true;
    return Ack();  // as a write would have left it, with the unit's other faults
}

// Header 0xF2, the address, firmware major and minor, the mode byte and the 14 record bytes,
// with the configuration marker in the CRC: 22 bytes once unescaped.
Bytes KelproUnit::ReadResponse() const
{
    Bytes data = {firmwareMajor, firmwareMinor, mode};
    data.insert(data.end(), m_record.Bytes(), m_record.Bytes() + ConfigRecord::kSize);
    // A short response loses record bytes from its end, a long one gains zeros; the CRC is
    // computed over what is sent, so only the length is wrong.
    data.resize(data.size() + faults.responseExtraBytes, 0);
    return Finish(Encode(genisys::kHdrIndication, m_address, data, kConfigFlags));
}

Bytes KelproUnit::Ack() const
{
    const uint8_t from = faults.ackAddress < 0 ? m_address : static_cast<uint8_t>(faults.ackAddress);
    return Finish(Encode(genisys::kHdrAckSlave, from, {}, kConfigFlags));
}

// Applies the wrong-CRC fault: the CRC is re-encoded one higher than it should be.
Bytes KelproUnit::Finish(Bytes wire) const
{
    if (!faults.badCrc)
        return wire;
    RxFrame right = Classify(Bytes(wire.begin(), wire.end()));
    const size_t k = right.bytes.size();
    uint16_t crc = static_cast<uint16_t>(right.bytes[k - 3] | right.bytes[k - 2] << 8);
    ++crc;
    Bytes out;
    out.push_back(right.bytes[0]);
    for (size_t i = 1; i < k - 3; ++i)
        PutEscaped(right.bytes[i], &out);
    PutEscaped(static_cast<uint8_t>(crc & 0xFF), &out);
    PutEscaped(static_cast<uint8_t>(crc >> 8), &out);
    out.push_back(genisys::kTerminator);
    return out;
}

void KelproUnit::Commit(uint32_t nowMs)
{
    ++m_commits;
    lastError.clear();
    if (!saveFile.empty() && !SaveRecord(saveFile, m_record))
        lastError = "cannot save the record to " + saveFile;
    // After the reset the unit answers at the slave ID it now holds.
    m_address = m_record.genisysSlaveId;
    m_gone = faults.silentAfterCommit;
    m_quiet = resetMs > 0;
    m_quietUntil = nowMs + resetMs;
}

bool LoadRecord(const std::string &path, ConfigRecord *record, std::string *error)
{
    std::string unused;
    std::string &why = error != nullptr ? *error : unused;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        why = "cannot read " + path;
        return false;
    }
    // One byte more than a record is enough to tell a long file from a record.
    uint8_t bytes[ConfigRecord::kSize + 1];
    const size_t n = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    if (n != ConfigRecord::kSize) {
        const std::string record = std::to_string(ConfigRecord::kSize);
        const std::string size = n > ConfigRecord::kSize ? "more than " + record : std::to_string(n);
        why = path + " holds " + size + " bytes; a record file holds exactly " + record;
        return false;
    }
    for (size_t i = 0; i < ConfigRecord::kSize; ++i)
        record->Bytes()[i] = bytes[i];
    return true;
}

bool SaveRecord(const std::string &path, const ConfigRecord &record)
{
    const std::string temp = path + ".tmp";
    FILE *f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool written = std::fwrite(record.Bytes(), 1, ConfigRecord::kSize, f) == ConfigRecord::kSize;
    const bool flushed = std::fflush(f) == 0 && fsync(fileno(f)) == 0;
    const bool closed = std::fclose(f) == 0;
    if (!(written && flushed && closed) || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace klpsim
