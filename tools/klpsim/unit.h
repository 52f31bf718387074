// The virtual Kelpro unit: the unit's side of the Genisys line (frame assembly, CRC and
// configuration marker checks) and its answers to configuration reads, writes and commits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/config_record.h"

namespace klpsim {

using Bytes = std::vector<uint8_t>;

// A frame as the unit receives it, unescaped, from header to the final byte.
struct RxFrame {
    enum Kind { kGenisys, kConfig, kBadCrc, kInsecure };
    Kind kind = kBadCrc;
    Bytes bytes;

    uint8_t header() const { return bytes[0]; }
    uint8_t address() const { return bytes.size() > 1 ? bytes[1] : 0; }
    // Data between the address and the CRC (none for an insecure frame).
    Bytes Data() const;
};

// Assembles frames byte by byte, as a receiver on the line does: a header byte starts a frame
// (dropping one in progress), the terminator ends it, other bytes are held up to 128.
class FrameAssembler {
public:
    static constexpr size_t kMaxHeld = 128;

    // Feeds one byte; returns true and fills frame when it completed one.
    bool Feed(uint8_t byte, RxFrame *frame);

private:
    Bytes m_held;
    bool m_inFrame = false;
};

// Unescapes a held frame (0xF0 and the byte after it become one byte) and checks its CRC.
RxFrame Classify(const Bytes &held);

// Encodes a frame the unit sends; flags as for CGenisysProtocol::SendFrame.
Bytes Encode(uint8_t header, uint8_t address, const Bytes &data, int flags);

// How one unit misbehaves, on request.
struct Faults {
    bool badCrc = false;            // every answer's CRC is off by one
    bool silent = false;            // no answer at all
    bool silentAfterCommit = false; // answers until its first commit, then never again
    int responseExtraBytes = 0;     // read response this many bytes long (or, negative, short)
    int ackAddress = -1;            // address the write acknowledgement carries; -1: the unit's own
    uint32_t delayMs = 0;           // answers go on the line this late (the line's scheduler applies it)
    int64_t unaskedAckMs = -1;      // one acknowledgement, unasked, this long after the first frame heard
};

// One emulated unit at a Genisys address.
class KelproUnit {
public:
    static constexpr size_t kReadResponseSize = 22;  // unescaped, header to terminator

    KelproUnit(uint8_t address, const ConfigRecord &record);

    // What the unit answers to a received frame (empty: no answer). A commit to the slave ID
    // its record holds makes it save (when a save file is set) and go quiet until the reset
    // is over.
    Bytes Answer(const RxFrame &frame, uint32_t nowMs);

    // The unasked acknowledgement (faults.unaskedAckMs) once it is due, a single time; empty
    // before that, after it, and without the fault.
    Bytes UnaskedAck(uint32_t nowMs);
    // When that acknowledgement is due; false while the first frame is still to come, or
    // once it went out.
    bool UnaskedAckDue(uint32_t *atMs) const;

    uint8_t address() const { return m_address; }
    const ConfigRecord &record() const { return m_record; }
    bool QuietAt(uint32_t nowMs) const { return m_quiet && static_cast<int32_t>(m_quietUntil - nowMs) > 0; }
    int commits() const { return m_commits; }

    uint8_t firmwareMajor = 2;
    uint8_t firmwareMinor = 5;
    uint8_t mode = 0;
    uint32_t resetMs = 2000;   // how long a commit keeps the unit quiet
    std::string saveFile;      // where a commit saves the record ("" for nowhere)
    Faults faults;
    std::string lastError;     // why the last save failed

private:
    Bytes ReadResponse() const;
    Bytes Ack() const;
    void Commit(uint32_t nowMs);
    Bytes Finish(Bytes wire) const;

    uint8_t m_address;
    ConfigRecord m_record;
    bool m_quiet = false;
    uint32_t m_quietUntil = 0;
    int m_commits = 0;
    bool m_gone = false;        // committed with silentAfterCommit: never back
    bool m_heard = false;       // a frame has arrived; m_heardAt is when the first did
    uint32_t m_heardAt = 0;
    bool m_unaskedSent = false;
};

// Reads a 14-byte record file; false (and record untouched) unless it is exactly 14 bytes,
// with the reason in error when one is given.
bool LoadRecord(const std::string &path, ConfigRecord *record, std::string *error = nullptr);
// Writes the record to path through a temporary file, so a failed save leaves the old one.
bool SaveRecord(const std::string &path, const ConfigRecord &record);

}  // namespace klpsim
