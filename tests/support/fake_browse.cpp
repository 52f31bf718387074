// The configuration file dialogs for tests: records each dialog and gives the scripted answer.
#include "tests/support/fake_browse.h"

#include <cstring>
#include <deque>
#include <mutex>

#include "config/config_dlg.h"

namespace {

std::mutex g_mutex;
std::deque<std::string> g_answers;
std::vector<fake::BrowseCall> g_calls;

}  // namespace

namespace fake {

void ScriptBrowse(const std::string &answer)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_answers.push_back(answer);
}

std::vector<BrowseCall> TakeBrowseCalls()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<BrowseCall> out;
    out.swap(g_calls);
    return out;
}

void ResetBrowse()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_answers.clear();
    g_calls.clear();
}

}  // namespace fake

// Like the real dialogs: an unknown mode shows nothing; a path longer than the buffer is cut.
char *CConfigDlg::BrowseConfigFile(WindowHandle owner, char *path, int mode)
{
    if (mode != BROWSE_OPEN && mode != BROWSE_SAVE)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.push_back({owner, mode});
    if (g_answers.empty())
        return nullptr;
    const std::string answer = g_answers.front();
    g_answers.pop_front();
    if (answer.empty())
        return nullptr;
    const size_t n = answer.size() < kPathSize - 1 ? answer.size() : kPathSize - 1;
    std::memcpy(path, answer.data(), n);
    path[n] = '\0';
    return path;
}
