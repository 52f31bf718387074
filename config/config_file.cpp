// "Open" and "Save": the configuration file, exactly the record's 14 bytes.
#include "config/config_dlg.h"
#include "config/record_file.h"
#include "platform/system.h"

void CConfigDlg::OnOpen(WindowHandle page)
{
    char path[kPathSize];
    if (!BrowseConfigFile(page, path, BROWSE_OPEN))
        return;
    // A short or failed read leaves the page's record as it was. Boxes have no owner, as they
    // always had.
    if (const char *text = config::LoadFailureText(config::LoadRecordFile(path, &m_record))) {
        sys::ShowMessage(nullptr, text, sys::ICON_ERROR);
        return;
    }
    // Loaded bytes are shown as they are; they are clamped only when next taken from the page.
    RecordToControls(page);
}

void CConfigDlg::OnSave(WindowHandle page)
{
    char path[kPathSize];
    if (!BrowseConfigFile(page, path, BROWSE_SAVE))
        return;
    ControlsToRecord(page);
    // The old file is replaced only by a whole new one wherever one can be made beside it.
    if (const char *text = config::SaveFailureText(config::SaveRecordFile(path, m_record)))
        sys::ShowMessage(page, text, sys::ICON_ERROR);
}
