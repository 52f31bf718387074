// "Open" and "Save" on real files in a scratch folder, and the Save cases each platform adds
// (config_file_cases_posix.cpp, config_file_cases_win32.cpp).
#pragma once
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/config/config_fixture.h"

namespace fs = std::filesystem;

// A Save onto what a folder already holds. arrange lays the folder out and gives the path
// chosen in the dialog; the file that must then hold the record is that path or, for a
// link, written. message is the box the user sees ("" for none). around runs the save
// (under another user, say); check asserts what else must hold afterwards.
struct SaveCase {
    struct Target {
        fs::path chosen;
        fs::path written;  // empty: the chosen path
    };
    std::string name;
    std::function<Target(const fs::path &folder)> arrange;
    std::string message;
    std::function<void(const std::function<void()> &save)> around;
    std::function<void(const fs::path &written)> check;
};

// The cases only one platform can lay out: links and owners, long paths and attributes.
std::vector<SaveCase> PlatformSaveCases();

inline Wire Contents(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return Wire(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void Put(const fs::path &path, const Wire &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void MakeReadOnly(const fs::path &path)
{
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

// Everything under a folder: each file's bytes, or where a link points.
using FolderState = std::map<std::string, std::string>;

inline FolderState StateOf(const fs::path &folder)
{
    FolderState state;
    for (const fs::directory_entry &e : fs::recursive_directory_iterator(folder)) {
        const std::string name = e.path().lexically_relative(folder).generic_string();
        if (e.is_symlink()) {
            state[name] = "-> " + fs::read_symlink(e.path()).string();
        } else if (e.is_regular_file()) {
            const Wire bytes = Contents(e.path());
            state[name] = std::string(bytes.begin(), bytes.end());
        }
    }
    return state;
}

class ConfigFile : public ConfigTest {
protected:
    void SetUp() override
    {
        ConfigTest::SetUp();
        std::random_device rd;
        dir = fs::temp_directory_path() / ("klp-config-test-" + std::to_string(rd()));
        fs::create_directories(dir);
        // Reachable by every user: some saves are made as another one.
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    }
    void TearDown() override
    {
        // Read-only files and folders would keep their folder from being removed.
        std::error_code ec;
        for (const fs::directory_entry &e : fs::recursive_directory_iterator(dir, ec))
            if (!e.is_symlink())
                fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
        ConfigTest::TearDown();
    }

    std::string PathOf(const std::string &name) { return (dir / name).string(); }

    void Save(const std::string &path)
    {
        fake::ScriptBrowse(path);
        Command(IDC_CFG_SAVE);
    }
    void Open(const std::string &path)
    {
        fake::ScriptBrowse(path);
        Command(IDC_CFG_OPEN);
    }

    fs::path dir;
};
