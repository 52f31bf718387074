// CSerialCom on POSIX against pseudo-terminals: the far end of serial_cases.cpp, and the cases
// only a terminal can show (exclusive holding against other programs, writes cut short).
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <linux/capability.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "serial/raw_line_posix.h"
#include "tests/serial/serial_far_end.h"
#include "tools/klpsim/pty.h"

namespace {

// The settings the terminal side holds; termios requests on a master act on its terminal.
termios TerminalState(const klpsim::Pty &pty)
{
    termios tio{};
    EXPECT_EQ(tcgetattr(pty.masterFd(), &tio), 0);
    return tio;
}

// A pseudo-terminal made for the test: its master is the far end.
class PtyFarEnd : public FarEnd {
public:
    bool Create() { return m_pty.Create(); }
    std::string Port() const override { return m_pty.path(); }
    size_t Write(const Bytes &bytes, int timeoutMs) override { return m_pty.Write(bytes, timeoutMs); }
    Bytes ReadExactly(size_t count, int timeoutMs) override
    {
        return m_pty.ReadExactly(count, timeoutMs);
    }
    bool WaitQueued(size_t count, int timeoutMs) override { return m_pty.WaitQueued(count, timeoutMs); }

    // What another program may leave behind: parity, two stop bits, 7 bits, hardware and
    // software flow control, CR/LF translation both ways, line editing and echo, breaks
    // heeded, reads that wait.
    bool LeaveForeignState() override
    {
        m_foreign = TerminalState(m_pty);
        m_foreign.c_cflag = (m_foreign.c_cflag & ~CSIZE) | CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
        m_foreign.c_iflag = BRKINT | PARMRK | INPCK | ISTRIP | INLCR | ICRNL | IXON | IXOFF | IXANY;
        m_foreign.c_oflag = OPOST | ONLCR | OCRNL;
        m_foreign.c_lflag = ECHO | ECHOE | ECHONL | ICANON | ISIG | IEXTEN;
        m_foreign.c_cc[VMIN] = 1;
        m_foreign.c_cc[VTIME] = 5;
        return tcsetattr(m_pty.masterFd(), TCSANOW, &m_foreign) == 0;
    }

    void ExpectLineSetUp(RecordingCom &, int16_t baud) override
    {
        const termios held = TerminalState(m_pty);
        EXPECT_EQ(cfgetospeed(&held), cfgetispeed(&held)) << baud << ": output at another rate";
        EXPECT_EQ(held.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t{CS8}) << baud;
        EXPECT_EQ(held.c_cflag & (CREAD | CLOCAL), tcflag_t{CREAD | CLOCAL}) << baud;
        EXPECT_EQ(held.c_iflag, tcflag_t{IGNBRK}) << "input processing left on, or breaks read as bytes";
        EXPECT_EQ(held.c_oflag & OPOST, 0u) << baud;
        EXPECT_EQ(held.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u) << baud;
        EXPECT_EQ(held.c_cc[VMIN], 0) << baud;
        EXPECT_EQ(held.c_cc[VTIME], 0) << baud;
        // A pseudo-terminal keeps 8 bits without parity whatever it is told, so parity and
        // 7 bits are checked on the settings Open makes of the foreign state.
        termios parity = m_foreign;
        ASSERT_TRUE(MakeRawLine(&parity, baud)) << baud;
        EXPECT_EQ(parity.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS), tcflag_t{CS8});
    }

    int LineRate(RecordingCom &) override { return m_pty.TerminalSpeed(); }
    bool Unplug() override { m_pty.HangUp(); return true; }
    std::unique_ptr<FarEnd> Replacement() override { return MakeFarEnd(Cable::kUnpluggable); }
    void StopWriting() override {}  // its writes time out

private:
    klpsim::Pty m_pty;
    termios m_foreign{};
};

}  // namespace

std::unique_ptr<FarEnd> MakeFarEnd(Cable)
{
    auto peer = std::make_unique<PtyFarEnd>();
    return peer->Create() ? std::move(peer) : nullptr;
}

std::vector<FailedOpen> FailingOpens(const std::string &port, const std::string &held)
{
    return {
        {"/dev/klp-no-such-port", 9600, kSerialOpenDeviceFailed, ENOENT},
        {held, 9600, kSerialOpenDeviceFailed, EWOULDBLOCK},  // another holder has it
        {"/tmp", 9600, kSerialOpenDeviceFailed, EISDIR},
        {"/dev/null", 9600, kSerialOpenTimeoutsFailed, ENOTTY},  // not a terminal
        {port, 1234, kSerialOpenLineFailed, EINVAL},             // no such line rate
        {port, 1, kSerialOpenLineFailed, EINVAL},
    };
}

// The sanitizer runtimes want to come first, so those builds run without the library.
std::string StartModemRecord()
{
    if (dlsym(RTLD_DEFAULT, "klp_ptyshim_loaded") == nullptr)
        return "";
    const std::string path = "/tmp/klp-modem-" + std::to_string(getpid()) + ".log";
    unlink(path.c_str());
    setenv("KLP_MODEM_LOG", path.c_str(), 1);
    return path;
}

void EndModemRecord(const std::string &path)
{
    if (path.empty())
        return;
    unsetenv("KLP_MODEM_LOG");
    unlink(path.c_str());
}

const long kPromptCloseMs = 500;

long ProcessCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

namespace {

// Where two byte runs first differ, or -1: a 64 KiB mismatch is read by its place, not printed.
long FirstDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return static_cast<long>(i);
    }
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

// Another process trying the port. It is forked before this process starts any thread, so it
// may start its own; Try() has it make one attempt and report whether the port opened.
class OtherProcess {
public:
    enum Attempt : char {
        kSerialCom = 'c',  // CSerialCom::Open, with the privileges of this process
        kPlainOpen = 'p',  // open() without a lock and without the right to pass TIOCEXCL
    };

    explicit OtherProcess(const std::string &path)
    {
        if (pipe(m_ask) != 0 || pipe(m_answer) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            close(m_ask[1]);  // so that the parent's end closing ends the loop
            close(m_answer[0]);
            Serve(path);
        }
        close(m_ask[0]);
        close(m_answer[1]);
    }

    ~OtherProcess()
    {
        close(m_ask[1]);  // the child sees the end and leaves
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
        close(m_answer[0]);
    }

    bool Try(Attempt attempt)
    {
        char opened = 0;
        return m_pid > 0 && write(m_ask[1], &attempt, 1) == 1 &&
               read(m_answer[0], &opened, 1) == 1 && opened == 1;
    }

private:
    [[noreturn]] void Serve(const std::string &path)
    {
        char attempt;
        while (read(m_ask[0], &attempt, 1) == 1) {
            char opened = 0;
            if (attempt == kSerialCom) {
                RecordingCom com;
                opened = com.Open(path.c_str(), 9600) == kSerialOpenOk;
            } else {
                SetAdminCapability(false);
                const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                opened = fd >= 0;
                if (fd >= 0)
                    close(fd);
                SetAdminCapability(true);
            }
            if (write(m_answer[1], &opened, 1) != 1)
                break;
        }
        _exit(0);
    }

    // Root may open a terminal another holder made exclusive; an ordinary user's program
    // may not. Dropping the capability from the effective set plays that program.
    static void SetAdminCapability(bool on)
    {
        __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (syscall(SYS_capget, &header, data) != 0)
            return;
        const unsigned bit = 1u << (CAP_SYS_ADMIN % 32);
        __u32 &effective = data[CAP_SYS_ADMIN / 32].effective;
        effective = on ? (effective | (data[CAP_SYS_ADMIN / 32].permitted & bit)) : (effective & ~bit);
        syscall(SYS_capset, &header, data);
    }

    int m_ask[2] = {-1, -1};
    int m_answer[2] = {-1, -1};
    pid_t m_pid = -1;
};

class SerialPosixTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(peer.Create()); }

    klpsim::Pty peer;
    RecordingCom com;
};

TEST_F(SerialPosixTest, NoOneElseOpensTheDeviceUntilItIsClosed)
{
    OtherProcess other(peer.path());  // before Open starts a thread
    struct Case {
        const char *who;
        std::function<bool()> opens;
    };
    const Case cases[] = {
        {"a second CSerialCom here",
         [&] { RecordingCom second; return second.Open(peer.path().c_str(), 9600) == kSerialOpenOk; }},
        {"CSerialCom in another process", [&] { return other.Try(OtherProcess::kSerialCom); }},
        {"a program that takes no lock", [&] { return other.Try(OtherProcess::kPlainOpen); }},
    };
    ASSERT_EQ(com.Open(peer.path().c_str(), 9600), kSerialOpenOk);
    for (const Case &c : cases)
        EXPECT_FALSE(c.opens()) << c.who << " opened a held port";
    com.Close();
    for (const Case &c : cases)
        EXPECT_TRUE(c.opens()) << c.who << " found the port still held after Close";
}

TEST_F(SerialPosixTest, DestroyingAnOpenPortClosesIt)
{
    {
        RecordingCom scoped;
        ASSERT_EQ(scoped.Open(peer.path().c_str(), 9600), kSerialOpenOk);
    }
    EXPECT_EQ(com.Open(peer.path().c_str(), 9600), kSerialOpenOk);
}

TEST_F(SerialPosixTest, OneLargeWriteArrivesWholeAndInOrder)
{
    // The terminal takes a large write in many pieces; bytes that never repeat show a piece
    // resent from the wrong place, which a repeating pattern would hide.
    std::mt19937 prng(0x4B4C50);
    std::vector<uint8_t> data(64 * 1024);
    for (uint8_t &b : data)
        b = static_cast<uint8_t>(prng() >> 24);
    ASSERT_EQ(com.Open(peer.path().c_str(), 19200), kSerialOpenOk);
    std::vector<uint8_t> received;
    std::thread drain([&] { received = peer.ReadExactly(data.size(), 10000); });
    EXPECT_EQ(com.Write(data.data(), static_cast<uint32_t>(data.size())), data.size());
    drain.join();
    EXPECT_EQ(FirstDifference(received, data), -1) << "first wrong or missing byte at this offset";
    EXPECT_TRUE(peer.Read(50).empty()) << "more bytes than were written";
}

TEST_F(SerialPosixTest, AWriteCutShortByAHangUpReturnsTheBytesThatWentOut)
{
    ASSERT_EQ(com.Open(peer.path().c_str(), 19200), kSerialOpenOk);
    const std::vector<uint8_t> data = Pattern(64 * 1024, 1);  // far more than a terminal holds
    uint32_t written = 0;
    std::thread writer([&] { written = com.Write(data.data(), static_cast<uint32_t>(data.size())); });
    // Take one piece, let the rest fill the terminal, then pull the cable mid-write.
    pollfd p = {peer.masterFd(), POLLIN, 0};
    uint8_t piece[1024];
    const ssize_t taken = poll(&p, 1, 2000) == 1 ? read(peer.masterFd(), piece, sizeof piece) : -1;
    peer.HangUp();
    writer.join();
    ASSERT_GT(taken, 0) << "nothing arrived";
    EXPECT_GE(written, static_cast<uint32_t>(taken)) << "fewer than the far end received";
    EXPECT_LT(written, data.size()) << "a failed write reported as whole";
}

}  // namespace
