// Paces a reader thread whose device keeps failing, and decides when to say it stopped answering.
// Shared by the Win32 and POSIX readers; it holds no platform type, so it is tested natively.
#pragma once
#include <cstdint>

// What one pass of the reader loop (wait for an event, then drain) came to.
struct ReaderPass {
    bool waitFailed = false;  // the event wait failed (or the driver cannot wait at all)
    bool readFailed = false;  // the device reported an error or a hang-up while draining
    bool delivered = false;   // at least one chunk went to OnReceive
};

// What the reader does next.
struct ReaderStep {
    uint32_t pauseMs = 0;      // sleep this long (cut short by Close) before the next wait
    bool reportStall = false;  // call OnPortStalled now
};

// A removed adapter makes every wait and read fail at once; without a pause the reader would
// spin a core until Close. A driver that cannot wait for events at all still has its bytes
// drained after each failed wait, with the same pauses, so nothing is stranded. The stall is
// reported once per outage: only failing reads count (a failed wait alone is a driver's
// limitation, not a dead device), and any clean pass ends the outage.
class ReaderBackoff {
public:
    static constexpr uint32_t kFirstPauseMs = 20;
    static constexpr uint32_t kMaxPauseMs = 250;
    static constexpr int kStallAfter = 3;  // failing reads in a row before the one report

    ReaderStep AfterPass(const ReaderPass &pass)
    {
        ReaderStep step;
        if (!pass.waitFailed && !pass.readFailed) {
            Recover();
            return step;
        }
        if (pass.delivered) {
            // Bytes flowed despite the failure: keep reading at full speed.
            m_idleFailures = 0;
            if (!pass.readFailed)
                Recover();
            return step;
        }
        step.pauseMs = PauseFor(++m_idleFailures);
        if (!pass.readFailed) {
            m_readFailures = 0;
            return step;
        }
        if (++m_readFailures >= kStallAfter && !m_stalled) {
            m_stalled = true;
            step.reportStall = true;
        }
        return step;
    }

    bool stalled() const { return m_stalled; }

private:
    static uint32_t PauseFor(int failures)
    {
        uint32_t pause = kFirstPauseMs;
        for (int i = 1; i < failures && pause < kMaxPauseMs; ++i)
            pause *= 2;
        return pause < kMaxPauseMs ? pause : kMaxPauseMs;
    }

    void Recover()
    {
        m_idleFailures = 0;
        m_readFailures = 0;
        m_stalled = false;
    }

    int m_idleFailures = 0;
    int m_readFailures = 0;
    bool m_stalled = false;
};
