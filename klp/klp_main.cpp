// klp: the command-line companion of KLP Config. The command line (CLI11), the help texts, the
// exit-code table, and the hand-over to each command.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "klp/commands.h"
#include "klp/console.h"
#include "klp/output.h"

namespace {

using namespace klp;

const char kAbout[] =
    "klp - the command-line companion of KLP Config, for the Kelpro S2 to Genisys unit.\n"
    "Watches a Genisys line, finds the units on it, reads, writes and compares their\n"
    "configurations, and decodes captures. 'klp COMMAND --help' tells more about a command.";

// The exit codes, as scripts see them (klp/output.h).
const char kExitCodes[] =
    "Exit codes:\n"
    "  0  done\n"
    "  1  diff: the files differ\n"
    "  2  bad usage: unknown command or option, a field or value the page would not take\n"
    "  3  port trouble: missing, busy, refused its settings, or stopped responding\n"
    "  4  file trouble: cannot be read, wrong size, cannot be written\n"
    "  5  no answer from the unit, or a late, short, long or garbled one\n"
    "  6  write: the record read back differs from the one written\n";

const char kPortHelp[] =
    "serial port: /dev/ttyUSB0 on Linux, COM3 on Windows; or a device server's port, "
    "tcp://HOST:PORT (raw TCP) or rfc2217://HOST:PORT (Telnet COM port control)";
const char kBaudHelp[] = "baud rate of the Genisys line: 1200, 2400, 4800, 9600 or 19200";

void AddPort(CLI::App *cmd, PortOptions &o)
{
    cmd->add_option("-p,--port", o.port, kPortHelp)->required()->type_name("PORT");
    cmd->add_option("-b,--baud", o.baud, kBaudHelp)
        ->check(CLI::IsMember({1200, 2400, 4800, 9600, 19200}))
        ->capture_default_str()
        ->type_name("RATE");
    cmd->add_option("--connect-timeout", o.connectTimeout,
                    "how long a network port may take to connect")
        ->check(CLI::Range(0.1, 600.0))
        ->capture_default_str()
        ->type_name("S");
}

void AddVerbose(CLI::App *cmd, PortOptions &o)
{
    cmd->add_flag("-v,--verbose", o.verbose, "show the frames sent and received on standard error");
}

void AddSlave(CLI::App *cmd, int &slave, const char *help)
{
    cmd->add_option("-s,--slave", slave, help)
        ->required()
        ->check(CLI::Range(1, 255))
        ->type_name("ADDR");
}

void AddWait(CLI::App *cmd, int &waitMs, const char *help)
{
    cmd->add_option("-w,--wait", waitMs, help)
        ->check(CLI::Range(1, 60000))
        ->capture_default_str()
        ->type_name("MS");
}

void AddJson(CLI::App *cmd, bool &json, const char *help) { cmd->add_flag("--json", json, help); }

void AddCrc(CLI::App *cmd, genisys::CrcChoice &crc)
{
    cmd->add_option_function<std::string>(
           "--crc",
           [&crc](const std::string &kind) {
               crc = kind == "modbus" ? genisys::CrcChoice::kModbus
                     : kind == "auto" ? genisys::CrcChoice::kAuto
                                      : genisys::CrcChoice::kArc;
           },
           "how frames' CRC-16 starts: arc (at 0, the page's), modbus (at 0xFFFF, as some "
           "equipment does), or auto (per stream, from the first frames; says which)")
        ->check(CLI::IsMember({"arc", "modbus", "auto"}))
        ->default_str("arc")
        ->type_name("KIND");
}

// What the command line asked for, and the command to run it.
struct Command {
    CLI::App *app;
    std::function<int()> run;
};

struct Options {
    MonitorOptions monitor;
    DecodeOptions decode;
    ScanOptions scan;
    ReadOptions read;
    WriteOptions write;
    FileOptions show, diff, set;
};

Command SetUpMonitor(CLI::App &app, MonitorOptions &o)
{
    CLI::App *cmd = app.add_subcommand("monitor", "watch the line: the decoded, time-stamped log");
    cmd->footer(
        "The log on standard output, line for line as the Comms page shows it: the same texts,\n"
        "time stamps and filter. Polls and acknowledgements are counted always and shown only\n"
        "with --polls. Ctrl-C, or the end of --duration, stops it and prints the counter as\n"
        "polls/acks, and with --summary a row per station.\n\n"
        "Example:\n"
        "  klp monitor --port /dev/ttyUSB0 --baud 19200 --log CommsLog.txt --summary\n");
    AddPort(cmd, o.port);
    cmd->add_flag("--polls", o.polls,
                  "also show polls and acknowledgements (they are always counted)");
    cmd->add_option("--log", o.log,
                    "also append the lines to FILE in CommsLog.txt's format (date, time, text)")
        ->type_name("FILE");
    cmd->add_option("--pcap", o.pcap,
                    "also record what the port hears to FILE, a pcapng capture for Wireshark "
                    "(one packet per frame, with its time)")
        ->type_name("FILE");
    cmd->add_option("--duration", o.duration, "stop after this many seconds")
        ->check(CLI::PositiveNumber)
        ->type_name("S");
    cmd->add_flag("--summary", o.summary,
                  "at the end, one row per station: polls, acks, indications, controls, recalls, "
                  "CRC failures, last seen");
    AddJson(cmd, o.json, "one JSON object per line, counter and station");
    AddCrc(cmd, o.crc);
    return {cmd, [&o] { return RunMonitor(o); }};
}

Command SetUpDecode(CLI::App &app, DecodeOptions &o)
{
    CLI::App *cmd =
        app.add_subcommand("decode", "decode a raw byte capture or a network capture (pcap, pcapng)");
    cmd->footer(
        "Runs the bytes of FILE (or standard input) through the same decoder as the Comms page\n"
        "and prints its lines (whole, without time stamps: raw bytes have no times), then the\n"
        "counter as polls/acks. A pcap or pcapng file (told by its first bytes) is decoded\n"
        "conversation by conversation: each direction of each TCP or UDP conversation through\n"
        "its own decoder, TCP in sequence order, each line after the packet's time and its\n"
        "direction.\n\n"
        "Examples:\n"
        "  klp decode --polls line-capture.bin\n"
        "  klp decode --crc auto --port 10001 signalling.pcapng\n");
    cmd->add_option("file", o.file, "the capture; '-' or none for standard input")
        ->type_name("FILE");
    cmd->add_flag("--polls", o.polls,
                  "also show polls and acknowledgements (they are always counted)");
    cmd->add_flag("--summary", o.summary, "at the end, one row per station");
    AddJson(cmd, o.json, "one JSON object per line, counter and station");
    AddCrc(cmd, o.crc);
    cmd->add_option("-p,--port", o.tcpPort,
                    "a network capture: only the conversations with this TCP or UDP port")
        ->check(CLI::Range(1, 65535))
        ->type_name("N");
    return {cmd, [&o] { return RunDecode(o); }};
}

Command SetUpScan(CLI::App &app, ScanOptions &o)
{
    CLI::App *cmd =
        app.add_subcommand("scan", "find the units on the line, with firmware and DIP switches");
    cmd->footer(
        "Sends a configuration read request to each address in turn and lists the units that\n"
        "answer: address, firmware, slave ID, mode byte and DIP switches. A unit that answers\n"
        "after --wait is listed as late; an answer with a bad CRC or the wrong length as garbled.\n"
        "Scanning sends on the line: do it when a short pause of the traffic is acceptable.\n\n"
        "Example:\n"
        "  klp scan --port /dev/ttyUSB0 --from 1 --to 20\n");
    AddPort(cmd, o.port);
    cmd->add_option("--from", o.from, "first address")
        ->check(CLI::Range(1, 255))
        ->capture_default_str()
        ->type_name("ADDR");
    cmd->add_option("--to", o.to, "last address")
        ->check(CLI::Range(1, 255))
        ->capture_default_str()
        ->type_name("ADDR");
    AddWait(cmd, o.waitMs, "how long to wait for each address to answer");
    AddJson(cmd, o.json, "one JSON object per unit");
    AddVerbose(cmd, o.port);
    return {cmd, [&o] { return RunScan(o); }};
}

Command SetUpRead(CLI::App &app, ReadOptions &o)
{
    CLI::App *cmd =
        app.add_subcommand("read", "read one unit's configuration; -o saves it as a .klp file");
    cmd->footer(
        "Shows the unit's firmware, its DIP switch text and every field as the Kelpro Config page\n"
        "shows it, with the field names that 'klp set' takes.\n\n"
        "Example:\n"
        "  klp read --port /dev/ttyUSB0 --slave 1 -o unit1-before.klp\n");
    AddPort(cmd, o.port);
    AddSlave(cmd, o.slave, "the unit's Genisys address (the page's \"slave to config\")");
    AddWait(cmd, o.waitMs, "how long to wait for the answer");
    cmd->add_option("-o,--output", o.output,
                    "save the record to FILE (14 bytes, as the program's Save does)")
        ->type_name("FILE");
    AddJson(cmd, o.json, "the unit and its record as one JSON object");
    AddVerbose(cmd, o.port);
    return {cmd, [&o] { return RunRead(o); }};
}

Command SetUpWrite(CLI::App &app, WriteOptions &o)
{
    CLI::App *cmd =
        app.add_subcommand("write", "write a .klp file to one unit, commit it and check it");
    cmd->footer(
        "Sends the record to the unit at --slave and waits for its acknowledgement; without one\n"
        "nothing is committed. Then tells the unit to save and reset (at the slave ID the file\n"
        "holds), waits --reset-ms, reads the record back there and compares it field by field.\n\n"
        "Example:\n"
        "  klp write --port /dev/ttyUSB0 --slave 1 unit1-new.klp\n");
    AddPort(cmd, o.port);
    AddSlave(cmd, o.slave, "the unit's Genisys address now");
    cmd->add_option("file", o.file, "the .klp file to write")->required()->type_name("FILE");
    AddWait(cmd, o.waitMs, "how long to wait for each answer");
    cmd->add_option("--reset-ms", o.resetMs,
                    "how long the unit takes to save and reset before the read-back")
        ->check(CLI::Range(0, 60000))
        ->capture_default_str()
        ->type_name("MS");
    cmd->add_flag(
        "--no-verify", [&o](int64_t) { o.verify = false; }, "do not read the record back");
    AddJson(cmd, o.json, "the outcome as one JSON object");
    AddVerbose(cmd, o.port);
    return {cmd, [&o] { return RunWrite(o); }};
}

Command SetUpShow(CLI::App &app, FileOptions &o)
{
    CLI::App *cmd = app.add_subcommand("show", "show the fields of a .klp file");
    cmd->footer("Every field as the Kelpro Config page shows it, with its name for 'klp set'.\n");
    cmd->add_option("file", o.file, "the .klp file")->required()->type_name("FILE");
    AddJson(cmd, o.json, "the record as one JSON object");
    return {cmd, [&o] { return RunShow(o); }};
}

Command SetUpDiff(CLI::App &app, FileOptions &o)
{
    CLI::App *cmd =
        app.add_subcommand("diff", "show the fields that differ between two .klp files");
    cmd->footer(
        "Prints nothing and exits 0 when the files hold the same record; exits 1 when they\n"
        "differ.\n");
    cmd->add_option("files", o.files, "the two .klp files")
        ->required()
        ->expected(2)
        ->type_name("A.klp B.klp");
    AddJson(cmd, o.json, "the differences as one JSON object");
    return {cmd, [&o] { return RunDiff(o); }};
}

Command SetUpSet(CLI::App &app, FileOptions &o)
{
    CLI::App *cmd =
        app.add_subcommand("set", "change fields of a .klp file, within the page's ranges");
    cmd->footer(
        "Values are in the page's units (ms, seconds, rates as listed, on/off for check boxes). A\n"
        "value out of the page's range is refused with the range, never clamped; a number off the\n"
        "field's step is stored as the page would store it, and klp says so. 'klp show' lists the\n"
        "field names. The file is replaced only once written whole.\n\n"
        "Example:\n"
        "  klp set unit1-new.klp slave_id=7 baud=19200 poll_time_ms=500 secure_polls=on\n");
    cmd->add_option("file", o.file, "the .klp file")->required()->type_name("FILE");
    cmd->add_option("assignments", o.assignments,
                    "FIELD=VALUE, e.g. slave_id=7 baud=19200 poll_time_ms=500 secure_polls=on")
        ->required()
        ->type_name("FIELD=VALUE");
    cmd->add_flag("--defaults", o.defaults,
                  "start from the page's defaults (the file need not exist)");
    return {cmd, [&o] { return RunSet(o); }};
}

std::string FailureMessage(const CLI::App *, const CLI::Error &e)
{
    return std::string("klp: ") + e.what() +
           "\nRun 'klp --help' or 'klp COMMAND --help' for more.\n";
}

}  // namespace

int main(int argc, char **argv)
{
    PrepareStdio();
    CLI::App app(kAbout, "klp");
    // Set before the commands are added: they take these over.
    app.failure_message(FailureMessage);
    // "/dev/ttyUSB0" and "/tmp/x.klp" are names, not Windows-style options, on every platform.
    app.allow_windows_style_options(false);
    app.footer(kExitCodes);
    app.set_version_flag("--version", KLP_VERSION);  // the project's version, from CMake
    app.require_subcommand(0, 1);
    app.get_formatter()->column_width(28);

    Options o;
    const Command commands[] = {
        SetUpMonitor(app, o.monitor), SetUpDecode(app, o.decode), SetUpScan(app, o.scan),
        SetUpRead(app, o.read),       SetUpWrite(app, o.write),   SetUpShow(app, o.show),
        SetUpDiff(app, o.diff),       SetUpSet(app, o.set),
    };
    for (const Command &c : commands)
        c.app->footer(c.app->get_footer() + "\n" + kExitCodes);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    for (const Command &c : commands)
        if (c.app->parsed())
            return c.run();
    return Fail(kExitUsage,
                "a command is required: monitor, decode, scan, read, write, show, diff or set.\n"
                "Run 'klp --help' for more.");
}
