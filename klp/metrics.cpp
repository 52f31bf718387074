// The line's and the stations' counts for the metrics, kept under one lock.
#include "klp/metrics.h"

namespace klp {

void LineMetrics::OnLine(const genisys::LineEvent &line)
{
    using genisys::LineKind;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (line.kind == LineKind::kUnknownData)
        ++m_unknownBytes;
    else if (line.kind != LineKind::kSent)
        ++m_frames;
    if (line.kind != LineKind::kSent && CountLine(m_stations, line))
        m_lastSeen[line.address] = Clock::now();
}

void LineMetrics::OnBytes(uint32_t count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bytes += count;
}

void LineMetrics::SetPortState(PortState state)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = state;
}

LineMetrics::Snapshot LineMetrics::Take() const
{
    Snapshot s;
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < 256; ++i) {
        s.stations[i] = m_stations[i];
        s.secondsSince[i] = std::chrono::duration<double>(now - m_lastSeen[i]).count();
    }
    s.bytes = m_bytes;
    s.frames = m_frames;
    s.unknownBytes = m_unknownBytes;
    s.state = m_state;
    return s;
}

}  // namespace klp
