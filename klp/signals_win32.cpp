// Ctrl-C on Windows: the console calls its handlers on a thread of its own, which raises the
// stop signal; the run then ends as it would at its time limit.
#include <windows.h>

#include "klp/signals.h"

namespace klp {

namespace {

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        ProcessStop().Raise(StopReason::kInterrupted);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

StopSignal &ProcessStop()
{
    static StopSignal *stop =
        new StopSignal;  // never destroyed: the console's thread may call late
    return *stop;
}

void CatchInterrupts(bool) { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

unsigned LogReopens() { return 0; }

}  // namespace klp
