// `klp decode` of a network capture: each direction of each TCP or UDP conversation through
// its own decoder, TCP in sequence order, each line with its packet's time and direction.
#pragma once
#include <string>

#include "klp/commands.h"
#include "klp/line_printer.h"

namespace klp {

// Decodes the capture at o.file (a pcap or pcapng file); an exit code once said.
int RunCaptureDecode(const DecodeOptions &o);

// How a decode prints: without time stamps of klp's (a capture has its own, or none).
PrintOptions DecodePrintOptions(const DecodeOptions &o);
// The end of a decode: the counter, the summary when asked for, and out.
void FinishDecode(const DecodeOptions &o, LinePrinter &printer);

// A capture time as "2024-03-05 14:01:02.123456" (UTC).
std::string CaptureTimeText(int64_t seconds, uint32_t microseconds);

}  // namespace klp
