// "Open" and "Save": the configuration file, exactly the record's 14 bytes, chosen in the
// platform's file dialogs.
#include "config/page/config_dlg.h"
#include "config/record_file.h"
#include "platform/system.h"

// An unknown mode shows no dialog: the platform's dialogs refuse it.
char *CConfigDlg::BrowseConfigFile(WindowHandle owner, char *path, int mode)
{
    return sys::ChooseConfigFile(owner, mode, path) ? path : nullptr;
}

void CConfigDlg::OnOpen(WindowHandle page)
{
    char path[kPathSize];
    if (!BrowseConfigFile(page, path, kBrowseOpen))
        return;
    // A short or failed read leaves the page's record as it was. Boxes have no owner, as they
    // always had.
    if (const char *text = config::LoadFailureText(config::LoadRecordFile(path, &m_record))) {
        sys::ShowMessage(nullptr, text, sys::MessageIcon::kError);
        return;
    }
    // Loaded bytes are shown as they are; they are clamped only when next taken from the page.
    RecordToControls(page);
}

void CConfigDlg::OnSave(WindowHandle page)
{
    char path[kPathSize];
    if (!BrowseConfigFile(page, path, kBrowseSave))
        return;
    ControlsToRecord(page);
    // The old file is replaced only by a whole new one wherever one can be made beside it.
    if (const char *text = config::SaveFailureText(config::SaveRecordFile(path, m_record)))
        sys::ShowMessage(page, text, sys::MessageIcon::kError);
}
