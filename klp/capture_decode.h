// `klp decode` of a network capture: each direction of each TCP or UDP conversation through
// its own decoder, TCP in sequence order, each line with its packet's time and direction.
#pragma once
#include <string>

#include "klp/commands.h"

namespace klp {

// Decodes the capture at o.file (a pcap or pcapng file); an exit code once said.
int RunCaptureDecode(const DecodeOptions &o);

// A capture time as "2024-03-05 14:01:02.123456" (UTC).
std::string CaptureTimeText(int64_t seconds, uint32_t microseconds);

}  // namespace klp
