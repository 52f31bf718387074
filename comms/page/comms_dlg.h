// CCommsDlg: state of the Comms page, and the message log every part writes to.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "comms/log_line.h"
#include "comms/page/log_queue.h"
#include "platform/dialog.h"

class CCommsDlg {
public:
    // The gap between two batches of lines while traffic keeps coming: the window repaints the
    // log once per batch, and input and painting come first in between.
    static constexpr unsigned kBatchMs = 30;

    virtual ~CCommsDlg() {}

    // The page (comms_page.cpp), as CConfigDlg's handlers are for its page. Set-up: lists the
    // ports, fills the baud list, shows the "slave to config" address, remembers the page;
    // returns 1. The caller starts the auto-open timer.
    int OnInitPage(WindowHandle page);
    // The auto-open timer fired (the caller has stopped it): picks the first port found and
    // handles it as if the user had picked it.
    void OnAutoOpen(WindowHandle page);
    // A WM_COMMAND: the control id is the low 16 bits of the parameter, the notification the
    // next 16.
    void OnCommand(WindowHandle page, uintptr_t command);

    // Formats, filters and time-stamps one line on the calling thread and queues it for the
    // log control (and CommsLog.txt, while the user wants it).
    void LogMessage(const char *format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // The same for a message formatted elsewhere (the link's lines).
    void LogText(const char *text, size_t length);

    // The receive decoder's counts, for label 1004.
    void ShowCounters(uint32_t polls, uint32_t acks);

    // On the user-interface thread: shows everything queued in one go (lines, counters) and
    // appends the file's lines. True when there was anything to show.
    bool Flush();

    WindowHandle m_hwndPage = nullptr;
    // For tests: runs when a timed flush found nothing, just before the pending flag goes
    // down, the one moment another thread's counters or line can slip past the flush.
    void (*m_afterIdleFlush)(CCommsDlg *) = nullptr;
    std::atomic<uint32_t> m_pollCount{0};
    std::atomic<uint32_t> m_ackCount{0};
    // Check boxes 1094 and 1095 as the user left them, kept by the user-interface thread so
    // that other threads never ask the window.
    std::atomic<bool> m_writeLogFile{false};
    std::atomic<bool> m_showPolls{false};

private:
    void OnPortOrBaud(WindowHandle page);
    void OnSlaveToConfig(WindowHandle page);
    void OnFindSlaves(WindowHandle page);
    void OnLogSwitch(WindowHandle page);

    void Enqueue(logline::Message &m);
    void RequestFlush(size_t queued);
    void ShowLines(const std::string &batch);
    void AppendToFile(const std::string &batch);
    static void FlushNow(void *self);
    static void FlushPosted(void *self);
    static void FlushLater(void *self);

    LogQueue m_queue;
    std::atomic<bool> m_flushPending{false};  // a posted or timed flush is on its way
    std::atomic<bool> m_countersChanged{false};
    std::mutex m_flushLock;  // one flush at a time (without a window every thread flushes)
    std::string m_lines;     // the batch's lines for the control; reused
    std::string m_fileLines; // the batch's lines for the file; reused
    std::string m_shown;     // the control's text; reused
};

extern CCommsDlg theComms;  // the Comms page object (defined by the program)
extern const char kCommsLogFile[];  // "CommsLog.txt", in the current directory
