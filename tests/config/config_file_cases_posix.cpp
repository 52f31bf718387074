// Saves only POSIX can lay out: permissions and owner, chains of links, a folder where only
// the file may be written, and a device that takes no bytes.
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>

#include "tests/config/config_file_fixture.h"

namespace {

constexpr uid_t kNobody = 65534;
constexpr uid_t kStranger = 4242;       // an owner other than the one saving...
constexpr gid_t kStrangerGroup = 4343;  // ...and a group of another number

// While a case records: the syncs and renames of the save, each with the file's name.
std::vector<std::string> *g_calls = nullptr;

std::string NameOf(const std::string &path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

// The test program's own fsync and rename, in front of the C library's: they note what the
// save asks for, and in which order, then do it.
extern "C" int fsync(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    if (g_calls) {
        char path[PATH_MAX] = "";
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
        g_calls->push_back("fsync " + NameOf(std::string(path, n > 0 ? static_cast<size_t>(n) : 0)));
    }
    return real(fd);
}

extern "C" int rename(const char *from, const char *to)
{
    static const auto real =
        reinterpret_cast<int (*)(const char *, const char *)>(::dlsym(RTLD_NEXT, "rename"));
    if (g_calls)
        g_calls->push_back("rename " + NameOf(from) + " " + NameOf(to));
    return real(from, to);
}

namespace {

bool Root() { return ::geteuid() == 0; }

// Runs a save as an ordinary user: root may write in any folder.
void AsOrdinaryUser(const std::function<void()> &save)
{
    if (!Root()) {
        save();
        return;
    }
    ASSERT_EQ(::setegid(kNobody), 0);
    ASSERT_EQ(::seteuid(kNobody), 0);
    save();
    EXPECT_EQ(::seteuid(0), 0);
    EXPECT_EQ(::setegid(0), 0);
}

struct stat StatOf(const fs::path &path)
{
    struct stat st = {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

// The owner first, then the mode: a change of owner clears the set-id bits.
SaveCase OwnedFile(const char *name, mode_t mode)
{
    return {name,
            [mode](const fs::path &f) {
                Put(f / "own.klp", Wire(14, 0x11));
                if (Root()) {
                    EXPECT_EQ(::chown((f / "own.klp").c_str(), kStranger, kStrangerGroup), 0);
                }
                EXPECT_EQ(::chmod((f / "own.klp").c_str(), mode), 0);
                return SaveCase::Target{f / "own.klp", {}};
            },
            "",
            {},
            [mode](const fs::path &written) {
                const struct stat st = StatOf(written);
                EXPECT_EQ(st.st_mode & 07777, mode);
                if (Root()) {
                    EXPECT_EQ(st.st_uid, kStranger);
                    EXPECT_EQ(st.st_gid, kStrangerGroup);
                }
            }};
}

// The record is on the disk before the new file takes the old one's name: a crash between
// the two leaves the old file or the new one whole, never an empty one.
SaveCase SyncedBeforeTheRename()
{
    return {"the new file synced before it takes the name",
            [](const fs::path &f) {
                Put(f / "synced.klp", Wire(14, 0x11));
                return SaveCase::Target{f / "synced.klp", {}};
            },
            "",
            [](const std::function<void()> &save) {
                std::vector<std::string> calls;
                g_calls = &calls;
                save();
                g_calls = nullptr;
                ASSERT_EQ(calls.size(), 2u) << ::testing::PrintToString(calls);
                const std::string temp = calls[0].substr(6);
                EXPECT_EQ(calls[0].compare(0, 11, "fsync .klp-"), 0) << calls[0];
                EXPECT_EQ(calls[1], "rename " + temp + " synced.klp");
            }};
}

// link.klp -> sub/next.klp -> real.klp: each link read from its own folder.
SaveCase ChainOfLinks()
{
    return {"a chain of symbolic links",
            [](const fs::path &f) {
                fs::create_directories(f / "sub");
                Put(f / "sub" / "real.klp", Wire(100, 0x11));
                fs::create_symlink("real.klp", f / "sub" / "next.klp");
                fs::create_symlink("sub/next.klp", f / "link.klp");
                return SaveCase::Target{f / "link.klp", f / "sub" / "real.klp"};
            },
            ""};
}

SaveCase LinkToNothingYet()
{
    return {"a link to a file not made yet",
            [](const fs::path &f) {
                fs::create_symlink("later.klp", f / "link.klp");
                return SaveCase::Target{f / "link.klp", f / "later.klp"};
            },
            ""};
}

// Nothing can be made beside the file, but the file itself may be written: it is, in place.
SaveCase FolderOnlyTheFileMayBeWrittenIn()
{
    return {"a folder where only the file may be written",
            [](const fs::path &f) {
                Put(f / "shared.klp", Wire(100, 0x11));
                ::chmod((f / "shared.klp").c_str(), 0666);
                ::chmod(f.c_str(), 0555);
                return SaveCase::Target{f / "shared.klp", {}};
            },
            "",
            AsOrdinaryUser};
}

// Written in place, as a device is never replaced by a file; every write fails. Root makes
// its own, so that a save that did replace it would harm no device of the system's.
SaveCase DeviceThatTakesNoBytes()
{
    return {"a device that takes no bytes",
            [](const fs::path &f) {
                if (!Root())
                    return SaveCase::Target{"/dev/full", {}};
                EXPECT_EQ(::mknod((f / "full").c_str(), S_IFCHR | 0666, ::makedev(1, 7)), 0);
                return SaveCase::Target{f / "full", {}};
            },
            "Failed to write config file",
            {},
            [](const fs::path &written) { EXPECT_TRUE(S_ISCHR(StatOf(written).st_mode)); }};
}

}  // namespace

std::vector<SaveCase> PlatformSaveCases()
{
    std::vector<SaveCase> cases = {
        OwnedFile("a file with its own permissions and owner", 0640), SyncedBeforeTheRename(),
        ChainOfLinks(), LinkToNothingYet(), FolderOnlyTheFileMayBeWrittenIn(),
        DeviceThatTakesNoBytes()};
    // Only root keeps another's set-group-id bit: anyone else's chmod drops it.
    if (Root())
        cases.push_back(OwnedFile("a file with set-id and sticky bits", 07640));
    return cases;
}
