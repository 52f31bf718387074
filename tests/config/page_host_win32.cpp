// The page host on template 129 with real controls, created through the page's own procedure.
#include <windows.h>

#include "app/about_dlg.h"
#include "comms/page/comms_dlg.h"
#include "config/page/config_dlg.h"
#include "genisys/genisys_protocol.h"
#include "app/pages_win32.h"
#include "res/resource.h"
#include "tests/config/page_host.h"

namespace {

class Win32PageHost : public PageHost {
public:
    Win32PageHost()
    {
        theConfig = CConfigDlg();
        const HINSTANCE instance = GetModuleHandleA(nullptr);
        m_parent = CreateWindowExA(0, "STATIC", "config page host", WS_OVERLAPPEDWINDOW, 0, 0, 800,
                                   600, nullptr, nullptr, instance, nullptr);
        m_page = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_CONFIG), m_parent, ConfigPageProc, 0);
        EnableWindow(m_page, TRUE);  // as the sheet does when it shows the page
        DeliverPosted();
    }
    ~Win32PageHost() override
    {
        if (m_page)
            DestroyWindow(m_page);
        if (m_parent)
            DestroyWindow(m_parent);
        theConfig = CConfigDlg();
    }
    WindowHandle Handle() override { return reinterpret_cast<WindowHandle>(m_page); }
    void DeliverPosted() override
    {
        MSG msg;
        for (int bound = 0; bound < 10000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++bound) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    bool IsEnabled(int id) override { return IsWindowEnabled(GetDlgItem(m_page, id)) != FALSE; }

private:
    HWND m_parent = nullptr;
    HWND m_page = nullptr;
};

}  // namespace

std::unique_ptr<PageHost> MakeConfigPage() { return std::make_unique<Win32PageHost>(); }

int PropertyRounds() { return 250; }  // each round is a few hundred real-control calls under Wine
