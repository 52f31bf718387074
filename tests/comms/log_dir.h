// A fresh, empty current directory for a test that writes "CommsLog.txt", and file helpers.
#pragma once
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Makes a new directory under the system's temporary directory, enters it, and on destruction
// goes back and removes it, so the log file of one test never meets another's.
class ScopedLogDir {
public:
    ScopedLogDir() : m_previous(std::filesystem::current_path())
    {
        namespace fs = std::filesystem;
        static int serial = 0;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        m_dir = fs::temp_directory_path() /
               ("klp-log-" + std::to_string(stamp) + "-" + std::to_string(++serial));
        fs::create_directories(m_dir);
        fs::current_path(m_dir);
    }
    ~ScopedLogDir()
    {
        std::error_code ec;
        std::filesystem::current_path(m_previous, ec);
        std::filesystem::remove_all(m_dir, ec);
    }
    ScopedLogDir(const ScopedLogDir &) = delete;
    ScopedLogDir &operator=(const ScopedLogDir &) = delete;

private:
    std::filesystem::path m_previous, m_dir;
};

inline bool FileExists(const char *name) { return std::filesystem::exists(name); }

inline std::string ReadFile(const char *name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const char *name, const std::string &content)
{
    std::ofstream out(name, std::ios::binary);
    out << content;
}

// Lines of a text, each with its CR LF; an unfinished last line comes back as it is.
inline std::vector<std::string> SplitCrLf(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
        lines.push_back(text.substr(start, pos + 2 - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}
