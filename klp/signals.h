// Ending a run cleanly: Ctrl-C (and a request to terminate) and the run's own reasons to stop
// (a time limit, a port that stopped answering, closed output) meet in one wait.
// Catching the interrupts is platform work: signals_posix.cpp, signals_win32.cpp.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace klp {

enum class StopReason {
    kNone,
    kInterrupted,   // Ctrl-C, or a request to terminate
    kPortStalled,   // the port stopped answering (an unplugged adapter)
    kOutputClosed,  // whoever read standard output went away
    kLogFailed,     // the log file could not be written
};

class StopSignal {
public:
    // The first reason given wins; later ones are ignored.
    void Raise(StopReason reason)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_reason == StopReason::kNone)
            m_reason = reason;
        m_raised = true;
        m_interrupted = m_interrupted || reason == StopReason::kInterrupted;
        m_changed.notify_all();
        if (m_onRaise)
            m_onRaise();
    }

    // Takes a reason back, unless another came first: a port that stalled came back.
    void Clear(StopReason reason)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_reason != reason)
            return;
        m_reason = StopReason::kNone;
        m_raised = false;
    }

    // True once a reason was raised; safe under any other lock.
    bool Raised() const { return m_raised.load(); }

    // Called under this signal's lock whenever a reason is raised, so that a wait of its own
    // can end too; null for none. Whoever sets it clears it before it goes.
    void OnRaise(std::function<void()> wake)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_onRaise = std::move(wake);
    }

    // Waits for Ctrl-C, even one that comes after the run stopped for another reason.
    void WaitForInterrupt()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_interrupted; });
    }

    // Waits until a reason is raised or the time is up (kNone then). A negative time waits
    // until a reason comes.
    StopReason WaitFor(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto raised = [this] { return m_reason != StopReason::kNone; };
        if (limit.count() < 0)
            m_changed.wait(lock, raised);
        else
            m_changed.wait_for(lock, limit, raised);
        return m_reason;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    StopReason m_reason = StopReason::kNone;
    std::atomic<bool> m_raised{false};
    std::function<void()> m_onRaise;
    bool m_interrupted = false;
};

// The process's one stop signal: interrupts can come at any moment, so it lives as long as
// the process.
StopSignal &ProcessStop();

// From now on Ctrl-C, a termination request or a closed console raise kInterrupted on
// ProcessStop() instead of ending the process. Call before any other thread starts. With
// hangUpReopens, a hang-up (SIGHUP, as logrotate sends a service) asks for the log to be
// reopened instead (LogReopens counts the requests); Windows has no such signal.
void CatchInterrupts(bool hangUpReopens = false);
unsigned LogReopens();

}  // namespace klp
