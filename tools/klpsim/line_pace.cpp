// A serial line's pace, for klpsim's --line-baud.
#include "tools/klpsim/line_pace.h"

#include <algorithm>

namespace klpsim {

namespace {
constexpr uint64_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
}

LineQueue::LineQueue(uint32_t baud)
    : m_byteNs((kBitsPerByte * 1000000000ULL + baud / 2) / std::max<uint32_t>(baud, 1)),
      m_slice(std::max<size_t>(1, baud / kBitsPerByte / 100))
{
}

void LineQueue::Push(const uint8_t *bytes, size_t count, uint64_t nowNs)
{
    if (count == 0)
        return;
    // Bytes are taken only once crossed, so an empty line has been idle until now.
    if (m_bytes.empty())
        m_frontNs = nowNs + m_byteNs;
    m_bytes.insert(m_bytes.end(), bytes, bytes + count);
}

std::vector<uint8_t> LineQueue::TakeCrossed(uint64_t nowNs)
{
    if (m_bytes.empty() || nowNs < m_frontNs)
        return {};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(m_bytes.size(), (nowNs - m_frontNs) / m_byteNs + 1));
    std::vector<uint8_t> out(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(n));
    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(n));
    m_frontNs += n * m_byteNs;
    return out;
}

uint64_t LineQueue::NextSliceNs() const
{
    return m_frontNs + (std::min(m_slice, m_bytes.size()) - 1) * m_byteNs;
}

}  // namespace klpsim
