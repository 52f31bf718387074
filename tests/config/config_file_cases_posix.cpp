// Saves only POSIX can lay out: permissions and owner, chains of links, a folder where only
// the file may be written, and a device that takes no bytes.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "tests/config/config_file_fixture.h"

namespace {

constexpr uid_t kNobody = 65534;
constexpr uid_t kStranger = 4242;  // an owner other than the one saving

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

SaveCase OwnedFile()
{
    return {"a file with its own permissions and owner",
            [](const fs::path &f) {
                Put(f / "own.klp", Wire(14, 0x11));
                ::chmod((f / "own.klp").c_str(), 0640);
                if (Root()) {
                    EXPECT_EQ(::chown((f / "own.klp").c_str(), kStranger, kStranger), 0);
                }
                return SaveCase::Target{f / "own.klp", {}};
            },
            "",
            {},
            [](const fs::path &written) {
                const struct stat st = StatOf(written);
                EXPECT_EQ(st.st_mode & 07777, 0640u);
                if (Root()) {
                    EXPECT_EQ(st.st_uid, kStranger);
                    EXPECT_EQ(st.st_gid, kStranger);
                }
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
    return {OwnedFile(), ChainOfLinks(), LinkToNothingYet(), FolderOnlyTheFileMayBeWrittenIn(),
            DeviceThatTakesNoBytes()};
}
