// A configuration file: exactly the record's 14 bytes. Read whole or not at all, and saved so
// that a failed save keeps the old file wherever a new one can be made beside it. The
// property sheet's Open and Save and klp's files go through here, with the same messages.
#pragma once
#include "config/config_record.h"
#include "platform/files.h"

namespace config {

// The record is changed only on ReadResult::kOk.
files::ReadResult LoadRecordFile(const char *path, ConfigRecord *record);

// The new file replaces the old one only once written whole. Where nothing can be made
// beside the file (a name at the length limit, a folder where only the file may be written,
// a device) the file itself is written, as a save always could; *inPlace then says so, as a
// failure there may have left the old file part-written.
files::WriteResult SaveRecordFile(const char *path, const ConfigRecord &record,
                                  bool *inPlace = nullptr);

// What the user is told when a file cannot be read or saved; null for success.
const char *LoadFailureText(files::ReadResult result);
const char *SaveFailureText(files::WriteResult result);

}  // namespace config
