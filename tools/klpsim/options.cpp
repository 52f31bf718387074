// klpsim's command line.
#include "tools/klpsim/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "config/config_record.h"

namespace klpsim {

const char kHelpText[] =
    "Usage: klpsim [options]\n"
    "A virtual Kelpro unit on a pseudo-terminal. Prints the terminal's path on the first line\n"
    "of standard output, then serves the line until it is stopped (SIGINT, SIGTERM).\n"
    "\n"
    "Line:\n"
    "  --link PATH          also make PATH a symbolic link to the terminal\n"
    "  --capture FILE       record every byte received to FILE\n"
    "  --replay FILE        put the bytes of FILE on the line once, at start\n"
    "  --replay-rate N      replay at N bytes a second (default: all at once)\n"
    "  --traffic N          produce N ordinary Genisys frames a second (default 0): secure and\n"
    "                       insecure polls, acknowledgements, indications with data, recalls,\n"
    "                       controls and checkbacks\n"
    "  --stations A,B,...   station addresses of that traffic (default 5)\n"
    "  --duration MS        exit MS milliseconds after start\n"
    "\n"
    "Units (each --unit starts a unit and the options after it describe that unit; unit\n"
    "options before the first --unit describe a unit at address 1):\n"
    "  --unit ADDR          emulate a unit at Genisys address ADDR, 0-255 (default: one at 1)\n"
    "  --record FILE        the unit's 14-byte record: loaded at start if the file exists,\n"
    "                       saved there when the unit commits\n"
    "  --record-hex HEX     the unit's record as 28 hexadecimal digits\n"
    "  --firmware MAJ.MIN   firmware version it reports (default 2.5)\n"
    "  --mode N             mode byte it reports, 0-255 (default 0)\n"
    "  --reset-ms MS        how long a unit stays quiet after a commit (default 2000)\n"
    "\n"
    "Misbehaviour:\n"
    "  --bad-crc            answers carry a wrong CRC\n"
    "  --delay MS           answer MS milliseconds after the request\n"
    "  --silent             never answer\n"
    "  --vanish-after MS    close the terminal MS milliseconds after start, as an unplugged\n"
    "                       adapter would, and exit\n"
    "\n"
    "  --verbose            report each frame received and sent on standard error\n"
    "  --help               show this text\n"
    "\n"
    "A unit answers a configuration read request (0xFB with the configuration marker) with\n"
    "the 22-byte read response (0xF2), a configuration write (0xFC with 14 bytes) with an\n"
    "acknowledgement (0xFA) and adopts the record, and on a commit (0xFE to its slave ID)\n"
    "saves the record and stays quiet for the reset time, then answers at that slave ID.\n";

namespace {

bool ParseNumber(const char *text, long long min, long long max, long long *value)
{
    if (text == nullptr || *text == '\0')
        return false;
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 0);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    *value = v;
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool ParseRecordHex(const char *text, ConfigRecord *record)
{
    if (std::strlen(text) != 2 * ConfigRecord::kSize)
        return false;
    for (size_t i = 0; i < ConfigRecord::kSize; ++i) {
        const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        record->bytes()[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

bool ParseFirmware(const char *text, UnitOptions *unit)
{
    const char *dot = std::strchr(text, '.');
    if (dot == nullptr)
        return false;
    long long major, minor;
    if (!ParseNumber(std::string(text, dot).c_str(), 0, 255, &major) ||
        !ParseNumber(dot + 1, 0, 255, &minor))
        return false;
    unit->firmwareMajor = static_cast<uint8_t>(major);
    unit->firmwareMinor = static_cast<uint8_t>(minor);
    return true;
}

bool ParseStations(const char *text, std::vector<uint8_t> *stations)
{
    stations->clear();
    std::string list = text;
    size_t at = 0;
    while (at <= list.size()) {
        const size_t comma = list.find(',', at);
        const std::string item = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        long long v;
        if (!ParseNumber(item.c_str(), 0, 255, &v))
            return false;
        stations->push_back(static_cast<uint8_t>(v));
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return !stations->empty();
}

UnitOptions NewUnit(uint8_t address)
{
    UnitOptions unit;
    unit.address = address;
    unit.record = config::DefaultRecord();
    unit.record.genisysSlaveId = address;  // the unit's record names its own address
    return unit;
}

}  // namespace

bool ParseOptions(int argc, const char *const *argv, Options *o, std::string *error)
{
    auto fail = [&](const std::string &what) {
        *error = what;
        return false;
    };
    auto unit = [&]() -> UnitOptions & {
        if (o->units.empty())
            o->units.push_back(NewUnit(1));
        return o->units.back();
    };
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        const bool hasValue = i + 1 < argc;
        const char *value = hasValue ? argv[i + 1] : nullptr;
        long long n = 0;
        bool used = true;  // the option took the next argument
        if (opt == "--help") {
            o->help = true;
            used = false;
        } else if (opt == "--verbose") {
            o->verbose = true;
            used = false;
        } else if (opt == "--bad-crc") {
            o->faults.badCrc = true;
            used = false;
        } else if (opt == "--silent") {
            o->faults.silent = true;
            used = false;
        } else if (!hasValue) {
            return fail("option " + opt + " is unknown or lacks its value");
        } else if (opt == "--link") {
            o->link = value;
        } else if (opt == "--capture") {
            o->captureFile = value;
        } else if (opt == "--replay") {
            o->replayFile = value;
        } else if (opt == "--replay-rate" && ParseNumber(value, 1, 100000000, &n)) {
            o->replayRate = static_cast<uint32_t>(n);
        } else if (opt == "--traffic" && ParseNumber(value, 0, 100000, &n)) {
            o->trafficRate = static_cast<double>(n);
        } else if (opt == "--stations" && ParseStations(value, &o->stations)) {
        } else if (opt == "--duration" && ParseNumber(value, 0, 1LL << 40, &n)) {
            o->durationMs = n;
        } else if (opt == "--unit" && ParseNumber(value, 0, 255, &n)) {
            o->units.push_back(NewUnit(static_cast<uint8_t>(n)));
        } else if (opt == "--record") {
            unit().recordFile = value;
        } else if (opt == "--record-hex" && ParseRecordHex(value, &unit().record)) {
        } else if (opt == "--firmware" && ParseFirmware(value, &unit())) {
        } else if (opt == "--mode" && ParseNumber(value, 0, 255, &n)) {
            unit().mode = static_cast<uint8_t>(n);
        } else if (opt == "--reset-ms" && ParseNumber(value, 0, 3600000, &n)) {
            o->resetMs = static_cast<uint32_t>(n);
        } else if (opt == "--delay" && ParseNumber(value, 0, 3600000, &n)) {
            o->answerDelayMs = static_cast<uint32_t>(n);
        } else if (opt == "--vanish-after" && ParseNumber(value, 0, 1LL << 40, &n)) {
            o->vanishAfterMs = n;
        } else {
            return fail("bad option or value: " + opt + " " + value);
        }
        if (used)
            ++i;
    }
    unit();  // at least one unit
    return true;
}

}  // namespace klpsim
