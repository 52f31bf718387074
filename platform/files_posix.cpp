// File operations on POSIX: appends with an exclusive lock, exact reads, safe replacement.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr int kMaxLinkHops = 40;    // as many links as the kernel follows in one path
constexpr int kTempAttempts = 100;  // names tried before a folder counts as taking no file

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

// The folder part of a path with its slash; empty for a bare name in the current folder.
std::string FolderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file a save writes: symbolic links followed to their end, also to a target not made
// yet, so that a link stays a link. false for a loop of links.
bool FollowLinks(const char *path, std::string &file)
{
    std::string name = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(name.c_str(), target, sizeof target);
        if (n < 0) {  // not a link (or nothing there): this is the file
            file = name;
            return true;
        }
        if (static_cast<size_t>(n) >= sizeof target)
            return false;
        const std::string link(target, static_cast<size_t>(n));
        name = link[0] == '/' ? link : FolderOf(name) + link;
    }
    return false;
}

// Read-only for a save: the caller may not write it, or it has no write permission at all
// (root may write anything, but a file made read-only stays so, as on Windows).
bool ReadOnly(const std::string &file, const struct stat &st)
{
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
           ::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0;
}

// A name nobody uses in the file's folder, different on every attempt.
std::string TempNameBeside(const std::string &file, int attempt)
{
    uint32_t random = 0;
    if (::getentropy(&random, sizeof random) != 0)
        random = static_cast<uint32_t>(::getpid()) * 7919u + static_cast<uint32_t>(attempt);
    char name[32];
    std::snprintf(name, sizeof name, ".klp-%08x.tmp", static_cast<unsigned>(random));
    return FolderOf(file) + name;
}

// Creates a new file beside file, exclusively, so that no other file is ever overwritten;
// the usual permissions of a new file (0666 less the umask). -1 and the error when the
// folder takes no new file.
int CreateTempBeside(const std::string &file, std::string &temp, int &error)
{
    error = EEXIST;
    for (int attempt = 0; attempt < kTempAttempts && error == EEXIST; ++attempt) {
        temp = TempNameBeside(file, attempt);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        error = errno;
    }
    return -1;
}

// A folder that takes no new file for want of permission or name length may still let the
// file itself be written; any other failure (no such folder, a full disk) ends the save with
// the old file untouched.
files::WriteResult NoTempResult(int error)
{
    const bool onlyInPlace = error == EACCES || error == EPERM || error == ENAMETOOLONG;
    return onlyInPlace ? files::WriteResult::kOnlyInPlace : files::WriteResult::kCreateFailed;
}

// The old file's owner and permissions on the new one (owner first: a change of owner clears
// the set-id bits). false when the owner cannot be kept, as only root may give a file away.
bool KeepOwnerAndMode(int fd, const struct stat &old)
{
    struct stat now;
    if (::fstat(fd, &now) != 0)
        return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

// Devices and pipes have nothing to flush to; only a real failure counts.
bool Synced(int fd) { return ::fsync(fd) == 0 || errno == EINVAL; }

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
        return ReadResult::kOpenFailed;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::kOpenFailed;
    }
    if (static_cast<size_t>(st.st_size) != n) {
        ::close(fd);
        return ReadResult::kWrongSize;
    }
    unsigned char scratch[256];
    const bool ok = n <= sizeof scratch && ReadAll(fd, scratch, n);
    ::close(fd);
    if (!ok)
        return ReadResult::kFailed;
    for (size_t i = 0; i < n; ++i)
        buf[i] = scratch[i];
    return ReadResult::kOk;
}

WriteResult ReplaceContents(const char *path, const unsigned char *data, size_t n)
{
    std::string file;
    if (!FollowLinks(path, file))
        return WriteResult::kCreateFailed;
    struct stat old;
    const bool exists = ::stat(file.c_str(), &old) == 0;
    if (exists && ReadOnly(file, old))
        return WriteResult::kCreateFailed;
    if (exists && !S_ISREG(old.st_mode))
        return WriteResult::kOnlyInPlace;  // a device is written to, never replaced by a file
    std::string temp;
    int error = 0;
    const int fd = CreateTempBeside(file, temp, error);
    if (fd < 0)
        return NoTempResult(error);
    if (exists && !KeepOwnerAndMode(fd, old)) {
        ::close(fd);
        ::unlink(temp.c_str());
        return WriteResult::kOnlyInPlace;
    }
    const bool written = WriteAll(fd, data, n) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(temp.c_str());
        return WriteResult::kFailed;
    }
    if (::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return WriteResult::kCreateFailed;
    }
    return WriteResult::kOk;
}

WriteResult OverwriteContents(const char *path, const unsigned char *data, size_t n)
{
    struct stat st;
    if (::stat(path, &st) == 0 && ReadOnly(path, st))
        return WriteResult::kCreateFailed;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return WriteResult::kCreateFailed;
    const bool written = WriteAll(fd, data, n) && Synced(fd);
    const bool closed = ::close(fd) == 0;
    return written && closed ? WriteResult::kOk : WriteResult::kFailed;
}

}  // namespace files
