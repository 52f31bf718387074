// File operations of the message log and the configuration file.
// One implementation per platform: files_win32.cpp, files_posix.cpp.
#pragma once
#include <cstddef>

namespace files {

// Appends a then b to the file at path, creating it when missing. Other writers are kept out
// while the two parts go in. false when the file could not be opened (nothing is written).
bool AppendPair(const char *path, const char *a, size_t na, const char *b, size_t nb);

enum ReadResult { READ_OK, READ_OPEN_FAILED, READ_WRONG_SIZE, READ_FAILED };
// Reads a file that must be exactly n bytes long; buf is changed only on READ_OK.
ReadResult ReadExactly(const char *path, unsigned char *buf, size_t n);

enum WriteResult { WRITE_OK, WRITE_CREATE_FAILED, WRITE_FAILED };
// Writes n bytes as the whole new content of path. The new content goes to a file beside it
// and replaces the old one only when written whole, so a failure never destroys the old file.
WriteResult ReplaceContents(const char *path, const unsigned char *data, size_t n);

}  // namespace files
