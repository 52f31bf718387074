// A CSerialCom that records what its reader thread hands on, for the serial tests of both
// platforms, and a reader of the modem-line record the preloaded harness library writes.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "serial/serial_com.h"

class RecordingCom : public CSerialCom {
public:
    ~RecordingCom() override { Close(); }  // the reader must stop before this part goes

    using CSerialCom::PortHandle;  // tests ask the device what Open set

    void OnReceive(const uint8_t *bytes, uint32_t count) override
    {
        if (hook)
            hook(bytes, count);
        std::lock_guard<std::mutex> lock(m_lock);
        m_chunks.emplace_back(bytes, bytes + count);
        m_total += count;
        m_changed.notify_all();
    }

    void OnPortStalled() override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_stalls;
        m_changed.notify_all();
    }

    // Waits (bounded) until at least count bytes have arrived in all.
    bool WaitBytes(size_t count, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_total >= count; });
    }

    bool WaitStalls(int count, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_stalls >= count; });
    }

    std::vector<uint8_t> Bytes()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        std::vector<uint8_t> all;
        for (const auto &c : m_chunks)
            all.insert(all.end(), c.begin(), c.end());
        return all;
    }

    std::vector<size_t> ChunkSizes()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        std::vector<size_t> sizes;
        for (const auto &c : m_chunks)
            sizes.push_back(c.size());
        return sizes;
    }

    size_t Total()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_total;
    }

    size_t ChunkCount()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_chunks.size();
    }

    int Stalls()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_stalls;
    }

    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_chunks.clear();
        m_total = 0;
    }

    // Runs on the reader thread before a chunk is recorded; set it only while closed.
    void (*hook)(const uint8_t *, uint32_t) = nullptr;

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::vector<uint8_t>> m_chunks;
    size_t m_total = 0;
    int m_stalls = 0;
};

// One line of the modem record: "<ms> <device> <RTS|DTR> <0|1>".
struct ModemChange {
    long long ms = 0;
    std::string device;
    std::string line;
    int level = -1;
    bool operator==(const ModemChange &o) const
    {
        return device == o.device && line == o.line && level == o.level;
    }
};

// So that a failed comparison of records reads as the lines, not as bytes.
inline std::ostream &operator<<(std::ostream &out, const ModemChange &c)
{
    return out << c.device << ' ' << c.line << ' ' << c.level;
}

inline std::vector<ModemChange> ReadModemLog(const std::string &path)
{
    std::vector<ModemChange> changes;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        ModemChange c;
        fields >> c.ms >> c.device >> c.line >> c.level;
        changes.push_back(c);
    }
    return changes;
}

// The changes of one device only, in order.
inline std::vector<ModemChange> ChangesOf(const std::vector<ModemChange> &all,
                                          const std::string &device)
{
    std::vector<ModemChange> out;
    for (const ModemChange &c : all) {
        if (c.device == device)
            out.push_back(c);
    }
    return out;
}
