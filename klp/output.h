// klp's output: its exit codes, its one way of reporting a failure (a plain sentence on standard
// error), and JSON objects one to a line on standard output.
#pragma once
#include <nlohmann/json.hpp>

namespace klp {

// What a script sees. Documented in --help, the README and the manual; never renumbered.
enum ExitCode : int {
    kExitOk = 0,
    kExitDiffer = 1,    // diff: the two files differ (as diff and cmp do)
    kExitUsage = 2,     // bad command line, unknown field, value out of range
    kExitPort = 3,      // the port is missing, busy, refused its settings or stopped answering
    kExitFile = 4,      // a file cannot be read, has the wrong size, or cannot be written
    kExitNoAnswer = 5,  // the unit did not answer, or answered late, short, long or garbled
    kExitMismatch = 6,  // write: the commit went out, but the read-back differs or did not come
    kExitConflict = 7,  // two units answered at one address, or a write's new address is taken
    kExitInterrupted = 130,  // Ctrl-C, as shells report a process ended by SIGINT
};

// Prints "klp: " and the message on standard error and returns code.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
int Fail(ExitCode code, const char *format, ...);

// A remark that is not a failure ("stored as ..."), on standard error.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Note(const char *format, ...);

// One object on one line of standard output, keys in the order they were given.
void PrintJson(const nlohmann::ordered_json &object);

// Pushes standard output on to its reader; false when it could not take it (the first
// failure's reason is kept for FinishOutput).
bool FlushOutput();
// The end of every command: output that could not be written is a failure like any other,
// "klp: write error: No space left on device" and kExitFile, as the core utilities do. A
// reader that went away (klp ... | head) is no failure of klp's: code stands.
int FinishOutput(int code);

}  // namespace klp
