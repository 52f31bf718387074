// The file seam with scripted results, for the failures real files cannot be made to show
// (a short read after the size was right, a write that stops part-way) and the order of the
// writes a save tries.
#include <cstring>

#include "platform/files.h"
#include "tests/config/scripted_files.h"

namespace scripted {

files::ReadResult readResult = files::ReadResult::kOk;
files::WriteResult writeResult = files::WriteResult::kOk;
files::WriteResult overwriteResult = files::WriteResult::kOk;
std::vector<unsigned char> fileBytes;  // what a ReadResult::kOk gives, what a WriteResult::kOk wrote
std::vector<std::string> paths;        // every path handed to the seam
std::vector<std::string> writes;       // "replace" and "overwrite", in the order called

}  // namespace scripted

namespace files {

bool AppendPair(const char *, const char *, size_t, const char *, size_t) { return false; }

ReadResult ReadExactly(const char *path, unsigned char *buf, size_t n)
{
    scripted::paths.push_back(path);
    if (scripted::readResult == ReadResult::kOk && scripted::fileBytes.size() == n)
        std::memcpy(buf, scripted::fileBytes.data(), n);
    return scripted::readResult;
}

namespace {

WriteResult Write(const char *how, WriteResult result, const char *path, const unsigned char *data,
                  size_t n)
{
    scripted::paths.push_back(path);
    scripted::writes.push_back(how);
    if (result == WriteResult::kOk)
        scripted::fileBytes.assign(data, data + n);
    return result;
}

}  // namespace

WriteResult ReplaceContents(const char *path, const unsigned char *data, size_t n)
{
    return Write("replace", scripted::writeResult, path, data, n);
}

WriteResult OverwriteContents(const char *path, const unsigned char *data, size_t n)
{
    return Write("overwrite", scripted::overwriteResult, path, data, n);
}

}  // namespace files
