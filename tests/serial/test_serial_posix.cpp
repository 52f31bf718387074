// CSerialCom on POSIX against pseudo-terminals: opening, closing, reading, writing, and the
// reader thread's conduct when traffic floods in or the device goes away.
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
#include <atomic>
#include <cstdio>
#include <chrono>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "genisys/genisys_frame.h"
#include "serial/raw_line_posix.h"
#include "tests/serial/recording_com.h"
#include "tools/klpsim/pty.h"

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

long ProcessCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// The settings the terminal side holds; termios requests on a master act on its terminal.
termios TerminalState(const klpsim::Pty &pty)
{
    termios tio{};
    EXPECT_EQ(tcgetattr(pty.masterFd(), &tio), 0);
    return tio;
}

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
                opened = com.Open(path.c_str(), 9600) == SERIAL_OPEN_OK;
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

TEST_F(SerialPosixTest, OpenCloseAndSecondCloseFollowTheLifecycle)
{
    EXPECT_FALSE(com.IsOpen());
    EXPECT_EQ(com.Close(), 0) << "closing a port never opened";
    ASSERT_EQ(com.Open(peer.path().c_str(), 9600), SERIAL_OPEN_OK);
    EXPECT_TRUE(com.IsOpen());
    EXPECT_EQ(peer.TerminalSpeed(), 9600);
    EXPECT_EQ(com.Close(), 1);
    EXPECT_FALSE(com.IsOpen());
    EXPECT_EQ(com.Close(), 0) << "a second Close finds nothing to close";
    const uint8_t byte = 0x41;
    EXPECT_EQ(com.Write(&byte, 1), 0u) << "writing on a closed port";
    EXPECT_TRUE(peer.Read(50).empty());
}

TEST_F(SerialPosixTest, EachRateOfTheCommsPageIsTheRateTheTerminalHolds)
{
    for (const int16_t baud : {1200, 2400, 4800, 9600, 19200}) {
        ASSERT_EQ(com.Open(peer.path().c_str(), baud), SERIAL_OPEN_OK) << baud;
        const termios tio = TerminalState(peer);
        EXPECT_EQ(peer.TerminalSpeed(), baud);
        EXPECT_EQ(cfgetospeed(&tio), cfgetispeed(&tio)) << baud << ": output at another rate";
    }
}

TEST_F(SerialPosixTest, AForeignTerminalStateBecomesRaw8N1AndBytesPassUnchangedBothWays)
{
    // What another program may leave behind: parity, two stop bits, 7 bits, hardware and
    // software flow control, CR/LF translation both ways, line editing and echo, breaks
    // heeded, reads that wait.
    termios foreign = TerminalState(peer);
    foreign.c_cflag = (foreign.c_cflag & ~CSIZE) | CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
    foreign.c_iflag = BRKINT | PARMRK | INPCK | ISTRIP | INLCR | ICRNL | IXON | IXOFF | IXANY;
    foreign.c_oflag = OPOST | ONLCR | OCRNL;
    foreign.c_lflag = ECHO | ECHOE | ECHONL | ICANON | ISIG | IEXTEN;
    foreign.c_cc[VMIN] = 1;
    foreign.c_cc[VTIME] = 5;
    ASSERT_EQ(tcsetattr(peer.masterFd(), TCSANOW, &foreign), 0);
    ASSERT_EQ(com.Open(peer.path().c_str(), 9600), SERIAL_OPEN_OK);

    const termios held = TerminalState(peer);
    EXPECT_EQ(held.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t{CS8});
    EXPECT_EQ(held.c_cflag & (CREAD | CLOCAL), tcflag_t{CREAD | CLOCAL});
    EXPECT_EQ(held.c_iflag, tcflag_t{IGNBRK}) << "input processing left on, or breaks read as bytes";
    EXPECT_EQ(held.c_oflag & OPOST, 0u);
    EXPECT_EQ(held.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(held.c_cc[VMIN], 0);
    EXPECT_EQ(held.c_cc[VTIME], 0);
    // A pseudo-terminal keeps 8 bits without parity whatever it is told, so parity and
    // 7 bits are checked on the settings Open makes of such a state.
    termios parity = foreign;
    ASSERT_TRUE(MakeRawLine(&parity, 9600));
    EXPECT_EQ(parity.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS), tcflag_t{CS8});

    // Every byte value, CR, LF, XON, XOFF, the editing and signal characters among them.
    std::vector<uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(com.Write(all.data(), 256), 256u);
    EXPECT_EQ(peer.ReadExactly(256, 2000), all);
    ASSERT_EQ(peer.Write(all), all.size());
    EXPECT_TRUE(com.WaitBytes(all.size(), 2000));
    EXPECT_EQ(com.Bytes(), all);
    EXPECT_TRUE(peer.Read(50).empty()) << "the terminal echoed what it received";
}

TEST_F(SerialPosixTest, FailedOpensGiveTheirStepAndLeaveThePortClosed)
{
    klpsim::Pty held;
    ASSERT_TRUE(held.Create());
    RecordingCom holder;
    ASSERT_EQ(holder.Open(held.path().c_str(), 9600), SERIAL_OPEN_OK);

    struct Case {
        std::string name;
        int16_t baud;
        int16_t expected;
        int error;  // what the system said at the failing step
    };
    const Case cases[] = {
        {"/dev/klp-no-such-port", 9600, SERIAL_OPEN_DEVICE_FAILED, ENOENT},
        {held.path(), 9600, SERIAL_OPEN_DEVICE_FAILED, EWOULDBLOCK},  // another holder has it
        {"/tmp", 9600, SERIAL_OPEN_DEVICE_FAILED, EISDIR},
        {"/dev/null", 9600, SERIAL_OPEN_TIMEOUTS_FAILED, ENOTTY},     // not a terminal
        {peer.path(), 1234, SERIAL_OPEN_LINE_FAILED, EINVAL},         // no such line rate
        {peer.path(), 1, SERIAL_OPEN_LINE_FAILED, EINVAL},
    };
    for (const Case &c : cases) {
        // Each failure also closes a port that was open before it.
        ASSERT_EQ(com.Open(peer.path().c_str(), 9600), SERIAL_OPEN_OK) << c.name;
        EXPECT_EQ(com.Open(c.name.c_str(), c.baud), c.expected) << c.name << " @" << c.baud;
        EXPECT_EQ(com.OpenError(), c.error) << c.name << " @" << c.baud;
        EXPECT_FALSE(com.IsOpen()) << c.name;
        EXPECT_EQ(com.Close(), 0) << c.name;
    }
    // The held port still works for its holder.
    const std::vector<uint8_t> hello = {1, 2, 3};
    held.Write(hello);
    ASSERT_TRUE(holder.WaitBytes(3, 2000));
    EXPECT_EQ(holder.Bytes(), hello);
}

TEST_F(SerialPosixTest, NoOneElseOpensTheDeviceUntilItIsClosed)
{
    OtherProcess other(peer.path());  // before Open starts a thread
    struct Case {
        const char *who;
        std::function<bool()> opens;
    };
    const Case cases[] = {
        {"a second CSerialCom here",
         [&] { RecordingCom second; return second.Open(peer.path().c_str(), 9600) == SERIAL_OPEN_OK; }},
        {"CSerialCom in another process", [&] { return other.Try(OtherProcess::kSerialCom); }},
        {"a program that takes no lock", [&] { return other.Try(OtherProcess::kPlainOpen); }},
    };
    ASSERT_EQ(com.Open(peer.path().c_str(), 9600), SERIAL_OPEN_OK);
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
        ASSERT_EQ(scoped.Open(peer.path().c_str(), 9600), SERIAL_OPEN_OK);
    }
    EXPECT_EQ(com.Open(peer.path().c_str(), 9600), SERIAL_OPEN_OK);
}

TEST_F(SerialPosixTest, WriteRefusesEmptyRequestsAndSendsFramesByteExact)
{
    ASSERT_EQ(com.Open(peer.path().c_str(), 19200), SERIAL_OPEN_OK);
    const uint8_t byte = 0x55;
    EXPECT_EQ(com.Write(nullptr, 4), 0u);
    EXPECT_EQ(com.Write(&byte, 0), 0u);
    // A configuration write whose data, CRC and terminator-like bytes all need escaping.
    const uint8_t record[14] = {0x10, 0xF0, 0xF6, 0xFF, 0x0A, 0x0D, 0x03, 0x04,
                                0x11, 0x13, 0x7F, 0x00, 0x1B, 0xF1};
    uint8_t wire[genisys::MaxWireLength(14)];
    const size_t length =
        genisys::EncodeFrame(0xFC, 0x01, record, 14, genisys::SEND_CRC | genisys::SEND_CONFIG, wire);
    EXPECT_EQ(com.Write(wire, static_cast<uint32_t>(length)), length);
    EXPECT_EQ(peer.ReadExactly(length, 2000), std::vector<uint8_t>(wire, wire + length));
    EXPECT_TRUE(peer.Read(50).empty()) << "nothing beyond the frame";
}

TEST_F(SerialPosixTest, OneLargeWriteArrivesWholeAndInOrder)
{
    // The terminal takes a large write in many pieces; bytes that never repeat show a piece
    // resent from the wrong place, which a repeating pattern would hide.
    std::mt19937 prng(0x4B4C50);
    std::vector<uint8_t> data(64 * 1024);
    for (uint8_t &b : data)
        b = static_cast<uint8_t>(prng() >> 24);
    ASSERT_EQ(com.Open(peer.path().c_str(), 19200), SERIAL_OPEN_OK);
    std::vector<uint8_t> received;
    std::thread drain([&] { received = peer.ReadExactly(data.size(), 10000); });
    EXPECT_EQ(com.Write(data.data(), static_cast<uint32_t>(data.size())), data.size());
    drain.join();
    EXPECT_EQ(FirstDifference(received, data), -1) << "first wrong or missing byte at this offset";
    EXPECT_TRUE(peer.Read(50).empty()) << "more bytes than were written";
}

TEST_F(SerialPosixTest, AWriteCutShortByAHangUpReturnsTheBytesThatWentOut)
{
    ASSERT_EQ(com.Open(peer.path().c_str(), 19200), SERIAL_OPEN_OK);
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

TEST_F(SerialPosixTest, BytesWaitingAtWakeUpArriveIn1024ByteChunksInOrder)
{
    const std::vector<uint8_t> waiting = Pattern(3000, 3);
    ASSERT_EQ(peer.Write(waiting), waiting.size());
    ASSERT_TRUE(peer.WaitQueued(waiting.size(), 2000));
    ASSERT_EQ(com.Open(peer.path().c_str(), 9600), SERIAL_OPEN_OK);
    ASSERT_TRUE(com.WaitBytes(waiting.size(), 2000));
    EXPECT_EQ(com.ChunkSizes(), (std::vector<size_t>{1024, 1024, 952}));
    EXPECT_EQ(com.Bytes(), waiting);
}

TEST_F(SerialPosixTest, WritesFromTwoThreadsAtOnceEachArriveWhole)
{
    ASSERT_EQ(com.Open(peer.path().c_str(), 19200), SERIAL_OPEN_OK);
    // Far more than the terminal buffers: writes are cut short and must be resumed whole.
    constexpr size_t kBlock = 4096;
    constexpr int kBlocks = 24;
    std::vector<uint8_t> received;
    std::thread drain([&] { received = peer.ReadExactly(2 * kBlock * kBlocks, 10000); });
    auto writer = [&](uint8_t fill) {
        const std::vector<uint8_t> block(kBlock, fill);
        for (int i = 0; i < kBlocks; ++i)
            EXPECT_EQ(com.Write(block.data(), kBlock), kBlock);
    };
    std::thread a(writer, 0xAA);
    std::thread b(writer, 0xBB);
    a.join();
    b.join();
    drain.join();
    ASSERT_EQ(received.size(), 2 * kBlock * kBlocks);
    int blocksOfA = 0;
    for (size_t at = 0; at < received.size(); at += kBlock) {
        const std::vector<uint8_t> block(received.begin() + at, received.begin() + at + kBlock);
        EXPECT_EQ(block, std::vector<uint8_t>(kBlock, block[0])) << "block at " << at << " mixed";
        blocksOfA += block[0] == 0xAA;
    }
    EXPECT_EQ(blocksOfA, kBlocks);
}

TEST_F(SerialPosixTest, CloseDuringAFloodReturnsPromptly)
{
    // Each chunk takes a while to handle, as a decoder writing log lines would.
    com.hook = [](const uint8_t *, uint32_t) { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
    ASSERT_EQ(com.Open(peer.path().c_str(), 19200), SERIAL_OPEN_OK);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const std::vector<uint8_t> burst = Pattern(4096, 1);
        while (flooding.load())
            peer.Write(burst, 100);
    });
    EXPECT_TRUE(com.WaitBytes(256 * 1024, 10000));
    const auto start = Clock::now();
    EXPECT_EQ(com.Close(), 1);
    const long closeMs = ElapsedMs(start);
    const size_t chunksAtClose = com.ChunkCount();
    // The flood goes on with nobody reading; nothing more may reach the object.
    peer.Write(Pattern(512, 9), 50);
    flooding = false;
    flood.join();
    std::printf("close during a flood took %ld ms\n", closeMs);
    EXPECT_LT(closeMs, 500) << "Close waited for the flood to end";
    EXPECT_EQ(com.ChunkCount(), chunksAtClose);
}

TEST_F(SerialPosixTest, ReopeningOnAnotherPortAndRateLeavesTheOldPortBehind)
{
    klpsim::Pty second;
    ASSERT_TRUE(second.Create());
    ASSERT_EQ(com.Open(peer.path().c_str(), 9600), SERIAL_OPEN_OK);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const std::vector<uint8_t> burst(512, 0xA1);
        while (flooding.load())
            peer.Write(burst, 20);
    });
    ASSERT_TRUE(com.WaitBytes(4096, 5000));
    ASSERT_EQ(com.Open(second.path().c_str(), 1200), SERIAL_OPEN_OK);
    com.Clear();  // from here on only the new port's bytes may arrive
    const std::vector<uint8_t> fresh(300, 0xB2);
    second.Write(fresh);
    EXPECT_TRUE(com.WaitBytes(fresh.size(), 2000));
    flooding = false;
    flood.join();
    EXPECT_EQ(com.Bytes(), fresh);
    EXPECT_EQ(second.TerminalSpeed(), 1200);
    RecordingCom other;
    EXPECT_EQ(other.Open(peer.path().c_str(), 9600), SERIAL_OPEN_OK) << "old port still held";
}

TEST_F(SerialPosixTest, AnUnpluggedDeviceNeitherSpinsNorHangsAndIsReportedOnce)
{
    ASSERT_EQ(com.Open(peer.path().c_str(), 9600), SERIAL_OPEN_OK);
    peer.HangUp();
    ASSERT_TRUE(com.WaitStalls(1, 5000)) << "no stall notice";
    const long cpuBefore = ProcessCpuMs();
    const auto windowStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // the window we measure
    const long cpuMs = ProcessCpuMs() - cpuBefore;
    const long wallMs = ElapsedMs(windowStart);
    std::printf("unplugged: %ld ms of CPU in %ld ms\n", static_cast<long>(cpuMs),
                static_cast<long>(wallMs));
    EXPECT_LT(cpuMs * 10, wallMs) << "reader used " << cpuMs << " ms of CPU in " << wallMs << " ms";
    EXPECT_EQ(com.Stalls(), 1) << "the stall is reported once per outage";

    const auto start = Clock::now();
    EXPECT_EQ(com.Close(), 1);
    EXPECT_LT(ElapsedMs(start), 1000);

    klpsim::Pty replacement;
    ASSERT_TRUE(replacement.Create());
    ASSERT_EQ(com.Open(replacement.path().c_str(), 9600), SERIAL_OPEN_OK);
    const std::vector<uint8_t> hello = {0xFB, 0x01, 0xF6};
    replacement.Write(hello);
    ASSERT_TRUE(com.WaitBytes(hello.size(), 2000));
    EXPECT_EQ(com.Bytes(), hello);
}

// Lines RTS and DTR, as the preloaded harness library records them.
class SerialModemLinesTest : public SerialPosixTest {
protected:
    void SetUp() override
    {
        if (dlsym(RTLD_DEFAULT, "klp_ptyshim_loaded") == nullptr)
            GTEST_SKIP() << "modem-line record needs the harness library preloaded";
        SerialPosixTest::SetUp();
        logPath = "/tmp/klp-modem-" + std::to_string(getpid()) + ".log";
        unlink(logPath.c_str());
        setenv("KLP_MODEM_LOG", logPath.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("KLP_MODEM_LOG");
        unlink(logPath.c_str());
    }

    std::string logPath;
};

TEST_F(SerialModemLinesTest, OpenRaisesBothLinesAndCloseDropsRtsThenDtr)
{
    ASSERT_EQ(com.Open(peer.path().c_str(), 9600), SERIAL_OPEN_OK);
    com.Close();
    com.Close();  // touches nothing
    const std::vector<ModemChange> expected = {
        {0, peer.path(), "DTR", 1}, {0, peer.path(), "RTS", 1},
        {0, peer.path(), "RTS", 0}, {0, peer.path(), "DTR", 0},
    };
    EXPECT_EQ(ChangesOf(ReadModemLog(logPath), peer.path()), expected);
}

TEST_F(SerialModemLinesTest, ReopeningDropsTheOldPortsLinesBeforeRaisingTheNewOnes)
{
    klpsim::Pty second;
    ASSERT_TRUE(second.Create());
    ASSERT_EQ(com.Open(peer.path().c_str(), 9600), SERIAL_OPEN_OK);
    ASSERT_EQ(com.Open(second.path().c_str(), 19200), SERIAL_OPEN_OK);
    const std::vector<ModemChange> all = ReadModemLog(logPath);
    const std::vector<ModemChange> expected = {
        {0, peer.path(), "DTR", 1},   {0, peer.path(), "RTS", 1},
        {0, peer.path(), "RTS", 0},   {0, peer.path(), "DTR", 0},
        {0, second.path(), "DTR", 1}, {0, second.path(), "RTS", 1},
    };
    EXPECT_EQ(all, expected);
}

}  // namespace
