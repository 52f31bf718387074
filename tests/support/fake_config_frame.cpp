// Records the configuration frames the decoder hands on, in place of the configuration page.
#include <mutex>

#include "config/config_dlg.h"
#include "tests/support/fakes.h"

namespace {
std::mutex g_mutex;
std::vector<std::vector<uint8_t>> g_frames;
}  // namespace

void CConfigDlg::OnConfigFrame(const uint8_t *frame, uint8_t length)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_frames.emplace_back(frame, frame + length);
}

namespace fake {

std::vector<std::vector<uint8_t>> TakeConfigFrames()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<std::vector<uint8_t>> out;
    out.swap(g_frames);
    return out;
}

}  // namespace fake
