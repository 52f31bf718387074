// CConfigDlg: state of the Kelpro Config page, its record and the exchange with the unit.
#pragma once
#include <cstdint>

#include "config/config_record.h"
#include "platform/dialog.h"

class CConfigDlg {
public:
    virtual ~CConfigDlg() {}

    // Called by the receive decoder, on the reader thread, for every configuration frame
    // (unescaped, header to final byte; length passed as 8 bits).
    void OnConfigFrame(const uint8_t *frame, uint8_t length);

    uint32_t m_requestTick = 0;
    int m_writePending = 0;
    int m_readPending = 0;
    WindowHandle m_hwndPage = nullptr;
    ConfigRecord m_record = {};
};
