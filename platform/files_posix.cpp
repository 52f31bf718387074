// File operations on POSIX: appends with an exclusive lock, exact reads, safe replacement.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

bool WriteAll(int fd, const void *data, size_t n)
{
    const char *p = static_cast<const char *>(data);
    while (n > 0) {
        const ssize_t done = ::write(fd, p, n);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        p += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

bool ReadAll(int fd, unsigned char *buf, size_t n)
{
    while (n > 0) {
        const ssize_t done = ::read(fd, buf, n);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        buf += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

}  // namespace

namespace files {

bool AppendPair(const char *path, const char *a, size_t na, const char *b, size_t nb)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // Another program writing the file at this moment keeps it; the line is skipped then.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    WriteAll(fd, a, na);
    WriteAll(fd, b, nb);
    ::close(fd);  // also releases the lock
    return true;
}

ReadResult ReadExactly(const char *path, unsigned char *buf, size_t n)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return READ_OPEN_FAILED;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return READ_OPEN_FAILED;
    }
    if (static_cast<size_t>(st.st_size) != n) {
        ::close(fd);
        return READ_WRONG_SIZE;
    }
    unsigned char scratch[256];
    const bool ok = n <= sizeof scratch && ReadAll(fd, scratch, n);
    ::close(fd);
    if (!ok)
        return READ_FAILED;
    for (size_t i = 0; i < n; ++i)
        buf[i] = scratch[i];
    return READ_OK;
}

WriteResult ReplaceContents(const char *path, const unsigned char *data, size_t n)
{
    // A read-only file is not replaced, as it would not be overwritten on Windows either.
    if (::access(path, F_OK) == 0 && ::access(path, W_OK) != 0)
        return WRITE_CREATE_FAILED;
    const std::string temp = std::string(path) + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return WRITE_CREATE_FAILED;
    const bool written = WriteAll(fd, data, n) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(temp.c_str());
        return WRITE_FAILED;
    }
    if (::rename(temp.c_str(), path) != 0) {
        ::unlink(temp.c_str());
        return WRITE_CREATE_FAILED;
    }
    return WRITE_OK;
}

}  // namespace files
