// Ordinary Genisys traffic for the virtual line.
#include "tools/klpsim/traffic.h"

#include "genisys/genisys_frame.h"

namespace klpsim {

namespace {

struct Kind {
    uint8_t header;
    int dataBytes;
    bool secure;  // with a CRC; insecure polls and master acknowledgements have none
};

// One station's cycle, in the order a master and slave exchange them.
const Kind kCycle[TrafficGenerator::kKinds] = {
    {genisys::kHdrPoll, 0, true},        // secure poll
    {genisys::kHdrAckSlave, 0, true},    // slave acknowledges
    {genisys::kHdrPoll, 0, false},       // insecure poll
    {genisys::kHdrIndication, 4, true},  // slave answers with data
    {genisys::kHdrAckMaster, 0, false},  // master acknowledges the data
    {genisys::kHdrRecall, 0, true},      // master asks for everything
    {genisys::kHdrControl, 4, true},     // master sets controls
    {genisys::kHdrCheckback, 4, true},   // slave checks them back
};

}  // namespace

TrafficGenerator::TrafficGenerator(std::vector<uint8_t> stations) : m_stations(std::move(stations))
{
    if (m_stations.empty())
        m_stations.push_back(5);
}

Bytes TrafficGenerator::DataBytes(int count)
{
    Bytes data;
    for (int i = 0; i < count; ++i) {
        // xorshift32: cheap, deterministic, and reaches the bytes that need escaping.
        m_seed ^= m_seed << 13;
        m_seed ^= m_seed >> 17;
        m_seed ^= m_seed << 5;
        data.push_back(static_cast<uint8_t>(m_seed));
    }
    return data;
}

Bytes TrafficGenerator::Next()
{
    const Kind &kind = kCycle[m_kind];
    const uint8_t station = m_stations[m_station];
    const Bytes frame = Encode(kind.header, station, DataBytes(kind.dataBytes),
                               kind.secure ? genisys::SEND_CRC : 0);
    if (++m_kind == kKinds) {
        m_kind = 0;
        m_station = (m_station + 1) % m_stations.size();
    }
    return frame;
}

}  // namespace klpsim
