// klpsim's command line: the units it emulates, the traffic it makes and how it misbehaves.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "config/config_record.h"
#include "tools/klpsim/unit.h"

namespace klpsim {

struct UnitOptions {
    uint8_t address = 1;
    ConfigRecord record{};
    std::string recordFile;  // loaded at start when present, saved on commit
    uint8_t firmwareMajor = 2;
    uint8_t firmwareMinor = 5;
    uint8_t mode = 0;
    uint32_t resetMs = 2000;  // how long the unit stays quiet after a commit
    Faults faults;            // how this unit misbehaves
};

struct Options {
    std::string link;                    // symbolic link to make to the terminal
    std::vector<UnitOptions> units;      // at least one after parsing
    double trafficRate = 0;              // ordinary Genisys frames a second; 0 for none
    std::vector<uint8_t> stations = {5}; // station addresses of that traffic
    std::string replayFile;              // bytes to put on the line once, at start
    uint32_t replayRate = 0;             // bytes a second for the replay; 0 for all at once
    std::string captureFile;             // every byte received is appended here
    uint32_t lineBaud = 0;               // pace both directions as a real 8-N-1 line; 0: instant
    int64_t vanishAfterMs = -1;          // close the terminal this long after start
    int64_t durationMs = -1;             // exit this long after start
    bool verbose = false;
    bool help = false;
};

// Parses argv in order: unit options and misbehaviours apply to the latest --unit (or to a
// unit at address 1 before the first). On bad usage returns false with a message in error.
bool ParseOptions(int argc, const char *const *argv, Options *options, std::string *error);

// The --help text, made from the same declarations the parser uses.
std::string HelpText();

}  // namespace klpsim
