// Counting the decoder's lines per station, by the line's kind and the frame's header.
#include "klp/station_counts.h"

#include "genisys/genisys_frame.h"

namespace klp {

bool CountLine(StationCounts (&stations)[256], const genisys::LineEvent &line)
{
    using genisys::LineKind;
    if (line.address < 0 || line.address > 255)
        return false;
    StationCounts &s = stations[line.address];
    s.heard = true;
    if (line.kind == LineKind::kCrcFailed) {
        ++s.crcFailures;
    } else if (line.kind == LineKind::kPollOrAck) {
        ++(line.header == genisys::kHdrPoll ? s.polls : s.acks);
    } else if (line.kind == LineKind::kTraffic) {
        if (line.header == genisys::kHdrIndication)
            ++s.indications;
        else if (line.header == genisys::kHdrControl)
            ++s.controls;
        else if (line.header == genisys::kHdrRecall)
            ++s.recalls;
    }
    return true;
}

}  // namespace klp
