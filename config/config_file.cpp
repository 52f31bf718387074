// "Open" and "Save": the configuration file, exactly the record's 14 bytes.
#include "config/config_dlg.h"
#include "platform/files.h"
#include "platform/system.h"

namespace {

// What the user is told when the file cannot be read; boxes have no owner, as they always had.
const char *OpenFailureText(files::ReadResult result)
{
    switch (result) {
    case files::READ_OPEN_FAILED:
        return "Could not open config file";
    case files::READ_WRONG_SIZE:
        return "Config file is wrong size";
    case files::READ_FAILED:
        return "Could not read config file";
    case files::READ_OK:
        break;
    }
    return nullptr;
}

const char *SaveFailureText(files::WriteResult result)
{
    switch (result) {
    case files::WRITE_CREATE_FAILED:
    case files::WRITE_ONLY_IN_PLACE:
        return "Failed to create/open config file";
    case files::WRITE_FAILED:
        return "Failed to write config file";
    case files::WRITE_OK:
        break;
    }
    return nullptr;
}

}  // namespace

void CConfigDlg::OnOpen(WindowHandle page)
{
    char path[kPathSize];
    if (!BrowseConfigFile(page, path, BROWSE_OPEN))
        return;
    // Read into a scratch record: a short or failed read leaves the page's record as it was.
    ConfigRecord loaded;
    const files::ReadResult result = files::ReadExactly(path, loaded.bytes(), ConfigRecord::kSize);
    if (const char *text = OpenFailureText(result)) {
        sys::ShowMessage(nullptr, text, sys::ICON_ERROR);
        return;
    }
    // Loaded bytes are shown as they are; they are clamped only when next taken from the page.
    m_record = loaded;
    RecordToControls(page);
}

void CConfigDlg::OnSave(WindowHandle page)
{
    char path[kPathSize];
    if (!BrowseConfigFile(page, path, BROWSE_SAVE))
        return;
    ControlsToRecord(page);
    // The new file replaces the old one only once written whole, so a failure keeps the old.
    files::WriteResult result = files::ReplaceContents(path, m_record.bytes(), ConfigRecord::kSize);
    // Where nothing can be put beside the file (a path at the length limit, a folder where
    // only the file may be written), the file itself is written, as a save always could.
    if (result == files::WRITE_ONLY_IN_PLACE)
        result = files::OverwriteContents(path, m_record.bytes(), ConfigRecord::kSize);
    if (const char *text = SaveFailureText(result))
        sys::ShowMessage(page, text, sys::ICON_ERROR);
}
