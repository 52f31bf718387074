// The configuration file read and saved, and what the user is told when that fails.
#include "config/record_file.h"

namespace config {

files::ReadResult LoadRecordFile(const char *path, ConfigRecord *record)
{
    // Read into a scratch record: a short or failed read leaves the caller's as it was.
    ConfigRecord loaded;
    const files::ReadResult result = files::ReadExactly(path, loaded.Bytes(), ConfigRecord::kSize);
    if (result == files::ReadResult::kOk)
        *record = loaded;
    return result;
}

files::WriteResult SaveRecordFile(const char *path, const ConfigRecord &record, bool *inPlace)
{
    files::WriteResult result = files::ReplaceContents(path, record.Bytes(), ConfigRecord::kSize);
    const bool fallBack = result == files::WriteResult::kOnlyInPlace;
    if (fallBack)
        result = files::OverwriteContents(path, record.Bytes(), ConfigRecord::kSize);
    if (inPlace)
        *inPlace = fallBack;
    return result;
}

const char *LoadFailureText(files::ReadResult result)
{
    switch (result) {
    case files::ReadResult::kOpenFailed:
        return "Could not open config file";
    case files::ReadResult::kWrongSize:
        return "Config file is wrong size";
    case files::ReadResult::kFailed:
        return "Could not read config file";
    case files::ReadResult::kOk:
        break;
    }
    return nullptr;
}

const char *SaveFailureText(files::WriteResult result)
{
    switch (result) {
    case files::WriteResult::kCreateFailed:
    case files::WriteResult::kOnlyInPlace:
        return "Failed to create/open config file";
    case files::WriteResult::kFailed:
        return "Failed to write config file";
    case files::WriteResult::kOk:
        break;
    }
    return nullptr;
}

}  // namespace config
