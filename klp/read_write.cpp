// `klp read` and `klp write`: one unit's configuration read, or written, acknowledged,
// committed and read back at its (possibly new) slave ID and compared field by field.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "klp/commands.h"
#include "klp/output.h"
#include "klp/record_text.h"

namespace klp {

namespace {

using Outcome = UnitLink::Outcome;

constexpr int kReadBackTries = 3;  // a unit that takes a little longer to reset still gets found

// Why an exchange did not give what was asked, as one sentence and its exit code: "address 1
// on COM3 did not <action> within 1000 ms", what was heard instead, and what it means (`after`).
int AnswerFailure(const UnitLink::Answer &a, const char *action, int address,
                  const std::string &port, int waitMs, const char *after)
{
    if (a.outcome == Outcome::kPortFailed)
        return Fail(kExitPort, "%s%s", a.problem.c_str(), after);
    const std::string heard =
        a.outcome == Outcome::kGarbled ? ": heard " + a.problem + " instead" : "";
    return Fail(kExitNoAnswer, "address %d on %s did not %s within %d ms%s%s", address,
                port.c_str(), action, waitMs, heard.c_str(), after);
}

// Fields the page would store otherwise are written as they are (a backup is restored
// exactly); the technician is told.
void NoteOutOfRange(const ConfigRecord &r, const std::string &file)
{
    for (const config::Field &f : config::kFields)
        if (!InPageRange(f, r))
            Note("%s: %s is %s, outside the page's %s; it is written as it is.", file.c_str(),
                 f.name, ValueText(f, r).c_str(), RangeText(f).c_str());
}

UnitLink::Answer ReadBack(UnitLink &link, uint8_t slaveId, const WriteOptions &o)
{
    UnitLink::Answer a;
    for (int i = 0; i < kReadBackTries && a.outcome == Outcome::kSilent; ++i)
        a = link.Read(slaveId, UnitLink::Ms(o.waitMs));
    return a;
}

}  // namespace

int RunRead(const ReadOptions &o)
{
    UnitLink link(o.port);
    if (const int code = link.Open())
        return code;
    const UnitLink::Answer a = link.Read(static_cast<uint8_t>(o.slave), UnitLink::Ms(o.waitMs));
    if (a.outcome != Outcome::kAnswered)
        return AnswerFailure(a, "answer the read request", o.slave, o.port.port, o.waitMs, ".");
    const config::ReadResponse &r = a.response;
    if (o.json) {
        PrintJson({{"port", o.port.port},
                   {"address", o.slave},
                   {"firmware", FirmwareText(r)},
                   {"mode", r.mode},
                   {"dip_switch", DipSwitchText(r)},
                   {"record", RecordJson(r.record)}});
    } else {
        std::printf("Unit at address %d on %s: F/W v%s, mode %d\n%s\n\n", o.slave,
                    o.port.port.c_str(), FirmwareText(r).c_str(), r.mode, DipSwitchText(r).c_str());
        PrintRecord(stdout, r.record);
    }
    std::fflush(stdout);
    return o.output.empty() ? kExitOk : SaveRecordFile(o.output, r.record);
}

int RunWrite(const WriteOptions &o)
{
    ConfigRecord record;
    if (const int code = LoadRecordFile(o.file, &record))
        return code;
    NoteOutOfRange(record, o.file);
    UnitLink link(o.port);
    if (const int code = link.Open())
        return code;
    const uint8_t address = static_cast<uint8_t>(o.slave);
    const UnitLink::Answer ack = link.Write(address, record, UnitLink::Ms(o.waitMs));
    if (ack.outcome != Outcome::kAnswered)
        return AnswerFailure(ack, "acknowledge the record", o.slave, o.port.port, o.waitMs,
                             "; nothing was committed.");
    // The commit goes to the slave ID just written, which differs when the write changed it.
    const uint8_t slaveId = record.genisysSlaveId;
    if (!link.Commit(slaveId))
        return Fail(kExitPort,
                    "the unit acknowledged the record, but the commit could not be sent on %s; "
                    "the unit has not saved it.",
                    o.port.port.c_str());
    if (!o.json)
        std::printf("Address %d acknowledged the record; committed at slave ID %d.\n", o.slave,
                    slaveId);
    nlohmann::ordered_json result = {{"port", o.port.port},
                                     {"address", o.slave},
                                     {"slave_id", slaveId},
                                     {"committed", true},
                                     {"verified", nullptr}};
    if (!o.verify) {
        if (o.json)
            PrintJson(result);
        return kExitOk;
    }
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(o.resetMs));  // the unit saves and resets
    const UnitLink::Answer back = ReadBack(link, slaveId, o);
    if (back.outcome != Outcome::kAnswered)
        return AnswerFailure(back, "answer the read request after the reset", slaveId, o.port.port,
                             o.waitMs, "; the record was committed but could not be checked.");
    const std::vector<Difference> differences = Differences(record, back.response.record);
    if (o.json) {
        result["verified"] = differences.empty();
        result["differences"] = DifferencesJson(differences, "written", "read_back");
        PrintJson(result);
    } else if (differences.empty()) {
        std::printf("Read back at address %d: the unit holds the record written.\n", slaveId);
    } else {
        PrintDifferences(differences, "Written", "Read back");
    }
    if (!differences.empty())
        return Fail(kExitMismatch,
                    "the unit at address %d holds a different record from %s (%u %s).", slaveId,
                    o.file.c_str(), static_cast<unsigned>(differences.size()),
                    differences.size() == 1 ? "difference" : "differences");
    return kExitOk;
}

}  // namespace klp
