// Log lines on their way to the window: any thread adds a line, the user-interface thread takes
// everything queued at once. The memory is set aside once; nothing is allocated per line.
#pragma once
#include <cstddef>
#include <mutex>
#include <string>

class LogQueue {
public:
    // Bytes of queued lines past which a producer should wait for the window to catch up.
    static constexpr size_t kCapacity = 32 * 1024;

    LogQueue();

    // Adds a line and, when it is also for CommsLog.txt, the date prefix that leads it there
    // (prefixLength 0 otherwise). Returns the bytes now queued.
    size_t Push(const char *line, size_t lineLength, const char *prefix, size_t prefixLength);
    // Takes everything queued, oldest first (see ForEachQueuedLine). The result stays valid
    // until the next call; one thread takes.
    const std::string &TakeAll();
    bool Empty();

private:
    std::mutex m_lock;
    std::string m_queued;
    std::string m_taken;  // swapped with m_queued, so both keep the memory set aside
};

// Calls fn(line, lineLength, prefix, prefixLength) for each entry of a batch, oldest first.
template <typename Fn>
void ForEachQueuedLine(const std::string &batch, Fn fn)
{
    for (size_t at = 0; at + 2 <= batch.size();) {
        const size_t lineLength = static_cast<unsigned char>(batch[at]);
        const size_t prefixLength = static_cast<unsigned char>(batch[at + 1]);
        const char *prefix = batch.data() + at + 2;
        fn(prefix + prefixLength, lineLength, prefix, prefixLength);
        at += 2 + prefixLength + lineLength;
    }
}
