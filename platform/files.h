// File operations of the message log and the configuration file.
// One implementation per platform: files_win32.cpp, files_posix.cpp.
#pragma once
#include <cstddef>

namespace files {

// Appends a then b to the file at path, creating it when missing. Other writers are kept out
// while the two parts go in. false when the file could not be opened (nothing is written).
bool AppendPair(const char *path, const char *a, size_t na, const char *b, size_t nb);

enum class ReadResult { kOk, kOpenFailed, kWrongSize, kFailed };
// Reads a file that must be exactly n bytes long; buf is changed only on ReadResult::kOk.
ReadResult ReadExactly(const char *path, unsigned char *buf, size_t n);

enum class WriteResult { kOk, kCreateFailed, kFailed, kOnlyInPlace };
// Writes n bytes as the whole new content of path; files are replaced only when complete.
// The new content goes to a file made exclusively beside the old one (no other file is ever
// touched) and takes the old one's place only once written whole. The file keeps what it
// carried: attributes, permissions and owner; on POSIX a symbolic link stays a link and its
// target is written. A read-only file is refused (WriteResult::kCreateFailed) before anything is
// written. On every failure the old file is as it was. WriteResult::kOnlyInPlace: nothing was
// written, as no file can be made beside this one (a name at the length limit, a folder only
// the file itself may be written in) or, on POSIX, a new file could not keep the owner or
// would replace a device; OverwriteContents may still write it.
WriteResult ReplaceContents(const char *path, const unsigned char *data, size_t n);

// Writes n bytes over the file at path, creating it when missing (CreateFileA's
// CREATE_ALWAYS): a write that fails part-way (WriteResult::kFailed) can leave it cut short.
// For the files ReplaceContents can only write in place.
WriteResult OverwriteContents(const char *path, const unsigned char *data, size_t n);

}  // namespace files
