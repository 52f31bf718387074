// The configuration file dialogs for tests: records each dialog and gives the scripted answer.
#include "tests/support/fake_browse.h"

#include <cstring>
#include <deque>
#include <mutex>

#include "platform/file_dialog.h"

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
bool sys::ChooseConfigFile(WindowHandle owner, int mode, char *path)
{
    if (mode != kOpenDialog && mode != kSaveDialog)
        return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.push_back({owner, mode});
    if (g_answers.empty())
        return false;
    const std::string answer = g_answers.front();
    g_answers.pop_front();
    if (answer.empty())
        return false;
    const size_t n = answer.size() < kPathSize - 1 ? answer.size() : kPathSize - 1;
    std::memcpy(path, answer.data(), n);
    path[n] = '\0';
    return true;
}
