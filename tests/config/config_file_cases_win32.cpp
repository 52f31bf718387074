// Saves only Windows can lay out: paths at the length limit, with no room beside the file,
// and the attributes a file keeps.
#include <windows.h>

#include "tests/config/config_file_fixture.h"

namespace {

constexpr DWORD kMarks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// A path of exactly length characters ending in "\x.klp", through folders made for it.
fs::path PathOfLength(const fs::path &folder, size_t length)
{
    const std::string name = "\\x.klp";
    std::string path = folder.string();
    while (path.size() + name.size() < length) {
        const size_t room = length - name.size() - path.size();  // for "\" and a folder name
        path += "\\" + std::string(room <= 101 ? room - 1 : 50, 'd');
    }
    fs::create_directories(path);
    return path + name;
}

// 256 to 259 characters: the folder leaves no room for a file's name beside it within
// MAX_PATH, but the file itself fits and is written in place, new or already there.
SaveCase PathAtTheLimit(size_t length, bool existing)
{
    return {"a path of " + std::to_string(length) + " characters",
            [length, existing](const fs::path &f) {
                const fs::path path = PathOfLength(f, length);
                EXPECT_EQ(path.string().size(), length);
                if (existing)
                    Put(path, Wire(100, 0x11));
                return SaveCase::Target{path, {}};
            },
            ""};
}

SaveCase MarkedFile()
{
    return {"a hidden system file with its archive mark",
            [](const fs::path &f) {
                Put(f / "marked.klp", Wire(100, 0x11));
                EXPECT_TRUE(SetFileAttributesA((f / "marked.klp").string().c_str(), kMarks));
                return SaveCase::Target{f / "marked.klp", {}};
            },
            "",
            {},
            [](const fs::path &written) {
                EXPECT_EQ(GetFileAttributesA(written.string().c_str()) & kMarks, kMarks);
            }};
}

}  // namespace

std::vector<SaveCase> PlatformSaveCases()
{
    return {PathAtTheLimit(256, false), PathAtTheLimit(257, true), PathAtTheLimit(258, false),
            PathAtTheLimit(259, true), MarkedFile()};
}
