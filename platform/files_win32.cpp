// File operations on Windows: share-mode appends, exact reads, safe replacement.
#include "platform/files.h"

#include <windows.h>

#include <string>

namespace {

bool WriteAll(HANDLE file, const void *data, size_t n)
{
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(n), &written, nullptr) && written == n;
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
        return READ_OPEN_FAILED;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart != static_cast<LONGLONG>(n)) {
        CloseHandle(file);
        return READ_WRONG_SIZE;
    }
    unsigned char scratch[256];
    DWORD got = 0;
    const bool ok = n <= sizeof scratch &&
                    ReadFile(file, scratch, static_cast<DWORD>(n), &got, nullptr) && got == n;
    CloseHandle(file);
    if (!ok)
        return READ_FAILED;
    CopyMemory(buf, scratch, n);
    return READ_OK;
}

WriteResult ReplaceContents(const char *path, const unsigned char *data, size_t n)
{
    const std::string temp = std::string(path) + ".tmp";
    HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return WRITE_CREATE_FAILED;
    const bool written = WriteAll(file, data, n) && FlushFileBuffers(file);
    CloseHandle(file);
    if (!written) {
        DeleteFileA(temp.c_str());
        return WRITE_FAILED;
    }
    // Replaces the old file only now that the new one is whole; a read-only or locked
    // target refuses, and stays as it was.
    if (!MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temp.c_str());
        return WRITE_CREATE_FAILED;
    }
    return WRITE_OK;
}

}  // namespace files
