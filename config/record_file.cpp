// The configuration file read and saved, and what the user is told when that fails.
#include "config/record_file.h"

namespace config {

files::ReadResult LoadRecordFile(const char *path, ConfigRecord *record)
{
    // Read into a scratch record: a short or failed read leaves the caller's as it was.
    ConfigRecord loaded;
    const files::ReadResult result = files::ReadExactly(path, loaded.bytes(), ConfigRecord::kSize);
    if (result == files::READ_OK)
        *record = loaded;
    return result;
}

files::WriteResult SaveRecordFile(const char *path, const ConfigRecord &record, bool *inPlace)
{
    files::WriteResult result = files::ReplaceContents(path, record.bytes(), ConfigRecord::kSize);
    const bool fallBack = result == files::WRITE_ONLY_IN_PLACE;
    if (fallBack)
        result = files::OverwriteContents(path, record.bytes(), ConfigRecord::kSize);
    if (inPlace)
        *inPlace = fallBack;
    return result;
}

const char *LoadFailureText(files::ReadResult result)
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

}  // namespace config
