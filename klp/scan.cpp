// `klp scan`: a configuration read request to each address in turn, and the units that
// answer. A late answer is listed as late when it arrives; a garbled one is listed as garbled;
// neither is ever taken for the address being asked at that moment.
#include <cstdio>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "klp/commands.h"
#include "klp/console.h"
#include "klp/output.h"
#include "klp/record_text.h"

namespace klp {

namespace {

// A line on standard error, rewritten in place, only when a person is watching there.
class Progress {
public:
    explicit Progress(bool shown) : m_shown(shown) {}
    ~Progress() { Clear(); }

    void Show(int address, int from, int to)
    {
        if (!m_shown)
            return;
        std::fprintf(stderr, "\rScanning address %d (%d to %d)...   ", address, from, to);
        std::fflush(stderr);
        m_dirty = true;
    }
    void Clear()
    {
        if (!m_dirty)
            return;
        std::fprintf(stderr, "\r%50s\r", "");
        std::fflush(stderr);
        m_dirty = false;
    }

private:
    bool m_shown;
    bool m_dirty = false;
};

const char kDipPrefix[] = "Dip Switch: ";
constexpr int kDipWidth = 42;  // the DIP switch column, when a note follows it

// The DIP switch text without its words in front: the column's heading says them.
std::string DipColumn(const config::ReadResponse &r)
{
    const std::string text = DipSwitchText(r);
    const size_t prefix = sizeof kDipPrefix - 1;
    return text.compare(0, prefix, kDipPrefix) == 0 ? text.substr(prefix) : text;
}

class Listing {
public:
    Listing(const ScanOptions &o, Progress *progress) : m_o(o), m_progress(progress) {}

    void Unit(const config::ReadResponse &r, const char *status)
    {
        m_progress->Clear();
        if (m_o.json) {
            PrintJson({{"address", r.address},
                       {"status", status},
                       {"firmware", FirmwareText(r)},
                       {"mode", r.mode},
                       {"dip_switch", DipSwitchText(r)},
                       {"slave_id", r.record.genisysSlaveId}});
        } else {
            Header();
            const bool plain = std::strcmp(status, "answered") == 0;
            std::printf("%7d  v%d.%-4d %8d %5d  %-*s%s\n", r.address, r.firmwareMajor,
                        r.firmwareMinor, r.record.genisysSlaveId, r.mode, plain ? 0 : kDipWidth,
                        DipColumn(r).c_str(), plain ? "" : status);
        }
        std::fflush(stdout);
    }

    void Garbled(int address, const std::string &problem)
    {
        m_progress->Clear();
        if (m_o.json) {
            PrintJson({{"address", address}, {"status", "garbled"}, {"problem", problem}});
        } else {
            Header();
            std::printf("%7d  %-6s %8s %5s  %-*sgarbled: %s\n", address, "-", "-", "-", kDipWidth,
                        "-", problem.c_str());
        }
        std::fflush(stdout);
    }

private:
    void Header()
    {
        if (!m_headerDone)
            std::printf("Address  F/W    Slave ID  Mode  DIP switches\n");
        m_headerDone = true;
    }

    const ScanOptions &m_o;
    Progress *m_progress;
    bool m_headerDone = false;
};

struct Tally {
    bool answered[256] = {};
    int units = 0;
};

// Read responses that came from another address than the one being asked, once the addresses
// up to lastAsked have been asked.
void ListStrays(UnitLink &link, UnitLink::Ms wait, int lastAsked, Listing &listing, Tally &tally,
                const ScanOptions &o)
{
    for (const UnitLink::Stray &s : link.TakeStrays(wait)) {
        if (s.address < o.from || s.address > lastAsked) {
            Note("address %d answered a request it was not sent.", s.address);
        } else if (tally.answered[s.address]) {
            Note("address %d answered twice: are two units set to address %d?", s.address,
                 s.address);
        } else {
            tally.answered[s.address] = true;
            ++tally.units;
            listing.Unit(s.response, "late");
        }
    }
}

}  // namespace

int RunScan(const ScanOptions &o)
{
    if (o.from > o.to)
        return Fail(kExitUsage, "--from %d is above --to %d.", o.from, o.to);
    UnitLink link(o.port);
    if (const int code = link.Open())
        return code;
    Progress progress(StderrIsTerminal());
    Listing listing(o, &progress);
    Tally tally;
    const UnitLink::Ms wait(o.waitMs);
    for (int address = o.from; address <= o.to; ++address) {
        progress.Show(address, o.from, o.to);
        const UnitLink::Answer a = link.Read(static_cast<uint8_t>(address), wait);
        ListStrays(link, UnitLink::Ms(0), address, listing, tally, o);
        if (a.outcome == UnitLink::Outcome::kPortFailed) {
            progress.Clear();
            return Fail(kExitPort, "%s.", a.problem.c_str());
        }
        if (a.outcome == UnitLink::Outcome::kGarbled) {
            listing.Garbled(address, a.problem);
        } else if (a.outcome == UnitLink::Outcome::kAnswered) {
            tally.answered[address] = true;
            ++tally.units;
            listing.Unit(a.response, "answered");
        }
    }
    // Time for the last address to answer late too.
    ListStrays(link, wait, o.to, listing, tally, o);
    progress.Clear();
    if (tally.units == 0)
        return Fail(kExitNoAnswer, "no unit answered on %s at addresses %d to %d.",
                    o.port.port.c_str(), o.from, o.to);
    return kExitOk;
}

}  // namespace klp
