// Scripted port probing for tests: which device names exist, and which were tried.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "serial/serial_probe.h"

namespace fake {

// Names not in the map probe as absent.
void SetProbeResults(const std::map<std::string, serial::ProbeResult> &results);
std::vector<std::string> TakeProbed();  // names probed so far, in order, then cleared

}  // namespace fake
