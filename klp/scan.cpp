// `klp scan`: a configuration read request to each address, and the units that answer. In
// turn, each address is heard for its whole wait, so that two units at one address are both
// heard; with --burst every request goes out back to back, as the Comms page's "Find Slaves"
// sends them, and the answers are sorted afterwards. A late answer is listed as late, a
// garbled one as garbled, two at one address as such; none is ever taken for another address.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "config/exchange.h"
#include "klp/commands.h"
#include "klp/console.h"
#include "klp/output.h"
#include "klp/record_text.h"
#include "klp/signals.h"

namespace klp {

namespace {

using Responses = std::vector<config::ReadResponse>;

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
constexpr int kDipWidth = 46;  // the DIP switch column, when a note follows it: the longest and two spaces

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

    // An address's answers: one row each; more than one is said on standard error too.
    void Units(int address, const Responses &all, const char *status)
    {
        m_progress->Clear();
        const bool twice = all.size() > 1;
        const std::string times = "answered " + TimesText(all.size());
        if (m_o.json) {
            nlohmann::ordered_json o = {{"address", address},
                                        {"status", twice ? times.c_str() : status},
                                        {"answers", all.size()}};
            o.update(ResponseJson(all.front()));
            if (twice) {
                o["responses"] = nlohmann::ordered_json::array();
                for (const config::ReadResponse &r : all)
                    o["responses"].push_back(ResponseJson(r));
            }
            PrintJson(o);
        } else {
            Header();
            for (const config::ReadResponse &r : all)
                Row(r, twice ? times.c_str() : status);
        }
        std::fflush(stdout);
        if (twice)
            Note("address %d %s: %s.", address, times.c_str(), AnswersText(all).c_str());
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

    void Row(const config::ReadResponse &r, const char *status)
    {
        const bool plain = std::strcmp(status, "answered") == 0;
        std::printf("%7d  v%d.%-4d %8d %5d  %-*s%s\n", r.address, r.firmwareMajor, r.firmwareMinor,
                    r.record.genisysSlaveId, r.mode, plain ? 0 : kDipWidth, DipColumn(r).c_str(),
                    plain ? "" : status);
    }

    const ScanOptions &m_o;
    Progress *m_progress;
    bool m_headerDone = false;
};

// What each address said, and what the scan found in all.
struct Tally {
    std::array<Responses, 256> answers;
    std::array<bool, 256> asked{};
    int units = 0;
    int doubled = 0;

    void Answered(int address, const Responses &all)
    {
        if (all.empty())
            return;
        units += answers[address].empty() ? 1 : 0;
        const bool wasSingle = answers[address].size() <= 1;
        answers[address].insert(answers[address].end(), all.begin(), all.end());
        doubled += wasSingle && answers[address].size() > 1 ? 1 : 0;
    }
};

// Read responses that answered no request of their moment: a late answer from an address
// asked before, a second unit at an address that answered already, or a unit not asked.
void ListStrays(UnitLink &link, UnitLink::Ms wait, Listing &listing, Tally &tally)
{
    for (const UnitLink::Stray &s : link.TakeStrays(wait)) {
        if (!tally.asked[s.address]) {
            Note("address %d answered a request it was not sent.", s.address);
            continue;
        }
        const bool first = tally.answers[s.address].empty();
        tally.Answered(s.address, {s.response});
        listing.Units(s.address, first ? Responses{s.response} : tally.answers[s.address],
                      first ? "late" : "");
    }
}

int Interrupted(Progress &progress, int address)
{
    progress.Clear();
    return Fail(kExitInterrupted, "interrupted at address %d; the units found so far are listed.",
                address);
}

int Finish(const ScanOptions &o, const Tally &tally)
{
    if (tally.doubled > 0)
        return Fail(kExitConflict, "%d %s answered more than once: two units set to one address "
                    "cannot both be configured.", tally.doubled,
                    tally.doubled == 1 ? "address" : "addresses");
    if (tally.units == 0)
        return Fail(kExitNoAnswer, "no unit answered on %s at addresses %d to %d.",
                    o.port.port.c_str(), o.from, o.to);
    return kExitOk;
}

int ScanInTurn(const ScanOptions &o, UnitLink &link, Progress &progress, Listing &listing)
{
    Tally tally;
    const UnitLink::Ms wait(o.waitMs);
    for (int address = o.from; address <= o.to; ++address) {
        progress.Show(address, o.from, o.to);
        tally.asked[address] = true;
        const UnitLink::Answers a = link.ReadTrying(static_cast<uint8_t>(address), wait, 1 + o.retries);
        if (a.interrupted)
            return Interrupted(progress, address);
        if (!a.portFailure.empty()) {
            progress.Clear();
            return Fail(kExitPort, "%s.", a.portFailure.c_str());
        }
        ListStrays(link, UnitLink::Ms(0), listing, tally);
        if (!a.responses.empty()) {
            tally.Answered(address, a.responses);
            listing.Units(address, a.responses, "answered");
        } else if (!a.garbled.empty()) {
            listing.Garbled(address, a.garbled);
        }
    }
    // Time for the last address to answer late too.
    ListStrays(link, wait, listing, tally);
    if (ProcessStop().Raised())
        return Interrupted(progress, o.to);
    return Finish(o, tally);
}

// What one heard frame says about the address it came from, against that address's request.
void SortBurstAnswer(const UnitLink::Heard &h, std::array<config::Request, 256> &requests,
                     Tally &tally, std::array<std::string, 256> &garbled,
                     std::array<Responses, 256> &late)
{
    if (h.address < 0)
        return;
    const uint8_t address = static_cast<uint8_t>(h.address);
    config::Request &r = requests[address];
    const bool inside = r.made && config::TimingOf(r, h.tick) == config::Timing::kInside;
    config::ReadResponse response;
    if (!h.crcFailed && h.header != genisys::kHdrIndication)
        return;
    if (h.crcFailed || !config::ParseReadResponse(h.bytes, h.length, &response)) {
        if (inside)
            garbled[address] = UnitLink::GarbledText(h);
        return;
    }
    switch (config::JudgeAnswer(r, address, h.tick)) {
    case config::Verdict::kAnswer:
    case config::Verdict::kRepeat:
        tally.Answered(address, {response});
        break;
    case config::Verdict::kLate:
        late[address].push_back(response);
        break;
    default:  // never asked, or heard before its request went out
        if (!r.made)
            Note("address %d answered a request it was not sent.", address);
        break;
    }
}

// How long a read request to the address takes on the line: 10 bits a byte (8-N-1).
UnitLink::Clock::duration LineTime(int address, int baud)
{
    uint8_t wire[genisys::MaxWireLength(0)];
    const size_t bytes = genisys::EncodeFrame(genisys::kHdrPoll, static_cast<uint8_t>(address),
                                              nullptr, 0, config::kConfigSend, wire);
    return std::chrono::microseconds(bytes * 10 * 1000000 / baud);
}

int ScanInBurst(const ScanOptions &o, UnitLink &link, Progress &progress, Listing &listing)
{
    std::array<config::Request, 256> requests;
    Tally tally;
    // A write returns once the driver holds the bytes, long before a 9600-baud line has sent
    // them: each request waits for the line, so that its window starts as it goes out.
    UnitLink::Clock::time_point lineFree = UnitLink::Clock::now();
    for (int address = o.from; address <= o.to; ++address) {
        progress.Show(address, o.from, o.to);
        std::this_thread::sleep_until(lineFree);
        if (ProcessStop().Raised())
            return Interrupted(progress, address);
        lineFree = std::max(lineFree, UnitLink::Clock::now()) + LineTime(address, o.port.baud);
        tally.asked[address] = true;
        if (!link.SendRead(requests[address], static_cast<uint8_t>(address))) {
            progress.Clear();
            return Fail(kExitPort, "port %s stopped working while sending the read requests.",
                        o.port.port.c_str());
        }
    }
    // Every answer heard until --wait after the last request, each judged against its own
    // address's request.
    std::array<std::string, 256> garbled;
    std::array<Responses, 256> late;
    const UnitLink::Clock::time_point deadline =
        std::max(lineFree, UnitLink::Clock::now()) + UnitLink::Ms(o.waitMs);
    UnitLink::Heard h;
    while (link.Next(deadline, &h))
        SortBurstAnswer(h, requests, tally, garbled, late);
    const UnitLink::Answers failed = link.Failure("waiting for the answers");
    progress.Clear();
    if (failed.interrupted)
        return Interrupted(progress, o.to);
    if (!failed.portFailure.empty())
        return Fail(kExitPort, "%s.", failed.portFailure.c_str());
    for (int address = o.from; address <= o.to; ++address) {
        if (!tally.answers[address].empty()) {
            listing.Units(address, tally.answers[address], "answered");
        } else if (!late[address].empty()) {
            listing.Units(address, late[address], "late");
            tally.Answered(address, late[address]);  // a unit all the same, perhaps two
        } else if (!garbled[address].empty()) {
            listing.Garbled(address, garbled[address]);
        }
    }
    return Finish(o, tally);
}

}  // namespace

int RunScan(const ScanOptions &o)
{
    if (o.from > o.to)
        return Fail(kExitUsage, "--from %d is above --to %d.", o.from, o.to);
    CatchInterrupts();  // before the port's reader thread starts, which inherits it
    UnitLink link(o.port);
    if (const int code = link.Open())
        return code;
    Progress progress(StderrIsTerminal());
    Listing listing(o, &progress);
    return o.burst ? ScanInBurst(o, link, progress, listing)
                   : ScanInTurn(o, link, progress, listing);
}

}  // namespace klp
