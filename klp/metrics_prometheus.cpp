// The metrics served with prometheus-cpp: its HTTP exposer, and a collectable that turns a
// snapshot of the counts into the text format's families at each scrape.
#include <cstdio>
#include <exception>

#include <prometheus/collectable.h>
#include <prometheus/exposer.h>
#include <prometheus/metric_family.h>

#include "klp/metrics.h"
#include "klp/output.h"

namespace klp {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

// The per-station counters, by where each lives in the counts.
struct StationCounter {
    const char *name;
    const char *help;
    uint32_t StationCounts::*count;
};
const StationCounter kStationCounters[] = {
    {"klp_station_polls_total", "Polls heard for the station.", &StationCounts::polls},
    {"klp_station_acks_total", "Acknowledgements heard from the station.", &StationCounts::acks},
    {"klp_station_indications_total", "Indication data frames heard from the station.",
     &StationCounts::indications},
    {"klp_station_controls_total", "Control data frames heard for the station.",
     &StationCounts::controls},
    {"klp_station_recalls_total", "Recalls heard for the station.", &StationCounts::recalls},
    {"klp_station_crc_failures_total", "Frames of the station whose CRC failed.",
     &StationCounts::crcFailures},
};

const char *const kStateNames[] = {"open", "stalled", "reopening"};

ClientMetric Sample(double value, MetricType type, std::vector<ClientMetric::Label> labels)
{
    ClientMetric m;
    m.label = std::move(labels);
    if (type == MetricType::Counter)
        m.counter.value = value;
    else
        m.gauge.value = value;
    return m;
}

class Collector : public prometheus::Collectable {
public:
    explicit Collector(const LineMetrics &metrics) : m_metrics(metrics) {}

    std::vector<MetricFamily> Collect() const override
    {
        const LineMetrics::Snapshot s = m_metrics.Take();
        const std::string &port = m_metrics.Port();
        std::vector<MetricFamily> out;
        for (const StationCounter &c : kStationCounters) {
            MetricFamily f{c.name, c.help, MetricType::Counter, {}};
            for (int i = 0; i < 256; ++i)
                if (s.stations[i].heard)
                    f.metric.push_back(Sample(s.stations[i].*c.count, MetricType::Counter,
                                              {{"port", port}, {"station", std::to_string(i)}}));
            out.push_back(std::move(f));
        }
        MetricFamily seen{"klp_station_last_seen_seconds",
                          "Seconds since the station was last heard.", MetricType::Gauge, {}};
        for (int i = 0; i < 256; ++i)
            if (s.stations[i].heard)
                seen.metric.push_back(Sample(s.secondsSince[i], MetricType::Gauge,
                                             {{"port", port}, {"station", std::to_string(i)}}));
        out.push_back(std::move(seen));
        out.push_back(Line("klp_line_bytes_total", "Bytes received on the line.", s.bytes));
        out.push_back(Line("klp_line_frames_total", "Frames received on the line.", s.frames));
        out.push_back(Line("klp_line_unknown_bytes_total",
                           "Bytes received outside any frame.", s.unknownBytes));
        MetricFamily up{"klp_port_up", "1 while the port is open and answering.",
                        MetricType::Gauge, {}};
        up.metric.push_back(Sample(s.state == PortState::kOpen ? 1 : 0, MetricType::Gauge,
                                   {{"port", port}}));
        out.push_back(std::move(up));
        MetricFamily state{"klp_port_state", "The port's state: 1 for the one it is in.",
                           MetricType::Gauge, {}};
        for (int i = 0; i < 3; ++i)
            state.metric.push_back(Sample(static_cast<int>(s.state) == i ? 1 : 0,
                                          MetricType::Gauge,
                                          {{"port", port}, {"state", kStateNames[i]}}));
        out.push_back(std::move(state));
        return out;
    }

private:
    MetricFamily Line(const char *name, const char *help, uint64_t value) const
    {
        MetricFamily f{name, help, MetricType::Counter, {}};
        f.metric.push_back(Sample(static_cast<double>(value), MetricType::Counter,
                                  {{"port", m_metrics.Port()}}));
        return f;
    }

    const LineMetrics &m_metrics;
};

class PrometheusServer : public MetricsServer {
public:
    PrometheusServer(const std::string &bind, const LineMetrics &metrics)
        : m_exposer(bind, 2), m_collector(std::make_shared<Collector>(metrics))
    {
        m_exposer.RegisterCollectable(m_collector);
    }

private:
    prometheus::Exposer m_exposer;
    std::shared_ptr<Collector> m_collector;
};

}  // namespace

std::unique_ptr<MetricsServer> ServeMetrics(const std::string &where, const LineMetrics &metrics,
                                            int *code)
{
    // A bare port listens on every address, as exporters do; ADDR:PORT on that one.
    const std::string bind = where.find(':') == std::string::npos ? "0.0.0.0:" + where : where;
    try {
        return std::make_unique<PrometheusServer>(bind, metrics);
    } catch (const std::exception &e) {
        *code = Fail(kExitPort, "cannot serve metrics on %s: %s.", where.c_str(), e.what());
        return nullptr;
    }
}

}  // namespace klp
