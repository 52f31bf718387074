// File operations on Windows: share-mode appends, exact reads, safe replacement.
#include "platform/files.h"

#include <windows.h>

#include <string>

namespace {

// Attributes a replaced file keeps that SetFileAttributesA can give (read-only ones are refused).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// GetTempFileNameA adds a backslash and an 8.3 name to its folder, all within MAX_PATH.
constexpr size_t kTempFolderMax = MAX_PATH - 14;

bool WriteAll(HANDLE file, const void *data, size_t n)
{
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(n), &written, nullptr) && written == n;
}

// The folder part of a path with its separator; "." for a bare name in the current folder.
std::string FolderOf(const char *path)
{
    const std::string p = path;
    const size_t cut = p.find_last_of("\\/");
    return cut == std::string::npos ? std::string(".") : p.substr(0, cut + 1);
}

// Makes an empty file beside path under a name no other file has (GetTempFileNameA creates
// it exclusively); ERROR_SUCCESS, or the error when the folder takes no new file.
DWORD MakeTempBeside(const char *path, char (&temp)[MAX_PATH])
{
    const std::string folder = FolderOf(path);
    if (folder.size() > kTempFolderMax)
        return ERROR_FILENAME_EXCED_RANGE;
    return GetTempFileNameA(folder.c_str(), "klp", 0, temp) != 0 ? ERROR_SUCCESS : GetLastError();
}

// A folder whose path is too long, or that only the file itself may be written in, may still
// let the file be written; any other failure (no such folder, a full disk) ends the save with
// the old file untouched.
files::WriteResult NoTempResult(DWORD error)
{
    const bool onlyInPlace = error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_ACCESS_DENIED;
    return onlyInPlace ? files::WriteResult::kOnlyInPlace : files::WriteResult::kCreateFailed;
}

bool WriteTemp(const char *temp, const unsigned char *data, size_t n)
{
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool written = WriteAll(file, data, n) && FlushFileBuffers(file);
    return CloseHandle(file) && written;
}

// ReplaceFileA gives the new file the old one's attributes, permissions and owner. Wine's
// only moves the new file in, so the attributes it can carry are set on it first as well.
files::WriteResult ReplaceExisting(const char *path, const char *temp, DWORD attributes)
{
    SetFileAttributesA(temp, attributes & kKeptAttributes);
    // A merge that fails (a share without permissions) still replaces the content.
    if (ReplaceFileA(path, temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return files::WriteResult::kOk;
    const DWORD error = GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
        // The old file is gone and the new one is all there is: moved in, or left in its place.
        return MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                   ? files::WriteResult::kOk
                   : files::WriteResult::kCreateFailed;
    }
    DeleteFileA(temp);
    return files::WriteResult::kCreateFailed;
}

files::WriteResult MoveIntoPlace(const char *path, const char *temp)
{
    if (MoveFileExA(temp, path, MOVEFILE_WRITE_THROUGH))
        return files::WriteResult::kOk;
    DeleteFileA(temp);
    return files::WriteResult::kCreateFailed;
}

}  // namespace

namespace files {

bool AppendPair(const char *path, const char *a, size_t na, const char *b, size_t nb)
{
    // Others may read while a line goes in, nobody else may write.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    SetFilePointer(file, 0, nullptr, FILE_END);
    WriteAll(file, a, na);
    WriteAll(file, b, nb);
    CloseHandle(file);
    return true;
}

ReadResult ReadExactly(const char *path, unsigned char *buf, size_t n)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ReadResult::kOpenFailed;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart != static_cast<LONGLONG>(n)) {
        CloseHandle(file);
        return ReadResult::kWrongSize;
    }
    unsigned char scratch[256];
    DWORD got = 0;
    const bool ok = n <= sizeof scratch &&
                    ReadFile(file, scratch, static_cast<DWORD>(n), &got, nullptr) && got == n;
    CloseHandle(file);
    if (!ok)
        return ReadResult::kFailed;
    CopyMemory(buf, scratch, n);
    return ReadResult::kOk;
}

WriteResult ReplaceContents(const char *path, const unsigned char *data, size_t n)
{
    const DWORD attributes = GetFileAttributesA(path);
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return WriteResult::kCreateFailed;
    char temp[MAX_PATH];
    const DWORD error = MakeTempBeside(path, temp);
    if (error != ERROR_SUCCESS)
        return NoTempResult(error);
    if (!WriteTemp(temp, data, n)) {
        DeleteFileA(temp);
        return WriteResult::kFailed;
    }
    return exists ? ReplaceExisting(path, temp, attributes) : MoveIntoPlace(path, temp);
}

WriteResult OverwriteContents(const char *path, const unsigned char *data, size_t n)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return WriteResult::kCreateFailed;
    const bool written = WriteAll(file, data, n) && FlushFileBuffers(file);
    const bool closed = CloseHandle(file) != FALSE;
    return written && closed ? WriteResult::kOk : WriteResult::kFailed;
}

}  // namespace files
