// CConfigDlg: state of the Kelpro Config page, its record and the exchange with the unit.
#pragma once
#include <cstdint>

#include "config/config_record.h"
#include "config/exchange.h"
#include "platform/dialog.h"
#include "platform/file_dialog.h"

class CConfigDlg {
public:
    static constexpr int kPathSize = sys::kPathSize;  // file paths, with the terminating zero

    // The file dialogs, by the numbers the platform's take.
    enum BrowseMode { kBrowseOpen = sys::kOpenDialog, kBrowseSave = sys::kSaveDialog };

    virtual ~CConfigDlg() {}

    // Page set-up: fills the lists, posts "Default", remembers the page; returns 1.
    int OnInitPage(WindowHandle page);
    // A WM_COMMAND: the control id is the low 16 bits of the parameter.
    void OnCommand(WindowHandle page, uintptr_t command);

    // The record shown on the controls, and the controls taken (clamped) into the record.
    void RecordToControls(WindowHandle page);
    void ControlsToRecord(WindowHandle page);
    // Selects the direct baud list item for a rate code; keeps the selection when none matches.
    void ShowDirectBaud(WindowHandle page, uint8_t code);
    // The rate code of the selected direct baud item (12 for none or an unknown rate).
    uint8_t ReadDirectBaud(WindowHandle page);

    // Runs the open or save file dialog; the chosen path goes into path (kPathSize characters)
    // and is returned, or null when cancelled, failed or the mode is unknown.
    // The dialogs are the platform's (platform/file_dialog.h), or scripted answers in tests.
    char *BrowseConfigFile(WindowHandle owner, char *path, int mode);

    // Sends the write request with the record and opens the response window.
    void SendConfigWrite();

    // Called through the link's events, on the reader thread, for every configuration frame
    // (unescaped, header to final byte; length passed as 8 bits) with the tick it arrived at.
    // The frame is handled on the user-interface thread while the reader waits, so the page
    // state has one owner.
    void OnConfigFrame(const uint8_t *frame, uint8_t length, uint32_t arrivalTick);

    // The latest read and write request, each with its own address and window: which frame
    // answers which request is the core's rule, shared with klp.
    config::Exchange m_exchange;
    WindowHandle m_hwndPage = nullptr;
    ConfigRecord m_record = {};

private:
    void OnDefault(WindowHandle page);
    void OnToggleId2(WindowHandle page);
    void OnOpen(WindowHandle page);
    void OnSave(WindowHandle page);
    void OnRead(WindowHandle page);
    void OnWrite(WindowHandle page);

    void HandleConfigFrame(const uint8_t *frame, uint8_t length, uint32_t arrivalTick);
    void OnReadResponse(const uint8_t *frame, const config::Judgement &j);
    void OnWriteAck(const config::Judgement &j);
    static void HandOffConfigFrame(void *arrival);
};

extern CConfigDlg theConfig;  // the configuration page object (defined by the program)
