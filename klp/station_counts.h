// The traffic of each station on a line, counted from the decoder's lines: what `monitor
// --summary` prints and `monitor --metrics` serves.
#pragma once
#include <cstdint>

#include "genisys/link_events.h"

namespace klp {

struct StationCounts {
    uint32_t polls, acks, indications, controls, recalls, crcFailures;
    bool heard;
};

// Counts one line of the decoder to the station it names; false when it names none.
bool CountLine(StationCounts (&stations)[256], const genisys::LineEvent &line);

}  // namespace klp
