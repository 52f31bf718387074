// Prometheus metrics of a monitored line, served on /metrics while `klp monitor --metrics`
// runs: per station the traffic counts and how long ago it was last heard; for the line the
// bytes received, the frames, the unknown bytes and the port's state. The counts are kept
// here on the reader thread and read by the server's thread; serving them is the work of a
// library: prometheus-cpp on Linux (metrics_prometheus.cpp), none in the Windows build
// (metrics_unavailable.cpp).
#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "genisys/link_events.h"
#include "klp/station_counts.h"

namespace klp {

enum class PortState { kOpen, kStalled, kReopening };

class LineMetrics {
public:
    using Clock = std::chrono::steady_clock;

    explicit LineMetrics(std::string port) : m_port(std::move(port)) {}

    void OnLine(const genisys::LineEvent &line);
    void OnBytes(uint32_t count);
    void SetPortState(PortState state);

    // A copy of everything, taken at once, for one scrape.
    struct Snapshot {
        StationCounts stations[256];
        double secondsSince[256];  // since each station was last heard
        uint64_t bytes, frames, unknownBytes;
        PortState state;
    };
    Snapshot Take() const;
    const std::string &Port() const { return m_port; }

private:
    const std::string m_port;
    mutable std::mutex m_mutex;
    StationCounts m_stations[256] = {};
    Clock::time_point m_lastSeen[256] = {};
    uint64_t m_bytes = 0, m_frames = 0, m_unknownBytes = 0;
    PortState m_state = PortState::kOpen;
};

// Serves the metrics on [ADDR:]PORT until destroyed.
class MetricsServer {
public:
    virtual ~MetricsServer() {}
};
// Starts the server; null once the reason it could not was said (exit code in *code).
std::unique_ptr<MetricsServer> ServeMetrics(const std::string &where, const LineMetrics &metrics,
                                            int *code);

}  // namespace klp
