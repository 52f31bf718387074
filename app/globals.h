// The objects that live for the whole process; every part reaches them directly.
#pragma once
#include "comms/comms_dlg.h"
#include "config/config_dlg.h"
#include "genisys/genisys_protocol.h"
#include "platform/dialog.h"

class CAboutDlg {
public:
    virtual ~CAboutDlg() {}
    WindowHandle m_hwndPage = nullptr;
};

extern CGenisysProtocol theLink;
extern CCommsDlg theComms;
extern CConfigDlg theConfig;
extern CAboutDlg theAbout;
extern WindowHandle g_hwndSheet;  // owner of the help and most error message boxes
