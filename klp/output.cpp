// klp's failures and remarks on standard error, and its JSON lines on standard output.
#include "klp/output.h"

#include <cstdarg>
#include <cstdio>

namespace klp {

namespace {

void Say(const char *format, va_list args)
{
    std::fflush(stdout);  // what went before stays before the sentence on a shared terminal
    std::fputs("klp: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

}  // namespace

int Fail(ExitCode code, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Say(format, args);
    va_end(args);
    return code;
}

void Note(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Say(format, args);
    va_end(args);
}

void PrintJson(const nlohmann::ordered_json &object)
{
    const std::string text = object.dump();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

}  // namespace klp
