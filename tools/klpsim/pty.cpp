// The pseudo-terminal pair behind the virtual unit and the native serial tests.
#include "tools/klpsim/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace klpsim {

namespace {

struct SpeedName {
    speed_t code;
    int baud;
};

const SpeedName kSpeeds[] = {
    {B50, 50},     {B75, 75},     {B110, 110},   {B134, 134},     {B150, 150},
    {B200, 200},   {B300, 300},   {B600, 600},   {B1200, 1200},   {B1800, 1800},
    {B2400, 2400}, {B4800, 4800}, {B9600, 9600}, {B19200, 19200}, {B38400, 38400},
};

bool MakeRaw(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// Waits until fd is ready for events, up to ms; false on time-out or error.
bool WaitFor(int fd, short events, int ms)
{
    pollfd p = {fd, events, 0};
    for (;;) {
        const int n = poll(&p, 1, ms < 0 ? 0 : ms);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && (p.revents & events);
    }
}

}  // namespace

uint64_t MonotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

uint32_t MonotonicMs() { return static_cast<uint32_t>(MonotonicNs() / 1000000u); }

Pty::~Pty()
{
    HangUp();
    if (!m_link.empty())
        unlink(m_link.c_str());
}

bool Pty::Create(bool holdSlave)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return false;
    const char *name = nullptr;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 || (name = ptsname(m_master)) == nullptr) {
        HangUp();
        return false;
    }
    m_path = name;
    const int slave = open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0 || !MakeRaw(slave)) {
        if (slave >= 0)
            close(slave);
        HangUp();
        return false;
    }
    if (holdSlave)
        m_slave = slave;
    else
        close(slave);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    return true;
}

bool Pty::Link(const std::string &linkPath)
{
    const std::string temp = linkPath + ".new";
    unlink(temp.c_str());
    if (symlink(m_path.c_str(), temp.c_str()) != 0)
        return false;
    if (rename(temp.c_str(), linkPath.c_str()) != 0) {  // atomic: never a moment without link
        unlink(temp.c_str());
        return false;
    }
    m_link = linkPath;
    return true;
}

size_t Pty::Write(const uint8_t *bytes, size_t count, int timeoutMs)
{
    const uint32_t start = MonotonicMs();
    size_t written = 0;
    while (written < count && m_master >= 0) {
        const ssize_t n = write(m_master, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            break;
        const int left = timeoutMs - static_cast<int>(MonotonicMs() - start);
        if (left <= 0 || !WaitFor(m_master, POLLOUT, left))
            break;
    }
    return written;
}

std::vector<uint8_t> Pty::Read(int timeoutMs)
{
    std::vector<uint8_t> out;
    if (m_master < 0 || !WaitFor(m_master, POLLIN, timeoutMs))
        return out;
    uint8_t buf[4096];
    for (;;) {
        const ssize_t n = read(m_master, buf, sizeof buf);
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return out;
    }
}

std::vector<uint8_t> Pty::ReadExactly(size_t count, int timeoutMs)
{
    const uint32_t start = MonotonicMs();
    std::vector<uint8_t> out;
    while (out.size() < count) {
        const int left = timeoutMs - static_cast<int>(MonotonicMs() - start);
        if (left <= 0)
            break;
        const std::vector<uint8_t> more = Read(left);
        out.insert(out.end(), more.begin(), more.end());
    }
    return out;
}

bool Pty::WaitQueued(size_t count, int timeoutMs)
{
    if (m_slave < 0)
        return false;
    const uint32_t start = MonotonicMs();
    for (;;) {
        int queued = 0;
        if (ioctl(m_slave, FIONREAD, &queued) == 0 && static_cast<size_t>(queued) >= count)
            return true;
        if (static_cast<int>(MonotonicMs() - start) >= timeoutMs)
            return false;
        // The kernel moves written bytes into the terminal's queue on a worker thread; there
        // is no event for it, so look again shortly.
        usleep(1000);
    }
}

int Pty::TerminalSpeed() const
{
    termios tio{};
    if (m_slave < 0 || tcgetattr(m_slave, &tio) != 0)
        return 0;
    const speed_t code = cfgetispeed(&tio);
    for (const SpeedName &s : kSpeeds) {
        if (s.code == code)
            return s.baud;
    }
    return 0;
}

void Pty::HangUp()
{
    if (m_slave >= 0)
        close(m_slave);
    if (m_master >= 0)
        close(m_master);
    m_slave = -1;
    m_master = -1;
}

}  // namespace klpsim
