// Numbers, suggestions and the exit-code table of klp's command line.
#include "klp/usage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "klp/output.h"

namespace klp {

namespace {

bool AllDigits(const std::string &s)
{
    return !s.empty() && s.size() <= 12 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Letters to change, add or drop to make one name the other.
size_t Distance(const std::string &a, const std::string &b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

struct ExitCodeText {
    int code;
    const char *text;
};
const ExitCodeText kExitCodeTexts[] = {
#define KLP_EXIT_CODE_TEXT(name, value, text) {value, text},
    KLP_EXIT_CODES(KLP_EXIT_CODE_TEXT)
#undef KLP_EXIT_CODE_TEXT
};

// A text in lines of at most width characters after the first's indent, the rest indented
// under it.
std::string Wrapped(const std::string &text, size_t indent, size_t width)
{
    std::string out, line;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(start, end - start);
        if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
            out += line + "\n" + std::string(indent, ' ');
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    return out + line;
}

}  // namespace

CLI::Validator Decimal(long long low, long long high)
{
    const std::string range = std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [low, high, range](std::string &text) -> std::string {
            if (AllDigits(text)) {
                const long long n = std::strtoll(text.c_str(), nullptr, 10);
                if (n >= low && n <= high)
                    return "";
            }
            return "takes " + range + ", not '" + text + "'";
        },
        range);
}

CLI::Validator Seconds(double high)
{
    return CLI::Validator(
        [high](std::string &text) -> std::string {
            char *end = nullptr;
            const double s = std::strtod(text.c_str(), &end);
            const bool number = !text.empty() && end && *end == '\0' && std::isfinite(s);
            if (number && text.find_first_of("xXpP") == std::string::npos && s > 0 && s <= high)
                return "";
            char most[32];
            std::snprintf(most, sizeof most, "%.0f", high);
            return std::string("takes a number of seconds above 0 and up to ") + most + ", not '" +
                   text + "'";
        },
        "S");
}

CLI::Validator NotEmpty()
{
    return CLI::Validator(
        [](std::string &text) -> std::string { return text.empty() ? "needs a value" : ""; }, "");
}

std::string Closest(const std::string &typed, const std::vector<std::string> &choices)
{
    std::string best;
    size_t bestDistance = 3;  // at most two letters off
    for (const std::string &c : choices) {
        if (typed.size() >= 2 && c.compare(0, typed.size(), typed) == 0)
            return c;
        const size_t d = Distance(typed, c);
        if (d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    return best;
}

std::string ExitCodeTable()
{
    std::string out = "Exit codes:\n";
    char line[160];
    for (const ExitCodeText &e : kExitCodeTexts) {
        std::snprintf(line, sizeof line, "%3d  ", e.code);
        out += line + Wrapped(e.text, 5, 80) + "\n";
    }
    return out;
}

}  // namespace klp
