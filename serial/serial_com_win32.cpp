// CSerialCom's half on Windows: an exclusive overlapped COM handle and a reader thread asleep
// in a read (Wine) or in WaitCommEvent (Windows), handing each chunk it receives to OnReceive.
#include <windows.h>

#include <memory>
#include <utility>

#include "serial/reader_backoff.h"
#include "serial/serial_com.h"

namespace {

constexpr DWORD kChunkSize = CSerialCom::kChunkSize;
constexpr DWORD kReadConstantMs = 100;     // replaced by the reader thread as it starts
constexpr DWORD kPendingReadMs = 50;     // a read that should have come back at once
constexpr DWORD kHealthCheckMs = 500;    // an idle wait looks at the device this often
constexpr DWORD kEndWaitMs = 1000;       // a wait ended by the mask completes well within this
constexpr DWORD kLineEvents = EV_RXCHAR | EV_BREAK | EV_ERR;  // 0x00C1

// Waits for a thread to end, at most limitMs, while serving the messages other threads send
// to this thread's windows. The reader thread may be inside OnReceive waiting for this very
// thread (log lines and counters are SendMessage()d to the user-interface thread); serving
// them lets it finish its chunk and see the stop flag. Posted messages stay queued. True when
// the thread ended.
bool WaitServingSentMessages(HANDLE thread, DWORD limitMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        const DWORD spent = GetTickCount() - start;
        if (spent >= limitMs)
            return false;
        const DWORD w = MsgWaitForMultipleObjects(1, &thread, FALSE, limitMs - spent, QS_SENDMESSAGE);
        if (w != WAIT_OBJECT_0 + 1)
            return w == WAIT_OBJECT_0;  // the thread ended, the time is up, or the wait failed
    }
}

}  // namespace

struct CSerialCom::Reader {
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE stopEvent = nullptr;  // set by Close: cuts short a pending wait or a back-off pause
    std::atomic<int> stop{0};
    SRWLOCK writeLock = SRWLOCK_INIT;  // keeps each Write whole when both threads send at once
    uint8_t buffer[kChunkSize];

    ~Reader()
    {
        // The last holder releases the device: Close normally, a reader left behind otherwise.
        if (port != INVALID_HANDLE_VALUE)
            CloseHandle(port);
        if (stopEvent != nullptr)
            CloseHandle(stopEvent);
    }
};

namespace {

// Ends a wait of this thread's that is still pending: changing the mask completes it
// whatever mask it was issued with (Wine cancels one issued after the mask was cleared only
// this way), and the record must not be reused or freed before it has completed.
void EndPendingWait(HANDLE port, OVERLAPPED *ov)
{
    SetCommMask(port, 0);
    if (WaitForSingleObject(ov->hEvent, kEndWaitMs) != WAIT_OBJECT_0)
        CancelIo(port);
    DWORD unused = 0;
    GetOverlappedResult(port, ov, &unused, TRUE);
}

// Whether the device still answers requests. A hung-up or removed device may still report
// an empty queue (Wine's does) but can no longer report its line settings.
bool DeviceAnswers(HANDLE port)
{
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    return ClearCommError(port, nullptr, nullptr) && GetCommState(port, &dcb);
}

enum class Pending {
    kDone,     // the request completed
    kSilent,   // the device stopped answering; the request was ended
    kStopped,  // Close asked the reader to stop; the request was ended
};

// Waits for a pending request of this thread's, checking now and then that the device still
// answers: some drivers (Wine's on a hung-up terminal) never end a request on a device that
// has gone away. end() ends a request that is given up.
template <typename End>
Pending AwaitRequest(HANDLE port, HANDLE stopEvent, OVERLAPPED *ov, End end)
{
    HANDLE both[2] = {ov->hEvent, stopEvent};
    for (;;) {
        const DWORD w = WaitForMultipleObjects(2, both, FALSE, kHealthCheckMs);
        if (w == WAIT_OBJECT_0)
            return Pending::kDone;
        if (w == WAIT_TIMEOUT && DeviceAnswers(port))
            continue;  // an idle line on a healthy device: wait on
        end();
        return w == WAIT_OBJECT_0 + 1 ? Pending::kStopped : Pending::kSilent;
    }
}

enum class LineWait {
    kEvent,   // the events are in the mask variable (none when Close cleared the mask)
    kFailed,  // the wait failed: the driver cannot wait, or the device is gone
    kSilent,  // the device stopped answering while the wait was pending; the mask is cleared
    kStopped, // Close asked the reader to stop
};

// Waits for a line event: the reader's sleep on a quiet line where reads come back at once.
LineWait WaitForLineEvent(HANDLE port, HANDLE stopEvent, OVERLAPPED *ov, DWORD *events)
{
    *events = 0;
    ResetEvent(ov->hEvent);
    if (WaitCommEvent(port, events, ov))
        return LineWait::kEvent;
    if (GetLastError() != ERROR_IO_PENDING)
        return LineWait::kFailed;
    switch (AwaitRequest(port, stopEvent, ov, [&] { EndPendingWait(port, ov); })) {
    case Pending::kStopped:
        return LineWait::kStopped;
    case Pending::kSilent:
        return LineWait::kSilent;
    case Pending::kDone:
        break;
    }
    DWORD unused = 0;
    return GetOverlappedResult(port, ov, &unused, FALSE) ? LineWait::kEvent : LineWait::kFailed;
}

enum class Arrived {
    kBytes,    // bytes were read (also when the read was ended, if it had completed by then)
    kNothing,  // the driver answered at once: nothing has arrived
    kFailed,   // the read failed
    kSilent,   // the device stopped answering while the read was pending
    kStopped,  // Close asked the reader to stop
};

// Reads what has arrived, up to a chunk. Windows answers at once, with nothing on a quiet
// line, and the reader then waits for a line event. Wine keeps the read pending until bytes
// come, so there the read is the wait: each WaitCommEvent that Wine cannot answer at once
// costs it a thread that exits without freeing 352 bytes of the process heap.
Arrived ReadArrived(HANDLE port, HANDLE stopEvent, uint8_t *buffer, OVERLAPPED *ov, DWORD *got)
{
    *got = 0;
    ResetEvent(ov->hEvent);
    if (!ReadFile(port, buffer, kChunkSize, nullptr, ov)) {
        if (GetLastError() != ERROR_IO_PENDING)
            return Arrived::kFailed;
        auto end = [&] {
            CancelIo(port);
            GetOverlappedResult(port, ov, got, TRUE);  // what came before the cancel counts
        };
        const Pending pending = AwaitRequest(port, stopEvent, ov, end);
        if (pending != Pending::kDone) {
            if (*got > 0)
                return Arrived::kBytes;  // it completed as it was ended
            return pending == Pending::kStopped ? Arrived::kStopped : Arrived::kSilent;
        }
    }
    if (!GetOverlappedResult(port, ov, got, FALSE))
        return Arrived::kFailed;
    return *got > 0 ? Arrived::kBytes : Arrived::kNothing;
}

// Reads up to want bytes of what has arrived; false when the read failed. A read that does
// not come back at once (Wine keeps a read of an empty queue pending in spite of the
// time-outs) is given a moment, then cancelled; what it got by then still counts.
bool ReadChunk(HANDLE port, HANDLE stopEvent, uint8_t *buffer, DWORD want, OVERLAPPED *ov,
               DWORD *got)
{
    *got = 0;
    ResetEvent(ov->hEvent);
    if (ReadFile(port, buffer, want, got, ov))
        return true;
    if (GetLastError() != ERROR_IO_PENDING)
        return false;
    HANDLE both[2] = {ov->hEvent, stopEvent};
    if (WaitForMultipleObjects(2, both, FALSE, kPendingReadMs) != WAIT_OBJECT_0)
        CancelIo(port);
    if (GetOverlappedResult(port, ov, got, TRUE))
        return true;
    return GetLastError() == ERROR_OPERATION_ABORTED;  // cancelled: nothing had arrived
}

// Reads until nothing is left, handing each chunk on, so no byte waits for a further event.
// The input queue's count says how much to read; a driver that cannot tell is read blindly.
// Returns false when the device failed.
template <typename Deliver>
bool Drain(HANDLE port, HANDLE stopEvent, uint8_t *buffer, const std::atomic<int> &stop,
           OVERLAPPED *ov, bool *delivered, Deliver deliver)
{
    while (!stop.load()) {
        COMSTAT stat = {};
        DWORD errors = 0;
        const bool counted = ClearCommError(port, &errors, &stat) != FALSE;
        if (counted && stat.cbInQue == 0)
            return true;  // nothing waiting: the end of the drain, as a read of nothing
        const DWORD want = counted && stat.cbInQue < kChunkSize ? stat.cbInQue : kChunkSize;
        DWORD got = 0;
        if (!ReadChunk(port, stopEvent, buffer, want, ov, &got))
            return false;
        if (got == 0)
            return counted;  // a device that cannot count and reads nothing is not answering
        *delivered = true;
        deliver(got);
    }
    return true;
}

// Reads return at once with whatever has arrived; the write time-outs stay as Open set them.
void SetReadsImmediate(HANDLE port)
{
    COMMTIMEOUTS t = {};
    GetCommTimeouts(port, &t);
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 0;
    SetCommTimeouts(port, &t);
}

}  // namespace

// The reader thread of one open. It touches the object only to hand on bytes and the stall
// notice; once its open's stop flag is set, only to hand on bytes it has already read (Close
// waits for it).
void CSerialCom::ReaderThread(CSerialCom *owner, std::shared_ptr<Reader> r)
{
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (ov.hEvent == nullptr)
        return;
    SetReadsImmediate(r->port);
    SetCommMask(r->port, kLineEvents);
    ReaderBackoff backoff;
    DWORD events = 0;
    auto deliver = [&](DWORD got) { owner->OnReceive(r->buffer, got); };
    while (!r->stop.load()) {
        ReaderPass pass;
        DWORD got = 0;
        const Arrived arrived = ReadArrived(r->port, r->stopEvent, r->buffer, &ov, &got);
        bool drain = arrived == Arrived::kBytes;
        if (drain) {
            // Read bytes have left the device: handed on even as Close begins, or a reopen
            // would never see them.
            pass.delivered = true;
            deliver(got);
        }
        if (r->stop.load() || arrived == Arrived::kStopped)
            break;
        if (arrived == Arrived::kNothing) {
            const LineWait wait = WaitForLineEvent(r->port, r->stopEvent, &ov, &events);
            if (r->stop.load() || wait == LineWait::kStopped)
                break;
            pass.waitFailed = wait != LineWait::kEvent;
            if (wait == LineWait::kSilent) {
                pass.readFailed = true;
                SetCommMask(r->port, kLineEvents);  // cleared to end the wait; arm it again
            }
            // A failed wait says nothing about what arrived: drain anyway, so a driver that
            // cannot wait for events strands no bytes.
            drain = pass.waitFailed || (events & EV_RXCHAR);
        } else if (arrived != Arrived::kBytes) {
            pass.readFailed = true;
        }
        // Line errors are cleared after every wake-up and not reported; a device that cannot
        // even say that much is gone.
        const bool deviceAnswers = ClearCommError(r->port, nullptr, nullptr) != FALSE;
        if (drain && !Drain(r->port, r->stopEvent, r->buffer, r->stop, &ov, &pass.delivered, deliver))
            pass.readFailed = true;
        if (!deviceAnswers)
            pass.readFailed = true;
        const ReaderStep step = backoff.AfterPass(pass);
        if (step.reportStall && !r->stop.load())
            owner->OnPortStalled();
        if (step.pauseMs > 0 && !r->stop.load())
            WaitForSingleObject(r->stopEvent, step.pauseMs);
    }
    CloseHandle(ov.hEvent);
}

int CSerialCom::NoNameError() { return ERROR_INVALID_NAME; }

int16_t CSerialCom::OpenDevice(const char *portName, int16_t baud, std::shared_ptr<Reader> *reader,
                               int *error)
{
    // Each failing step leaves its reason: the error is taken before r closes the handle.
    auto r = std::make_shared<Reader>();
    r->port = CreateFileA(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    *error = static_cast<int>(GetLastError());
    if (r->port == INVALID_HANDLE_VALUE)
        return kSerialOpenDeviceFailed;

    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kReadConstantMs;
    // A rate below 1 cannot divide (and the line refuses it just below).
    timeouts.WriteTotalTimeoutMultiplier = WriteMsPerByte(baud);
    timeouts.WriteTotalTimeoutConstant = kWriteConstantMs;
    if (!SetCommTimeouts(r->port, &timeouts)) {
        *error = static_cast<int>(GetLastError());
        return kSerialOpenTimeoutsFailed;  // r closes the handle
    }

    // Built from zero, not from the port's state: flags 0x11 are fBinary and DTR enabled.
    DCB dcb = {};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = static_cast<DWORD>(static_cast<int32_t>(baud));
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(r->port, &dcb)) {
        *error = static_cast<int>(GetLastError());
        return kSerialOpenLineFailed;
    }

    r->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (r->stopEvent == nullptr) {
        *error = static_cast<int>(GetLastError());
        return kSerialOpenThreadFailed;
    }
    *reader = std::move(r);
    return kSerialOpenOk;
}

void *CSerialCom::StartReader(CSerialCom *owner, const std::shared_ptr<Reader> &r, int *error)
{
    using Start = std::pair<CSerialCom *, std::shared_ptr<Reader>>;
    auto *start = new Start(owner, r);
    LPTHREAD_START_ROUTINE entry = [](LPVOID arg) -> DWORD {
        std::unique_ptr<Start> s(static_cast<Start *>(arg));
        try {
            ReaderThread(s->first, std::move(s->second));
        } catch (...) {
            // Nothing may leave a thread; the open ends as if the device went quiet.
        }
        return 0;
    };
    HANDLE thread = CreateThread(nullptr, 0, entry, start, 0, nullptr);
    if (thread == nullptr) {
        *error = static_cast<int>(GetLastError());
        delete start;
    }
    return thread;
}

intptr_t CSerialCom::DeviceOf(const Reader &r) { return reinterpret_cast<intptr_t>(r.port); }

void CSerialCom::SetRts(Reader &r, bool on) { EscapeCommFunction(r.port, on ? SETRTS : CLRRTS); }

void CSerialCom::SetDtr(Reader &r, bool on) { EscapeCommFunction(r.port, on ? SETDTR : CLRDTR); }

void CSerialCom::WakeReader(Reader &r)
{
    // Flag first, then the mask, so a woken reader always sees the flag; the stop event also
    // ends a wait the mask cannot reach.
    r.stop = 1;
    SetCommMask(r.port, 0);
    SetEvent(r.stopEvent);
}

bool CSerialCom::OnReaderThread(Reader &, void *thread)
{
    return GetThreadId(static_cast<HANDLE>(thread)) == GetCurrentThreadId();
}

bool CSerialCom::AwaitReader(Reader &, void *thread, uint32_t limitMs)
{
    return WaitServingSentMessages(static_cast<HANDLE>(thread), limitMs);
}

void CSerialCom::ReleaseReader(Reader &, void *thread, bool)
{
    CloseHandle(static_cast<HANDLE>(thread));  // a thread left behind holds its own reference
}

uint32_t CSerialCom::WriteDevice(Reader &r, const uint8_t *bytes, uint32_t count)
{
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (ov.hEvent == nullptr)
        return 0;
    AcquireSRWLockExclusive(&r.writeLock);
    DWORD written = 0;
    if (!WriteFile(r.port, bytes, count, &written, &ov)) {
        // Completed, timed out or failed part-way, the record counts what went out, and that
        // is the result, as on POSIX. Refused at once, nothing went out.
        if (GetLastError() == ERROR_IO_PENDING)
            GetOverlappedResult(r.port, &ov, &written, TRUE);
        else
            written = 0;
    }
    ReleaseSRWLockExclusive(&r.writeLock);
    CloseHandle(ov.hEvent);
    return written;
}
