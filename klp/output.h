// klp's output: its exit codes, its one way of reporting a failure (a plain sentence on standard
// error), and JSON objects one to a line on standard output.
#pragma once
#include <nlohmann/json.hpp>

namespace klp {

// What a script sees: each code, its name and what it means, once. --help prints this table;
// the README and the manual say the same (a test holds the README to it). Never renumbered.
#define KLP_EXIT_CODES(X)                                                                         \
    X(kExitOk, 0, "done")                                                                         \
    X(kExitDiffer, 1, "diff: the files differ")                                                   \
    X(kExitUsage, 2,                                                                              \
      "bad usage: unknown command or option, a field or value the page would not take")           \
    X(kExitPort, 3,                                                                               \
      "port trouble: missing, busy, not yours to open, refused its settings, or stopped "         \
      "responding")                                                                               \
    X(kExitFile, 4,                                                                               \
      "file trouble: cannot be read, wrong size, cannot be written (standard output and --log "   \
      "too)")                                                                                     \
    X(kExitNoAnswer, 5,                                                                           \
      "no answer from the unit, or a late, short, long or garbled one; write: nothing was "       \
      "committed")                                                                                \
    X(kExitMismatch, 6,                                                                           \
      "write: the commit went out, but the record read back differs or did not come")            \
    X(kExitConflict, 7,                                                                           \
      "two units answered at one address, or the address a write moves to is taken")             \
    X(kExitInterrupted, 130, "interrupted (Ctrl-C); write says whether the commit went out")

enum ExitCode : int {
#define KLP_EXIT_CODE_VALUE(name, value, text) name = value,
    KLP_EXIT_CODES(KLP_EXIT_CODE_VALUE)
#undef KLP_EXIT_CODE_VALUE
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
