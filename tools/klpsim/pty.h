// A pseudo-terminal whose master side this process holds: the far end of a serial line.
// The virtual unit, the native serial tests and the benchmark talk through it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace klpsim {

class Pty {
public:
    Pty() = default;
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    // Creates the pair and sets the terminal side raw, so nothing written before a program
    // opens it is echoed or translated. With holdSlave the terminal side stays open here too
    // (never read), which keeps the master from seeing a hang-up while no program has it open
    // and lets TerminalSpeed() read the line settings a program applied.
    bool Create(bool holdSlave = true);
    // Links linkPath (a symbolic link, replaced if present) to the terminal's path.
    bool Link(const std::string &linkPath);

    const std::string &path() const { return m_path; }
    int masterFd() const { return m_master; }
    bool isOpen() const { return m_master >= 0; }

    // Writes all bytes, waiting for room up to timeoutMs in all; returns the count written.
    size_t Write(const uint8_t *bytes, size_t count, int timeoutMs = 2000);
    size_t Write(const std::vector<uint8_t> &bytes, int timeoutMs = 2000)
    {
        return Write(bytes.data(), bytes.size(), timeoutMs);
    }
    // Reads what the program sent: waits up to timeoutMs for the first byte, then takes
    // whatever is there. Returns the bytes read (empty on time-out or hang-up).
    std::vector<uint8_t> Read(int timeoutMs);
    // Reads until count bytes have arrived or timeoutMs has passed in all.
    std::vector<uint8_t> ReadExactly(size_t count, int timeoutMs);
    // Waits until the terminal side holds count unread bytes (needs holdSlave).
    bool WaitQueued(size_t count, int timeoutMs);
    // The input speed the terminal side is set to, in baud (needs holdSlave); 0 if unknown.
    int TerminalSpeed() const;

    // Closes the master: the program's terminal is hung up, as when a cable is pulled.
    void HangUp();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
    std::string m_link;
};

uint32_t MonotonicMs();
uint64_t MonotonicNs();  // the same clock, finer: for pacing bytes

}  // namespace klpsim
