// CCommsDlg: state of the Comms page, and the message log every part writes to.
#pragma once
#include <cstdint>

#include "platform/dialog.h"

class CCommsDlg {
public:
    virtual ~CCommsDlg() {}

    // Formats, filters, time-stamps and appends one line to the log (and CommsLog.txt).
    void LogMessage(const char *format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    WindowHandle m_hwndPage = nullptr;
    uint32_t m_pollCount = 0;
    uint32_t m_ackCount = 0;
};

extern const char kCommsLogFile[];  // "CommsLog.txt", in the current directory
