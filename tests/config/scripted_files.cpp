// The file seam with scripted results, for the failures real files cannot be made to show
// (a short read after the size was right, a write that stops part-way).
#include <cstring>

#include "platform/files.h"
#include "tests/config/scripted_files.h"

namespace scripted {

files::ReadResult readResult = files::READ_OK;
files::WriteResult writeResult = files::WRITE_OK;
std::vector<unsigned char> fileBytes;  // what a READ_OK gives
std::vector<std::string> paths;        // every path handed to the seam

}  // namespace scripted

namespace files {

bool AppendPair(const char *, const char *, size_t, const char *, size_t) { return false; }

ReadResult ReadExactly(const char *path, unsigned char *buf, size_t n)
{
    scripted::paths.push_back(path);
    if (scripted::readResult == READ_OK && scripted::fileBytes.size() == n)
        std::memcpy(buf, scripted::fileBytes.data(), n);
    return scripted::readResult;
}

WriteResult ReplaceContents(const char *path, const unsigned char *data, size_t n)
{
    scripted::paths.push_back(path);
    if (scripted::writeResult == WRITE_OK)
        scripted::fileBytes.assign(data, data + n);
    return scripted::writeResult;
}

}  // namespace files
