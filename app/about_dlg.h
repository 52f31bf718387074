// CAboutDlg: state of the About page.
#pragma once
#include "platform/dialog.h"

class CAboutDlg {
public:
    virtual ~CAboutDlg() {}
    WindowHandle m_hwndPage = nullptr;
};

extern CAboutDlg theAbout;
