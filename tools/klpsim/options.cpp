// klpsim's command line, declared once to CLI11: parsing, range checks and --help all come
// from the declarations below, so the help cannot drift from what is accepted.
#include "tools/klpsim/options.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <functional>
#include <memory>

#include "config/config_record.h"

namespace klpsim {

namespace {

constexpr size_t kDescriptionColumn = 23;
constexpr long long kMaxMs = 3600000;         // an hour: delays and resets
constexpr long long kMaxRunMs = 1LL << 40;    // run lengths: far beyond any test

// Option groups, in the order --help shows them, and their headings (CLI11 keeps group names
// to one line; the general options come last, under no heading).
const char kLine[] = "Line";
const char kUnits[] = "Units";
const char kFaults[] = "Misbehaviour";
const char kGeneral[] = "General";

struct Heading {
    const char *group;
    const char *text;
};
const Heading kHeadings[] = {
    {kLine, "Line:\n"},
    {kUnits, "Units (each --unit starts a unit and the options after it describe that unit; unit\n"
             "options before the first --unit describe a unit at address 1):\n"},
    {kFaults, "Misbehaviour (of the latest --unit, as the unit options above; before the first\n"
              "--unit, of the unit at 1):\n"},
    {kGeneral, ""},
};

const char kDescription[] =
    "A virtual Kelpro unit on a pseudo-terminal. Prints the terminal's path on the first line\n"
    "of standard output, then serves the line until it is stopped (SIGINT, SIGTERM).";

const char kFooter[] =
    "A unit answers a configuration read request (0xFB with the configuration marker) with\n"
    "the 22-byte read response (0xF2), a configuration write (0xFC with 14 bytes) with an\n"
    "acknowledgement (0xFA) and adopts the record, and on a commit (0xFE to the slave ID its\n"
    "record holds, which a write may just have changed) saves the record and stays quiet for\n"
    "the reset time, then answers at that slave ID. Units at one address all answer, one\n"
    "whole frame after another.";

// klpsim's help layout: usage first, a heading per group (none for the general options),
// descriptions in one column.
class HelpLayout : public CLI::Formatter {
public:
    HelpLayout() { column_width(kDescriptionColumn); }

    std::string make_help(const CLI::App *app, std::string name, CLI::AppFormatMode) const override
    {
        std::string out = "Usage: " + name + " [options]\n" + app->get_description() + "\n";
        for (const std::string &group : app->get_groups()) {
            const auto inGroup = [&group](const CLI::Option *o) { return o->get_group() == group; };
            out += make_group(group, false, app->get_options(inGroup));
        }
        return out + "\n" + app->get_footer() + "\n";
    }

    // Just the value's name: CLI11 would add type names and exclusions.
    std::string make_option_opts(const CLI::Option *o) const override
    {
        return o->get_option_text().empty() ? "" : " " + o->get_option_text();
    }

    std::string make_group(std::string group, bool, std::vector<const CLI::Option *> opts) const override
    {
        std::string out = "\n";
        for (const Heading &h : kHeadings)
            out += group == h.group ? h.text : "";
        for (const CLI::Option *o : opts)
            out += make_option(o, false);
        return out;
    }
};

// Every option acts when it is met (trigger_on_parse), in command-line order: that is what
// lets a unit option describe the --unit before it, and a repeated option's last value win.
CLI::Option *Flag(CLI::App *app, const char *name, std::function<void()> set, const char *help)
{
    return app->add_flag_function(name, [set](int64_t count) { if (count > 0) set(); }, help)
        ->trigger_on_parse();
}

CLI::Option *Text(CLI::App *app, const char *name, const char *value,
                  std::function<void(const std::string &)> set, const char *help)
{
    return app->add_option_function<std::string>(name, set, help)
        ->option_text(value)
        ->trigger_on_parse();
}

CLI::Option *Number(CLI::App *app, const char *name, const char *value, long long min, long long max,
                    std::function<void(long long)> set, const char *help)
{
    return app->add_option_function<long long>(name, [set](const long long &n) { set(n); }, help)
        ->check(CLI::Range(min, max))
        ->option_text(value)
        ->trigger_on_parse();
}

// Bytes 0-255 with a separator between them, each read as CLI11 reads numbers (decimal, or
// 0x hexadecimal). CLI11's own list splitting would drop empty items, which here are typing
// mistakes, and a list type would let "--firmware 2" swallow the next option as its minor.
bool BytesFrom(const std::string &text, char separator, std::vector<uint8_t> *bytes)
{
    std::vector<uint8_t> out;
    size_t at = 0;
    for (;;) {
        const size_t end = text.find(separator, at);
        int value = -1;
        if (!CLI::detail::lexical_cast(text.substr(at, end - at), value) || value < 0 || value > 255)
            return false;
        out.push_back(static_cast<uint8_t>(value));
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    *bytes = out;
    return true;
}

// Exactly 28 hexadecimal digits, two to a record byte.
bool RecordFromHex(const std::string &text, ConfigRecord *record)
{
    if (text.size() != 2 * ConfigRecord::kSize)
        return false;
    ConfigRecord parsed{};
    for (size_t i = 0; i < ConfigRecord::kSize; ++i) {
        const char *first = text.data() + 2 * i;
        if (std::from_chars(first, first + 2, parsed.Bytes()[i], 16).ptr != first + 2)
            return false;
    }
    *record = parsed;
    return true;
}

UnitOptions NewUnit(uint8_t address)
{
    UnitOptions unit;
    unit.address = address;
    unit.record = config::DefaultRecord();
    unit.record.genisysSlaveId = address;  // the unit's record names its own address
    return unit;
}

// The unit that unit options describe: the latest --unit, or a unit at 1 before any.
UnitOptions &CurrentUnit(Options *o)
{
    if (o->units.empty())
        o->units.push_back(NewUnit(1));
    return o->units.back();
}

void DeclareLine(CLI::App *app, Options *o)
{
    app->option_defaults()->group(kLine);
    Text(app, "--link", "PATH", [o](const std::string &s) { o->link = s; },
         "also make PATH a symbolic link to the terminal");
    Text(app, "--capture", "FILE", [o](const std::string &s) { o->captureFile = s; },
         "record every byte received to FILE");
    Text(app, "--replay", "FILE", [o](const std::string &s) { o->replayFile = s; },
         "put the bytes of FILE on the line once, at start");
    Number(app, "--replay-rate", "N", 1, 100000000,
           [o](long long n) { o->replayRate = static_cast<uint32_t>(n); },
           "replay at N bytes a second (default: all at once)");
    Number(app, "--traffic", "N", 0, 100000,
           [o](long long n) { o->trafficRate = static_cast<double>(n); },
           "produce N ordinary Genisys frames a second (default 0): secure and\n"
           "insecure polls, acknowledgements, indications with data, recalls,\n"
           "controls and checkbacks");
    Text(app, "--stations", "A,B,...", [o](const std::string &s) {
            if (!BytesFrom(s, ',', &o->stations))
                throw CLI::ValidationError("--stations", "addresses 0-255 between commas expected, not " + s);
        },
        "station addresses of that traffic (default 5)");
    Number(app, "--line-baud", "RATE", 50, 4000000,
           [o](long long n) { o->lineBaud = static_cast<uint32_t>(n); },
           "pace the line as a real one at RATE baud, 50-4000000, 8-N-1:\n"
           "RATE/10 bytes a second each way. Answers, traffic and replay leave\n"
           "no faster, one after another; a frame is heard only once its last\n"
           "byte would have arrived (default: as fast as the terminal goes)");
    Number(app, "--duration", "MS", 0, kMaxRunMs, [o](long long n) { o->durationMs = n; },
           "exit MS milliseconds after start");
    Number(app, "--vanish-after", "MS", 0, kMaxRunMs, [o](long long n) { o->vanishAfterMs = n; },
           "close the terminal MS milliseconds after start, as an unplugged\n"
           "adapter would, and exit");
}

void DeclareUnits(CLI::App *app, Options *o)
{
    app->option_defaults()->group(kUnits);
    Number(app, "--unit", "ADDR", 0, 255,
           [o](long long n) { o->units.push_back(NewUnit(static_cast<uint8_t>(n))); },
           "emulate a unit at Genisys address ADDR, 0-255 (default: one at 1)");
    Text(app, "--record", "FILE", [o](const std::string &s) { CurrentUnit(o).recordFile = s; },
         "the unit's 14-byte record: loaded at start if the file exists,\n"
         "saved there when the unit commits");
    Text(app, "--record-hex", "HEX", [o](const std::string &s) {
            if (!RecordFromHex(s, &CurrentUnit(o).record))
                throw CLI::ValidationError("--record-hex", "28 hexadecimal digits expected, not " + s);
        },
        "the unit's record as 28 hexadecimal digits");
    Text(app, "--firmware", "MAJ.MIN", [o](const std::string &s) {
            std::vector<uint8_t> version;
            if (!BytesFrom(s, '.', &version) || version.size() != 2)
                throw CLI::ValidationError("--firmware", "MAJ.MIN with each 0-255 expected, not " + s);
            CurrentUnit(o).firmwareMajor = version[0];
            CurrentUnit(o).firmwareMinor = version[1];
        },
        "firmware version it reports (default 2.5)");
    Number(app, "--mode", "N", 0, 255,
           [o](long long n) { CurrentUnit(o).mode = static_cast<uint8_t>(n); },
           "mode byte it reports, 0-255 (default 0)");
    Number(app, "--reset-ms", "MS", 0, kMaxMs,
           [o](long long n) { CurrentUnit(o).resetMs = static_cast<uint32_t>(n); },
           "how long a unit stays quiet after a commit (default 2000)");
}

void DeclareFaults(CLI::App *app, Options *o)
{
    app->option_defaults()->group(kFaults);
    Flag(app, "--bad-crc", [o] { CurrentUnit(o).faults.badCrc = true; }, "answers carry a wrong CRC");
    Number(app, "--delay", "MS", 0, kMaxMs,
           [o](long long n) { CurrentUnit(o).faults.delayMs = static_cast<uint32_t>(n); },
           "answer MS milliseconds after the request");
    Flag(app, "--silent", [o] { CurrentUnit(o).faults.silent = true; }, "never answer");
    Flag(app, "--silent-after-commit", [o] { CurrentUnit(o).faults.silentAfterCommit = true; },
         "answer until the first commit, then never again (the unit does\n"
         "not come back from its reset)");
    CLI::Option *shortResponse = Flag(app, "--short-response",
        [o] { CurrentUnit(o).faults.responseExtraBytes = -1; },
        "the read response lacks its last record byte: 21 bytes, CRC right");
    CLI::Option *longResponse = Flag(app, "--long-response",
        [o] { CurrentUnit(o).faults.responseExtraBytes = 1; },
        "the read response carries a byte too many: 23 bytes, CRC right");
    shortResponse->excludes(longResponse);
    Number(app, "--ack-from", "ADDR", 0, 255,
           [o](long long n) { CurrentUnit(o).faults.ackAddress = static_cast<int>(n); },
           "acknowledge writes with address ADDR, 0-255, not the unit's own");
    Number(app, "--unasked-ack", "MS", 0, kMaxMs,
           [o](long long n) { CurrentUnit(o).faults.unaskedAckMs = n; },
           "MS milliseconds after the first frame it hears (any header, any\n"
           "address), put one write acknowledgement on the line unasked, as\n"
           "another tool's write would leave it; once");
}

void DeclareGeneral(CLI::App *app, Options *o)
{
    app->option_defaults()->group(kGeneral);
    Flag(app, "--verbose", [o] { o->verbose = true; },
         "report each frame received and sent on standard error");
    app->set_help_flag("--help", "show this text");
}

// Fills app with every option, each writing into o when it is parsed.
void Declare(CLI::App *app, Options *o)
{
    app->formatter(std::make_shared<HelpLayout>());
    app->footer(kFooter);
    app->allow_extras();  // reported below in klpsim's words, in command-line order
    DeclareLine(app, o);
    DeclareUnits(app, o);
    DeclareFaults(app, o);
    DeclareGeneral(app, o);
}

}  // namespace

bool ParseOptions(int argc, const char *const *argv, Options *o, std::string *error)
{
    CLI::App app(kDescription, "klpsim");
    Declare(&app, o);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        o->help = true;
        return true;
    } catch (const CLI::ParseError &e) {
        *error = e.what();
        return false;
    }
    if (!app.remaining().empty()) {
        *error = "unknown option or stray argument: " + app.remaining().front();
        return false;
    }
    CurrentUnit(o);  // at least one unit
    return true;
}

std::string HelpText()
{
    Options unused;
    CLI::App app(kDescription, "klpsim");
    Declare(&app, &unused);
    return app.help();
}

}  // namespace klpsim
