// The page host on the in-memory controls.
#include "app/about_dlg.h"
#include "comms/page/comms_dlg.h"
#include "config/page/config_dlg.h"
#include "genisys/genisys_protocol.h"
#include "tests/config/page_host.h"
#include "tests/support/fakes.h"

namespace {

class FakePageHost : public PageHost {
public:
    FakePageHost()
    {
        fake::AddConfigControls(m_page);
        theConfig = CConfigDlg();
        theConfig.OnInitPage(Handle());
        DeliverPosted();
    }
    WindowHandle Handle() override { return m_page.handle(); }
    void DeliverPosted() override
    {
        for (int id : m_page.TakePosted())
            theConfig.OnCommand(Handle(), static_cast<uintptr_t>(id));
    }
    bool IsEnabled(int id) override
    {
        std::lock_guard<std::recursive_mutex> lock(m_page.mutex);
        return m_page.At(id).enabled;
    }

private:
    fake::Page m_page;
};

}  // namespace

std::unique_ptr<PageHost> MakeConfigPage() { return std::make_unique<FakePageHost>(); }

int PropertyRounds() { return 20000; }
