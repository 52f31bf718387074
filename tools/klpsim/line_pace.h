// A serial line's pace: when each byte put on a line of a given speed has wholly crossed it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace klpsim {

// Bytes on their way across one direction of an 8-N-1 line: ten bit times a byte, one
// after another. Times are nanoseconds on any monotonic clock.
class LineQueue {
public:
    explicit LineQueue(uint32_t baud);

    // Puts bytes on the line at nowNs: behind those still crossing it, or at once if it is
    // idle; each has crossed one byte time after the one before it.
    void Push(const uint8_t *bytes, size_t count, uint64_t nowNs);
    void Push(const std::vector<uint8_t> &bytes, uint64_t nowNs) { Push(bytes.data(), bytes.size(), nowNs); }
    // Takes the bytes that have wholly crossed by nowNs, in order.
    std::vector<uint8_t> TakeCrossed(uint64_t nowNs);
    // When a slice of the line's bytes (about 10 ms of them, or all queued if fewer) will
    // have crossed: the time to look again, so the sender sleeps rather than polls each byte.
    // Only while not empty.
    uint64_t NextSliceNs() const;

    bool empty() const { return m_bytes.empty(); }
    size_t size() const { return m_bytes.size(); }
    // Bytes the line carries in 10 ms, at least one.
    size_t sliceBytes() const { return m_slice; }

private:
    uint64_t m_byteNs;
    size_t m_slice;
    std::deque<uint8_t> m_bytes;
    uint64_t m_frontNs = 0;  // when the first queued byte has crossed
};

}  // namespace klpsim
