// klp's failures and remarks on standard error, and its JSON lines on standard output.
#include "klp/output.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace klp {

namespace {

int g_outputError = 0;  // errno of standard output's first failed write, 0 while none

void Say(const char *format, va_list args)
{
    FlushOutput();  // what went before stays before the sentence on a shared terminal
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

bool FlushOutput()
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int err = errno;
    if (flushed && !std::ferror(stdout))
        return true;
    if (g_outputError == 0)
        g_outputError = err != 0 ? err : EIO;  // an earlier buffered write failed
    return false;
}

int FinishOutput(int code)
{
    if (FlushOutput() || g_outputError == EPIPE)
        return code;
    Fail(kExitFile, "write error: %s", std::strerror(g_outputError));
    return code == kExitOk || code == kExitDiffer ? kExitFile : code;
}

}  // namespace klp
