// Port probing that answers from a table set by the test and records every name it is asked.
#include "tests/support/fake_probe.h"

namespace {
std::map<std::string, serial::ProbeResult> g_results;
std::vector<std::string> g_probed;
}  // namespace

namespace serial {

ProbeResult ProbePort(const char *name)
{
    g_probed.push_back(name);
    const auto it = g_results.find(name);
    return it == g_results.end() ? ProbeResult::kAbsent : it->second;
}

}  // namespace serial

namespace fake {

void SetProbeResults(const std::map<std::string, serial::ProbeResult> &results)
{
    g_results = results;
    g_probed.clear();
}

std::vector<std::string> TakeProbed()
{
    std::vector<std::string> out;
    out.swap(g_probed);
    return out;
}

}  // namespace fake
