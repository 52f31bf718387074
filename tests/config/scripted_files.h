// Scripted results of the file seam (scripted_files.cpp replaces files_posix.cpp in its test).
#pragma once
#include <string>
#include <vector>

#include "platform/files.h"

namespace scripted {

extern files::ReadResult readResult;
extern files::WriteResult writeResult;      // what ReplaceContents answers
extern files::WriteResult overwriteResult;  // what OverwriteContents answers
extern std::vector<unsigned char> fileBytes;
extern std::vector<std::string> paths;
extern std::vector<std::string> writes;

}  // namespace scripted
