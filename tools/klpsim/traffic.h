// Ordinary Genisys traffic for the virtual line: what a master and its slaves exchange.
#pragma once
#include <cstdint>
#include <vector>

#include "tools/klpsim/unit.h"

namespace klpsim {

// Produces one frame at a time, cycling through secure and insecure polls, acknowledgements
// (slave and master), indications with data, recalls, controls and checkbacks, for each
// station in turn. The data changes from cycle to cycle and now and then needs escaping.
class TrafficGenerator {
public:
    explicit TrafficGenerator(std::vector<uint8_t> stations);

    Bytes Next();

    // How many kinds of frame one cycle for one station holds.
    static constexpr int kKinds = 8;

private:
    Bytes DataBytes(int count);

    std::vector<uint8_t> m_stations;
    size_t m_station = 0;
    int m_kind = 0;
    uint32_t m_seed = 0x2545F491;
};

}  // namespace klpsim
