// Ctrl-C on POSIX: SIGINT, SIGTERM and SIGHUP are blocked in every thread and taken by one
// thread of their own, which may then use the stop signal's lock (a handler could not).
#include <pthread.h>
#include <signal.h>

#include <thread>

#include "klp/signals.h"

namespace klp {

StopSignal &ProcessStop()
{
    static StopSignal *stop = new StopSignal;  // never destroyed: the waiting thread outlives main
    return *stop;
}

void CatchInterrupts()
{
    static sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    // Threads started later (the port's reader) inherit the mask.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) == 0)
                ProcessStop().Raise(StopReason::kInterrupted);
        }
    }).detach();
}

}  // namespace klp
