// CSerialCom's half on POSIX terminals: raw 8-N-1 through termios, a reader thread asleep in
// poll(). Used by the native build, the virtual unit and the native tests.
#include "serial/serial_com.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <thread>
#include <utility>

#include "serial/raw_line_posix.h"
#include "serial/reader_backoff.h"

namespace {

constexpr uint32_t kChunkSize = CSerialCom::kChunkSize;

struct BaudCode {
    int16_t baud;
    speed_t code;
};

// The rates a terminal takes by name; any other rate is refused like a bad line setting.
const BaudCode kBaudCodes[] = {
    {50, B50},     {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},   {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200},
};

bool BaudToCode(int16_t baud, speed_t *code)
{
    for (const BaudCode &b : kBaudCodes) {
        if (b.baud == baud) {
            *code = b.code;
            return true;
        }
    }
    return false;
}

// Raises or drops one modem-control line. Pseudo-terminals refuse these; like
// EscapeCommFunction's result, the outcome is not used.
void SetModemLine(int fd, int line, bool on)
{
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

uint32_t NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(ts.tv_sec * 1000u + ts.tv_nsec / 1000000);
}

}  // namespace

// Every flag word is assigned whole rather than edited: whatever a previous program left
// (parity, two stop bits, 7 bits, flow control, line editing, CR/LF translation) goes.
bool MakeRawLine(termios *tio, int16_t baud)
{
    speed_t code;
    if (!BaudToCode(baud, &code))
        return false;
    termios raw = *tio;  // keeps what is no setting of ours (the line discipline, say)
    raw.c_iflag = IGNBRK;  // a break reads nothing, as on Windows, rather than a 0x00 byte
    raw.c_oflag = 0;
    raw.c_lflag = 0;
    // HUPCL: should the program die, the last close still drops DTR and RTS.
    raw.c_cflag = CS8 | CREAD | CLOCAL | HUPCL;
    raw.c_cc[VMIN] = 0;  // a read returns at once with whatever has arrived, possibly nothing
    raw.c_cc[VTIME] = 0;
    if (cfsetispeed(&raw, code) != 0 || cfsetospeed(&raw, code) != 0)
        return false;
    *tio = raw;
    return true;
}

struct CSerialCom::Reader {
    int fd = -1;
    int wake[2] = {-1, -1};  // Close writes a byte to wake[1]; the reader polls wake[0]
    uint32_t writeMsPerByte = 1;
    std::atomic<int> stop{0};
    std::mutex writeLock;    // keeps each Write whole when both threads send at once
    std::thread thread;
    std::mutex doneLock;
    std::condition_variable doneSignal;
    bool done = false;
    uint8_t buffer[kChunkSize];

    ~Reader()
    {
        // The last holder releases the device: Close normally, a reader left behind otherwise.
        if (fd >= 0) {
            // A terminal that outlives this open (a pty whose master stays, as the virtual
            // unit's does) would otherwise stay closed to everyone but root.
            ioctl(fd, TIOCNXCL);
            close(fd);
        }
        if (wake[0] >= 0)
            close(wake[0]);
        if (wake[1] >= 0)
            close(wake[1]);
    }

    void Wake()
    {
        const char b = 1;
        ssize_t ignored = write(wake[1], &b, 1);
        (void)ignored;  // a full pipe already wakes the reader
    }

    // Sleeps up to ms, or until Close wakes the reader.
    void Pause(uint32_t ms)
    {
        pollfd p = {wake[0], POLLIN, 0};
        poll(&p, 1, static_cast<int>(ms));
    }

    void MarkDone()
    {
        std::lock_guard<std::mutex> lock(doneLock);
        done = true;
        doneSignal.notify_all();
    }

    bool WaitDone(uint32_t limitMs)
    {
        std::unique_lock<std::mutex> lock(doneLock);
        return doneSignal.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return done; });
    }
};

namespace {

// Opens the device exclusively: another holder makes this fail, and so does a second open here.
int OpenExclusive(const char *portName)
{
    const int fd = open(portName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;  // EWOULDBLOCK: another holder
        close(fd);
        errno = why;
        return -1;
    }
    // Keeps out programs that take no lock (root alone may still pass); the last holder
    // gives it up again.
    ioctl(fd, TIOCEXCL);
    return fd;
}

// Applies the line on an opened device: kSerialOpenOk, or the step that failed with errno
// set as it left it.
int16_t ConfigureLine(int fd, int16_t baud)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return kSerialOpenTimeoutsFailed;  // not a terminal: no read timing to set
    if (!MakeRawLine(&tio, baud)) {
        errno = EINVAL;  // a rate the terminal has no name for
        return kSerialOpenLineFailed;
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        return kSerialOpenLineFailed;
    SetModemLine(fd, TIOCM_DTR, true);
    SetModemLine(fd, TIOCM_RTS, false);
    return kSerialOpenOk;
}

}  // namespace

namespace {

// Reads until nothing is left, handing each chunk on, so no byte waits for a further event.
// Returns false when the device failed or hung up.
template <typename Deliver>
bool Drain(int fd, uint8_t *buffer, const std::atomic<int> &stop, bool *delivered, Deliver deliver)
{
    for (;;) {
        if (stop.load())
            return true;
        const ssize_t n = read(fd, buffer, kChunkSize);
        if (n > 0) {
            *delivered = true;
            deliver(static_cast<uint32_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Nothing more (a raw terminal reads 0 at once, or EAGAIN): a clean end. A hang-up
        // also reads 0; poll() has told the caller about that.
        return n == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

}  // namespace

// The reader thread of one open. It touches the object only to hand on bytes and the stall
// notice, and never once its open's stop flag is set.
void CSerialCom::ReaderThread(CSerialCom *owner, std::shared_ptr<Reader> r)
{
    ReaderBackoff backoff;
    while (!r->stop.load()) {
        pollfd fds[2] = {{r->fd, POLLIN, 0}, {r->wake[0], POLLIN, 0}};
        const int n = poll(fds, 2, -1);
        if (r->stop.load())
            break;
        if (n < 0 && errno == EINTR)
            continue;
        ReaderPass pass;
        pass.waitFailed = n < 0;
        const bool hangup = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (pass.waitFailed || (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            const bool clean = Drain(r->fd, r->buffer, r->stop, &pass.delivered,
                                     [&](uint32_t count) { owner->OnReceive(r->buffer, count); });
            pass.readFailed = !clean || hangup;
        } else if (hangup) {
            pass.readFailed = true;
        }
        const ReaderStep step = backoff.AfterPass(pass);
        if (step.reportStall && !r->stop.load())
            owner->OnPortStalled();
        if (step.pauseMs > 0 && !r->stop.load())
            r->Pause(step.pauseMs);
    }
    r->MarkDone();
}

int CSerialCom::NoNameError() { return EINVAL; }

int16_t CSerialCom::OpenDevice(const char *portName, int16_t baud, std::shared_ptr<Reader> *reader,
                               int *error)
{
    auto r = std::make_shared<Reader>();
    r->fd = OpenExclusive(portName);
    *error = errno;  // each failing step leaves its reason; r's close must not change it
    if (r->fd < 0)
        return kSerialOpenDeviceFailed;
    const int16_t line = ConfigureLine(r->fd, baud);
    *error = errno;
    if (line != kSerialOpenOk)
        return line;  // r closes the device
    r->writeMsPerByte = WriteMsPerByte(baud);  // the line took the rate: >= 1
    if (pipe2(r->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = errno;
        return kSerialOpenThreadFailed;
    }
    *reader = std::move(r);
    return kSerialOpenOk;
}

void *CSerialCom::StartReader(CSerialCom *owner, const std::shared_ptr<Reader> &r, int *error)
{
    try {
        r->thread = std::thread(ReaderThread, owner, r);
    } catch (const std::system_error &e) {
        *error = e.code().value();
        return nullptr;
    }
    return &r->thread;
}

intptr_t CSerialCom::DeviceOf(const Reader &r) { return r.fd; }

void CSerialCom::SetRts(Reader &r, bool on) { SetModemLine(r.fd, TIOCM_RTS, on); }

void CSerialCom::SetDtr(Reader &r, bool on) { SetModemLine(r.fd, TIOCM_DTR, on); }

void CSerialCom::WakeReader(Reader &r)
{
    r.stop = 1;
    r.Wake();
}

bool CSerialCom::OnReaderThread(Reader &r, void *)
{
    return std::this_thread::get_id() == r.thread.get_id();
}

bool CSerialCom::AwaitReader(Reader &r, void *, uint32_t limitMs) { return r.WaitDone(limitMs); }

void CSerialCom::ReleaseReader(Reader &r, void *, bool ended)
{
    if (ended)
        r.thread.join();
    else
        r.thread.detach();  // it holds its own reference and ends on its own
}

uint32_t CSerialCom::WriteDevice(Reader &r, const uint8_t *bytes, uint32_t count)
{
    std::lock_guard<std::mutex> lock(r.writeLock);
    const uint32_t start = NowMs();
    const uint32_t limit = kWriteConstantMs + count * r.writeMsPerByte;
    uint32_t written = 0;
    while (written < count) {
        const ssize_t n = write(r.fd, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        const uint32_t spent = NowMs() - start;
        if (spent >= limit)
            break;  // timed out: report what went out
        pollfd p = {r.fd, POLLOUT, 0};
        poll(&p, 1, static_cast<int>(limit - spent));
    }
    return written;
}
