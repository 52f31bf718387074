// klp's commands and what each is given from the command line (klp_main.cpp sets them up).
#pragma once
#include <string>
#include <vector>

#include "genisys/crc16.h"
#include "klp/unit_link.h"

namespace klp {

struct MonitorOptions {
    PortOptions port;
    bool polls = false;
    bool json = false;
    bool summary = false;
    std::string log;       // append lines here in CommsLog.txt's format
    std::string metrics;   // [ADDR:]PORT: serve Prometheus metrics there
    std::string pcap;      // record what the port hears here as a pcapng capture
    double duration = -1;  // seconds; negative: until Ctrl-C
    bool reopen = false;   // a port that stops answering is waited for and watched again
    std::string time = "page";  // page, ms or iso: how lines are stamped on standard output
    genisys::CrcChoice crc = genisys::CrcChoice::kArc;
};
int RunMonitor(const MonitorOptions &o);

struct DecodeOptions {
    std::string file;  // empty or "-": standard input
    bool polls = false;
    bool json = false;
    bool summary = false;
    genisys::CrcChoice crc = genisys::CrcChoice::kArc;
    int tcpPort = 0;  // a network capture: only conversations on this port; 0 all
};
int RunDecode(const DecodeOptions &o);

struct ScanOptions {
    PortOptions port;
    int from = 1, to = 255;
    int waitMs = 300;
    int retries = 0;     // sequential: asks a silent address this many times more
    bool burst = false;  // every request back to back, then the answers
    bool json = false;
};
int RunScan(const ScanOptions &o);

struct ReadOptions {
    PortOptions port;
    int slave = 1;
    int waitMs = 1000;
    std::string output;  // save the record here as a .klp file
    bool first = false;  // two units answered: take the first answer all the same
    bool json = false;
};
int RunRead(const ReadOptions &o);

struct WriteOptions {
    PortOptions port;
    int slave = 1;
    std::string file;
    int waitMs = 1000;
    int resetMs = 3000;  // how long the unit takes to save and reset before it answers again
    bool verify = true;
    bool force = false;  // write a record the page would never produce, or onto a taken address
    bool json = false;
};
int RunWrite(const WriteOptions &o);

struct FileOptions {
    std::string file;                      // show, set
    std::vector<std::string> files;        // diff: the two files
    std::vector<std::string> assignments;  // set: FIELD=VALUE
    bool defaults = false;                 // set: start from the page's defaults
    bool json = false;
};
int RunShow(const FileOptions &o);
int RunDiff(const FileOptions &o);
int RunSet(const FileOptions &o);

// A .klp file in and out, as the program's Open and Save do it (exactly 14 bytes; a new file
// replaces the old one only once written whole, or is written in place where none can be made
// beside it). kExitOk, or kExitFile once the program's own message and the file's name were
// said.
int LoadRecordFile(const std::string &path, ConfigRecord *record);
int SaveRecordFile(const std::string &path, const ConfigRecord &record);

}  // namespace klp
