// What klp's command line has in common with the tools technicians use every day: one syntax
// for numbers everywhere (decimal, as the page takes them), "did you mean" for a mistyped
// command or option, and the exit-code table made from the codes themselves.
#pragma once
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace klp {

// A whole decimal number from low to high: "--slave takes 1 to 255, not '0x07'".
CLI::Validator Decimal(long long low, long long high);
// A number of seconds above 0 (fractions allowed), at most high.
CLI::Validator Seconds(double high);
// Not empty: "--port needs a value".
CLI::Validator NotEmpty();

// The name among choices closest to a mistyped one (a prefix, or at most two letters off);
// empty when none is close.
std::string Closest(const std::string &typed, const std::vector<std::string> &choices);

// The exit codes as `klp --help` lists them.
std::string ExitCodeTable();

}  // namespace klp
