// The queue between the threads that log and the window that shows the log.
#include "comms/page/log_queue.h"

#include "comms/log_line.h"

LogQueue::LogQueue()
{
    // Room for a full queue and the last line of each thread that may still come after it.
    m_queued.reserve(kCapacity + 4 * (2 + 2 * logline::kBufferSize));
    m_taken.reserve(m_queued.capacity());
}

size_t LogQueue::Push(const char *line, size_t lineLength, const char *prefix, size_t prefixLength)
{
    // Entry: line length, prefix length (one byte each: both are under 256), prefix, line.
    const char lengths[2] = {static_cast<char>(lineLength), static_cast<char>(prefixLength)};
    std::lock_guard<std::mutex> lock(m_lock);
    m_queued.append(lengths, 2);
    m_queued.append(prefix, prefixLength);
    m_queued.append(line, lineLength);
    return m_queued.size();
}

const std::string &LogQueue::TakeAll()
{
    m_taken.clear();
    std::lock_guard<std::mutex> lock(m_lock);
    m_taken.swap(m_queued);
    return m_taken;
}

bool LogQueue::Empty()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_queued.empty();
}
