// klp: the command-line companion of KLP Config. The command line (CLI11), the help texts, the
// exit-code table, and the hand-over to each command.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "klp/commands.h"
#include "klp/console.h"
#include "klp/output.h"
#include "klp/record_text.h"
#include "klp/usage.h"

namespace {

using namespace klp;

const char kAbout[] =
    "klp - the command-line companion of KLP Config, for the Kelpro S2 to Genisys unit.\n"
    "Watches a Genisys line, finds the units on it, reads, writes and compares their\n"
    "configurations, and decodes captures. 'klp COMMAND --help' tells more about a command.";

// A positional argument by its value's name, "FIELD=VALUE ..." when it takes any number.
std::string PositionalName(const CLI::Option *o)
{
    const bool any = o->get_items_expected_max() >= CLI::detail::expected_max_vector_size;
    return o->get_type_name() + (any ? " ..." : "");
}

// klp's help: each option with its value's name only (CLI11 would add types, counts and
// "REQUIRED"), positionals by their value's name, usage as "klp diff [options] A.klp B.klp".
class HelpLayout : public CLI::Formatter {
public:
    HelpLayout() { column_width(28); }

    std::string make_option_name(const CLI::Option *o, bool positional) const override
    {
        return positional ? PositionalName(o) : CLI::Formatter::make_option_name(o, false);
    }
    std::string make_option_opts(const CLI::Option *o) const override
    {
        return o->get_type_name().empty() || o->get_positional() ? "" : " " + o->get_type_name();
    }
    std::string make_usage(const CLI::App *app, std::string name) const override
    {
        std::string usage = "Usage: " + name;
        if (!app->get_subcommands({}).empty())
            usage += " COMMAND";
        usage += " [options]";
        for (const CLI::Option *o : app->get_options([](const CLI::Option *o) { return o->get_positional(); }))
            usage += " " + (o->get_required() ? PositionalName(o) : "[" + PositionalName(o) + "]");
        return usage + "\n";
    }
};

const char kPortHelp[] =
    "serial port: /dev/ttyUSB0 on Linux, COM3 on Windows; or a device server's port, "
    "tcp://HOST:PORT (raw TCP) or rfc2217://HOST:PORT (Telnet COM port control)";
const char kBaudHelp[] = "baud rate of the Genisys line: 1200, 2400, 4800, 9600 or 19200";

void AddPort(CLI::App *cmd, PortOptions &o)
{
    cmd->add_option("-p,--port", o.port, kPortHelp)->required()->check(NotEmpty())->type_name("PORT");
    cmd->add_option("-b,--baud", o.baud, kBaudHelp)
        ->check(CLI::IsMember({"1200", "2400", "4800", "9600", "19200"}))
        ->capture_default_str()
        ->type_name("RATE");
    cmd->add_option("--connect-timeout", o.connectTimeout,
                    "how long a network port may take to connect")
        ->check(Seconds(600))
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
        ->check(Decimal(1, 255))
        ->type_name("ADDR");
}

void AddWait(CLI::App *cmd, int &waitMs, const char *help)
{
    cmd->add_option("-w,--wait", waitMs, help)
        ->check(Decimal(1, 60000))
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
    cmd->add_option("--time", o.time,
                    "how lines are stamped: page (the Comms page's), ms (with milliseconds) or "
                    "iso (ISO 8601 with milliseconds); the log keeps the page's")
        ->check(CLI::IsMember({"page", "ms", "iso"}))
        ->capture_default_str()
        ->type_name("STAMP");
    cmd->add_flag("--reopen", o.reopen,
                  "when the port stops answering (an unplugged adapter), wait for it to come "
                  "back and go on");
    cmd->add_option("--metrics", o.metrics,
                    "serve Prometheus metrics on [ADDR:]PORT at /metrics (Linux build)")
        ->type_name("[ADDR:]PORT");
    cmd->add_option("--pcap", o.pcap,
                    "also record what the port hears to FILE, a pcapng capture for Wireshark "
                    "(one packet per frame, with its time)")
        ->check(NotEmpty())
        ->type_name("FILE");
    cmd->add_option("--duration", o.duration, "stop after this many seconds")
        ->check(Seconds(10 * 365 * 24 * 3600.0))
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
        ->check(Decimal(1, 65535))
        ->type_name("N");
    return {cmd, [&o] { return RunDecode(o); }};
}

Command SetUpScan(CLI::App &app, ScanOptions &o)
{
    CLI::App *cmd =
        app.add_subcommand("scan", "find the units on the line, with firmware and DIP switches");
    cmd->footer(
        "Sends a configuration read request to each address in turn and lists the units that\n"
        "answer: address, firmware, slave ID, mode byte and DIP switches. Each address is heard\n"
        "for the whole of --wait, so that two units set to one address are both listed (exit 7).\n"
        "A unit that answers after --wait is listed as late; an answer with a bad CRC or the\n"
        "wrong length as garbled. --burst sends every request back to back, as the Comms page's\n"
        "\"Find Slaves\" does, and lists the answers heard until --wait after the last one.\n"
        "Scanning sends on the line: do it when a short pause of the traffic is acceptable.\n\n"
        "Example:\n"
        "  klp scan --port /dev/ttyUSB0 --from 1 --to 20\n");
    AddPort(cmd, o.port);
    cmd->add_option("--from", o.from, "first address")
        ->check(Decimal(1, 255))
        ->capture_default_str()
        ->type_name("ADDR");
    cmd->add_option("--to", o.to, "last address")
        ->check(Decimal(1, 255))
        ->capture_default_str()
        ->type_name("ADDR");
    AddWait(cmd, o.waitMs, "how long to wait for each address to answer (--burst: after the last)");
    cmd->add_option("--retries", o.retries, "ask a silent address this many times more (noisy lines)")
        ->check(Decimal(0, 9))
        ->capture_default_str()
        ->type_name("N");
    cmd->add_flag("--burst", o.burst, "send every request back to back, then collect the answers");
    AddJson(cmd, o.json, "one JSON object per address that answered");
    AddVerbose(cmd, o.port);
    return {cmd, [&o] { return RunScan(o); }};
}

Command SetUpRead(CLI::App &app, ReadOptions &o)
{
    CLI::App *cmd =
        app.add_subcommand("read", "read one unit's configuration; -o saves it as a .klp file");
    cmd->footer(
        "Shows the unit's firmware, its DIP switch text and every field as the Kelpro Config page\n"
        "shows it, with the field names that 'klp set' takes. The address is heard for the whole\n"
        "of --wait: when two units answer, nothing is shown or saved (exit 7) unless --first.\n\n"
        "Example:\n"
        "  klp read --port /dev/ttyUSB0 --slave 1 -o unit1-before.klp\n");
    AddPort(cmd, o.port);
    AddSlave(cmd, o.slave, "the unit's Genisys address (the page's \"slave to config\")");
    AddWait(cmd, o.waitMs, "how long to wait for the answer");
    cmd->add_option("-o,--output", o.output,
                    "save the record to FILE (14 bytes, as the program's Save does); '-' for "
                    "standard output")
        ->check(NotEmpty())
        ->type_name("FILE");
    cmd->add_flag("--first", o.first, "when two units answer, take the first answer all the same");
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
        "holds), waits --reset-ms, reads the record back there and compares it field by field.\n"
        "A record the page would never write (slave ID 0, a rate not in the page's list, any\n"
        "field out of the page's range) is refused before anything is sent; bits no field uses\n"
        "go out as 0, as the page writes them. When the slave ID differs from --slave, the new\n"
        "address is asked first and a unit answering there stops the write. --force writes the\n"
        "file as it is and moves the unit all the same, and says so.\n\n"
        "Example:\n"
        "  klp write --port /dev/ttyUSB0 --slave 1 unit1-new.klp\n");
    AddPort(cmd, o.port);
    AddSlave(cmd, o.slave, "the unit's Genisys address now");
    cmd->add_option("file", o.file, "the .klp file to write")->required()->type_name("FILE");
    AddWait(cmd, o.waitMs, "how long to wait for each answer");
    cmd->add_option("--reset-ms", o.resetMs,
                    "how long the unit takes to save and reset before the read-back")
        ->check(Decimal(0, 60000))
        ->capture_default_str()
        ->type_name("MS");
    cmd->add_flag(
        "--no-verify", [&o](int64_t) { o.verify = false; }, "do not read the record back");
    cmd->add_flag("--force", o.force,
                  "write a record the page would never write, or onto a taken address");
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
    cmd->footer(cmd->get_footer() + "\nFields:\n" + FieldTable());
    return {cmd, [&o] { return RunSet(o); }};
}

// "--slave: takes 1 to 255, not 'abc'" reads as "--slave takes 1 to 255, not 'abc'".
std::string FailureMessage(const CLI::App *, const CLI::Error &e)
{
    std::string what = e.what();
    for (const char *verb : {": takes ", ": needs "}) {
        const size_t colon = what.find(verb);
        if (colon != std::string::npos && what.compare(0, 1, "-") == 0)
            what.erase(colon, 1);
    }
    return "klp: " + what + ".\nRun 'klp --help' or 'klp help COMMAND' for more.\n";
}

std::vector<std::string> Names(const std::vector<const CLI::App *> &commands)
{
    std::vector<std::string> names;
    for (const CLI::App *c : commands)
        names.push_back(c->get_name());
    return names;
}

// A command or option that does not exist, said before the parser says it less plainly:
// "'scna' is not a klp command; did you mean 'scan'?". kExitOk when there is none.
int Misspelt(const CLI::App &app, int argc, char **argv)
{
    if (argc < 2 || argv[1][0] == '-')
        return kExitOk;
    const std::vector<const CLI::App *> commands = app.get_subcommands({});
    const std::string typed = argv[1];
    const CLI::App *command = nullptr;
    for (const CLI::App *c : commands)
        command = c->get_name() == typed ? c : command;
    if (!command) {
        const std::string near = Closest(typed, Names(commands));
        return Fail(kExitUsage, "'%s' is not a klp command%s", typed.c_str(),
                    near.empty() ? "; 'klp --help' lists them."
                                 : ("; did you mean '" + near + "'?").c_str());
    }
    std::vector<std::string> options;
    for (const CLI::Option *o : command->get_options())
        for (const std::string &name : o->get_lnames())
            options.push_back("--" + name);
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--")
            break;
        if (arg.compare(0, 2, "--") != 0)
            continue;
        arg = arg.substr(0, arg.find('='));
        if (std::find(options.begin(), options.end(), arg) != options.end())
            continue;
        const std::string near = Closest(arg, options);
        const std::string list = "; 'klp help " + typed + "' lists them.";
        return Fail(kExitUsage, "klp %s has no option %s%s", typed.c_str(), arg.c_str(),
                    near.empty() ? list.c_str() : ("; did you mean " + near + "?").c_str());
    }
    return kExitOk;
}

// "klp help" and "klp help COMMAND" are "klp --help" and "klp COMMAND --help".
std::vector<std::string> Arguments(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "help") {
        args.erase(args.begin());
        args.resize(std::min<size_t>(args.size(), 1));
        args.push_back("--help");
    }
    return args;
}

}  // namespace

int main(int argc, char **argv)
{
    PrepareStdio();
    CLI::App app(kAbout, "klp");
    // Set before the commands are added: they take these over.
    app.failure_message(FailureMessage);
    app.formatter(std::make_shared<HelpLayout>());
    // "/dev/ttyUSB0" and "/tmp/x.klp" are names, not Windows-style options, on every platform.
    app.allow_windows_style_options(false);
    app.footer(ExitCodeTable());
    app.set_version_flag("-V,--version", "klp " KLP_VERSION);  // the project's version, from CMake
    app.require_subcommand(0, 1);

    Options o;
    const Command commands[] = {
        SetUpMonitor(app, o.monitor), SetUpDecode(app, o.decode), SetUpScan(app, o.scan),
        SetUpRead(app, o.read),       SetUpWrite(app, o.write),   SetUpShow(app, o.show),
        SetUpDiff(app, o.diff),       SetUpSet(app, o.set),
    };
    app.add_subcommand("help", "help on klp, or on one command: klp help COMMAND");

    std::vector<std::string> args = Arguments(argc, argv);
    std::vector<char *> argvHelped = {argv[0]};
    for (std::string &a : args)
        argvHelped.push_back(&a[0]);
    if (const int code = Misspelt(app, static_cast<int>(argvHelped.size()), argvHelped.data()))
        return code;
    try {
        std::reverse(args.begin(), args.end());  // CLI11 takes them last first
        app.parse(args);
    } catch (const CLI::ParseError &e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    for (const Command &c : commands)
        if (c.app->parsed())
            return FinishOutput(c.run());
    return Fail(kExitUsage,
                "a command is required: monitor, decode, scan, read, write, show, diff or set.\n"
                "Run 'klp --help' for more.");
}
