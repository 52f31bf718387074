// Ctrl-C on POSIX: SIGINT, SIGTERM and SIGHUP are blocked in every thread and taken by one
// thread of their own, which may then use the stop signal's lock (a handler could not). A
// service's SIGHUP asks for its log to be reopened, as daemons do for logrotate.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "klp/signals.h"

namespace klp {

StopSignal &ProcessStop()
{
    static StopSignal *stop = new StopSignal;  // never destroyed: the waiting thread outlives main
    return *stop;
}

namespace {
std::atomic<unsigned> g_logReopens{0};
}  // namespace

unsigned LogReopens() { return g_logReopens.load(); }

void CatchInterrupts(bool hangUpReopens)
{
    static sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    // Threads started later (the port's reader) inherit the mask.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([hangUpReopens] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0)
                continue;
            if (signal == SIGHUP && hangUpReopens)
                ++g_logReopens;
            else
                ProcessStop().Raise(StopReason::kInterrupted);
        }
    }).detach();
}

}  // namespace klp
