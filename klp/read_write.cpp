// `klp read` and `klp write`: one unit's configuration read, or written, acknowledged,
// committed and read back at its (possibly new) slave ID and compared field by field. A write
// never leaves a unit where the tool cannot reach it: a record the page would never produce
// and a move onto a taken address are refused before anything is sent.
#include <chrono>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "klp/commands.h"
#include "klp/output.h"
#include "klp/record_text.h"
#include "klp/signals.h"

namespace klp {

namespace {


constexpr int kReadBackTries = 3;  // a unit that takes a little longer to reset still gets found

// "answer the read request after the reset" asks for "the read request after the reset";
// "acknowledge the record" for "the record".
std::string RequestOf(const std::string &action)
{
    return action.substr(action.find(' ') + 1);
}

// Why an exchange did not give what was asked, as one sentence: "address 1 on COM3 did not
// <action> within 1000 ms", what was heard instead, and what it means (`after`).
std::string AnswerFailure(const UnitLink::Answers &a, const char *action, int address,
                          const std::string &port, const std::string &within, const char *after)
{
    if (a.interrupted)
        return std::string("interrupted") + after;
    if (!a.portFailure.empty())
        return a.portFailure + after;
    const std::string unit = "address " + std::to_string(address) + " on " + port;
    // A garbled frame of its own is an answer, just not a good one; anyone else's is not.
    if (!a.garbled.empty())
        return unit + " gave no good answer to " + RequestOf(action) + " " + within + ": it sent " +
               a.garbled + after;
    const std::string heard = a.heardInstead.empty() ? "" : ": heard " + a.heardInstead + " instead";
    return unit + " did not " + action + " " + within + heard + after;
}

std::string Within(int waitMs) { return "within " + std::to_string(waitMs) + " ms"; }

int CodeOf(const UnitLink::Answers &a, ExitCode otherwise)
{
    if (a.interrupted)
        return kExitInterrupted;
    return a.portFailure.empty() ? otherwise : kExitPort;
}

// Fields the page would never store, each with its value and the page's range.
std::vector<std::string> OutsideThePage(const ConfigRecord &r)
{
    std::vector<std::string> out;
    for (const config::Field &f : config::kFields)
        if (!InPageRange(f, r) && f.kind == config::FieldKind::kList)
            out.push_back(std::string(f.name) + " holds code " +
                          std::to_string(config::FieldValue(f, r)) + " in byte " +
                          std::to_string(f.byte) + ", not " + RangeText(f));
        else if (!InPageRange(f, r))
            out.push_back(std::string(f.name) + " is " + ValueText(f, r) + " (byte " +
                          std::to_string(f.byte) + " = " + std::to_string(r.Bytes()[f.byte]) +
                          "), outside the page's " + RangeText(f));
    return out;
}

// The record as it goes out: what the page would send for the same fields, unless --force
// sends the file as it is. Refuses (kExitUsage) a record the page would never produce.
int RecordToSend(const WriteOptions &o, const ConfigRecord &file, ConfigRecord *out)
{
    const std::vector<std::string> outside = OutsideThePage(file);
    for (const std::string &why : outside)
        Note("%s: %s%s", o.file.c_str(), why.c_str(),
             o.force ? "; written as it is (--force)." : ".");
    if (!outside.empty() && !o.force)
        return Fail(kExitUsage,
                    "%s holds a record the page would never write, which could put the unit out "
                    "of reach; nothing was sent (--force writes it as it is).",
                    o.file.c_str());
    *out = o.force ? file : config::PageBits(file);
    for (size_t i = 0; i < ConfigRecord::kSize; ++i)
        if (out->Bytes()[i] != file.Bytes()[i])
            Note("%s: byte %u holds bits no field uses (0x%02X); they are written as 0, as the "
                 "page writes them.", o.file.c_str(), static_cast<unsigned>(i),
                 UnusedBits(i, file));
    return kExitOk;
}

// The outcome of a write, said once to people (standard error) and once to scripts (one
// JSON object), from the moment the port is open.
class WriteReport {
public:
    WriteReport(const WriteOptions &o, uint8_t slaveId)
        : m_o(o),
          m_json({{"port", o.port.port},
                  {"address", o.slave},
                  {"slave_id", slaveId},
                  {"acknowledged", false},
                  {"committed", false},
                  {"verified", nullptr},
                  {"error", nullptr}})
    {
    }

    void Acknowledged() { m_json["acknowledged"] = true; }
    void Committed() { m_json["committed"] = true; }
    nlohmann::ordered_json &Json() { return m_json; }

    int Done(int code, const std::string &error = "")
    {
        if (!error.empty()) {
            m_json["error"] = error;
            Fail(static_cast<ExitCode>(code), "%s", error.c_str());
        }
        if (m_o.json)
            PrintJson(m_json);
        std::fflush(stdout);
        return code;
    }

private:
    const WriteOptions &m_o;
    nlohmann::ordered_json m_json;
};

// Before a move: any unit already at the new address would share it with the one moved.
int CheckNewAddress(UnitLink &link, const WriteOptions &o, uint8_t slaveId, WriteReport &report)
{
    const UnitLink::Answers a = link.Read(slaveId, UnitLink::Ms(o.waitMs));
    if (a.Failed())
        return report.Done(CodeOf(a, kExitPort),
                           (a.interrupted ? "interrupted while checking the new address"
                                          : a.portFailure) + "; nothing was written.");
    if (!a.Heard())
        return kExitOk;
    const std::string taken =
        a.responses.empty()
            ? "address " + std::to_string(slaveId) + " answered with " + a.garbled +
                  ": it may be taken"
            : "address " + std::to_string(slaveId) + " is taken by a unit with firmware v" +
                  FirmwareText(a.responses.front());
    if (o.force) {
        Note("%s; the unit is moved there all the same (--force).", taken.c_str());
        return kExitOk;
    }
    return report.Done(kExitConflict, taken + "; nothing was written (--force moves it all the same).");
}

int ReadBack(UnitLink &link, const WriteOptions &o, const ConfigRecord &sent, WriteReport &report)
{
    const uint8_t slaveId = sent.genisysSlaveId;
    const char kNotChecked[] = "; the record was committed but could not be checked.";
    int tries = 0;
    const UnitLink::Answers back =
        link.ReadTrying(slaveId, UnitLink::Ms(o.waitMs), kReadBackTries, &tries);
    if (back.Failed())
        return report.Done(back.interrupted ? kExitInterrupted : kExitMismatch,
                           AnswerFailure(back, "", slaveId, o.port.port, "", kNotChecked));
    if (back.responses.empty()) {
        const std::string within = tries == 1 ? Within(o.waitMs)
                                              : "in " + std::to_string(tries) + " tries of " +
                                                    std::to_string(o.waitMs) + " ms";
        return report.Done(kExitMismatch,
                           AnswerFailure(back, "answer the read request after the reset", slaveId,
                                         o.port.port, within, kNotChecked));
    }
    if (back.responses.size() > 1)
        return report.Done(kExitConflict, "address " + std::to_string(slaveId) + " answered " +
                                              TimesText(back.responses.size()) +
                                              " after the commit: " + AnswersText(back.responses) +
                                              "; two units now share it.");
    // Bits no field holds are where a unit reports its DIP switches: only fields are compared.
    const std::vector<Difference> differences =
        Differences(config::PageBits(sent), config::PageBits(back.responses.front().record));
    report.Json()["verified"] = differences.empty();
    report.Json()["differences"] = DifferencesJson(differences, "written", "read_back");
    if (!o.json && differences.empty())
        std::printf("Read back at address %d: the unit holds the record written.\n", slaveId);
    else if (!o.json)
        PrintDifferences(differences, "Written", "Read back");
    if (differences.empty())
        return report.Done(kExitOk);
    return report.Done(kExitMismatch, "the unit at address " + std::to_string(slaveId) +
                                          " holds a different record from " + o.file + " (" +
                                          std::to_string(differences.size()) +
                                          (differences.size() == 1 ? " difference)." : " differences)."));
}

}  // namespace

int RunRead(const ReadOptions &o)
{
    CatchInterrupts();  // before the port's reader thread starts, which inherits it
    UnitLink link(o.port);
    if (const int code = link.Open())
        return code;
    const UnitLink::Answers a = link.Read(static_cast<uint8_t>(o.slave), UnitLink::Ms(o.waitMs));
    if (a.Failed() || a.responses.empty())
        return Fail(static_cast<ExitCode>(CodeOf(a, kExitNoAnswer)), "%s",
                    AnswerFailure(a, "answer the read request", o.slave, o.port.port,
                                  Within(o.waitMs), ".").c_str());
    const config::ReadResponse &r = a.responses.front();
    const bool twice = a.responses.size() > 1;
    if (twice && !o.first)
        return Fail(kExitConflict, "address %d answered %s: %s; nothing was saved (--first takes "
                    "the first answer).", o.slave, TimesText(a.responses.size()).c_str(),
                    AnswersText(a.responses).c_str());
    if (twice)
        Note("address %d answered %s: %s; the first answer is taken (--first).", o.slave,
             TimesText(a.responses.size()).c_str(), AnswersText(a.responses).c_str());
    if (o.output == "-") {
        // The record's 14 bytes alone: anything else would spoil them.
        // A write that fails is said once, with the system's reason, when the command ends.
        std::fwrite(r.record.Bytes(), 1, ConfigRecord::kSize, stdout);
        return kExitOk;
    }
    if (o.json) {
        PrintJson({{"port", o.port.port},
                   {"address", o.slave},
                   {"answers", a.responses.size()},
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
    ConfigRecord file, record;
    if (const int code = LoadRecordFile(o.file, &file))
        return code;
    if (const int code = RecordToSend(o, file, &record))
        return code;
    CatchInterrupts();  // before the port's reader thread starts, which inherits it
    UnitLink link(o.port);
    if (const int code = link.Open())
        return code;
    const uint8_t address = static_cast<uint8_t>(o.slave);
    // The commit goes to the slave ID just written, which differs when the write moves the unit.
    const uint8_t slaveId = record.genisysSlaveId;
    WriteReport report(o, slaveId);
    if (slaveId != address)
        if (const int code = CheckNewAddress(link, o, slaveId, report))
            return code;

    const UnitLink::Answers ack = link.Write(address, record, UnitLink::Ms(o.waitMs));
    if (ack.Failed() || ack.acks == 0)
        return report.Done(CodeOf(ack, kExitNoAnswer),
                           AnswerFailure(ack, "acknowledge the record", o.slave, o.port.port,
                                         Within(o.waitMs), "; nothing was committed."));
    report.Acknowledged();
    if (ack.acks > 1)
        return report.Done(kExitConflict, "address " + std::to_string(o.slave) + " acknowledged " +
                                              TimesText(ack.acks) +
                                              ": two units share it; nothing was committed.");
    if (!link.Commit())
        return report.Done(kExitPort, "the unit acknowledged the record, but the commit could not "
                                      "be sent on " + o.port.port + "; the unit has not saved it.");
    report.Committed();
    if (!o.json)
        std::printf("Address %d acknowledged the record; committed at slave ID %d.\n", o.slave,
                    slaveId);
    std::fflush(stdout);
    if (!o.verify)
        return report.Done(kExitOk);
    // The unit saves and resets meanwhile; Ctrl-C ends the wait.
    if (ProcessStop().WaitFor(std::chrono::milliseconds(o.resetMs)) == StopReason::kInterrupted)
        return report.Done(kExitInterrupted,
                           "interrupted after the commit went out; the record was committed but "
                           "not checked.");
    return ReadBack(link, o, record, report);
}

}  // namespace klp
