// What one wake-up of a serial reader leaves on the process heap under Wine: bytes trickle
// through a cable a frame at a time, so nearly every wait for them has to wait, and the
// process heap's busy bytes are compared before and after. First with plain Win32 calls
// (WaitCommEvent, then a drain), then with CSerialCom. A plain program, run by hand:
//   tools/wine/wine-session tools/wine/with-com-pty --shim tools/wine/ptyshim.c COM5=COM6 --
//     tools/wine/wine-exec build/windows/tests/serial/wine_commwait_heap.exe
// (one command line).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "serial/serial_com.h"
#include "tests/support/win32_helpers.h"

namespace {

const char kPort[] = "COM5", kPeer[] = "COM6";
constexpr int kFrames = 2000;
constexpr DWORD kFrameGapMs = 5;
const uint8_t kPoll[] = {0xFB, 0x05, 0xF6};

using win32test::HeapBusy;

// The far end: one frame every few milliseconds, from a thread of its own.
std::thread Trickle(HANDLE peer)
{
    return std::thread([peer] {
        for (int i = 0; i < kFrames; ++i) {
            DWORD done = 0;
            WriteFile(peer, kPoll, sizeof kPoll, &done, nullptr);
            Sleep(kFrameGapMs);
        }
    });
}

// Waits for line events and drains, as a reader does that sleeps in WaitCommEvent.
void PlainReader(HANDLE port, long long want, long long *pendingWaits)
{
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    uint8_t buffer[1024];
    for (long long got = 0; got < want;) {
        DWORD events = 0, n = 0;
        ResetEvent(ov.hEvent);
        if (!WaitCommEvent(port, &events, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING || WaitForSingleObject(ov.hEvent, 5000) != WAIT_OBJECT_0)
                break;
            ++*pendingWaits;
        }
        COMSTAT stat = {};
        while (ClearCommError(port, nullptr, &stat) && stat.cbInQue > 0) {
            ResetEvent(ov.hEvent);
            const DWORD ask = stat.cbInQue < sizeof buffer ? stat.cbInQue : sizeof buffer;
            if (!ReadFile(port, buffer, ask, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING)
                break;
            if (!GetOverlappedResult(port, &ov, &n, TRUE))
                break;
            got += n;
        }
    }
    CloseHandle(ov.hEvent);
}

void MeasurePlain(HANDLE peer)
{
    HANDLE port = CreateFileA(kPort, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::printf("cannot open %s\n", kPort);
        return;
    }
    COMMTIMEOUTS t = {MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(port, &t);
    SetCommMask(port, EV_RXCHAR);
    const long long before = HeapBusy();
    long long pending = 0;
    std::thread sender = Trickle(peer);
    PlainReader(port, static_cast<long long>(kFrames * sizeof kPoll), &pending);
    sender.join();
    const long long grown = HeapBusy() - before;
    std::printf("WaitCommEvent and drain: %lld of %d waits pending, heap +%lld bytes (%.0f a pending wait)\n",
                pending, kFrames, grown, pending ? static_cast<double>(grown) / pending : 0.0);
    CloseHandle(port);
}

class CountingCom : public CSerialCom {
public:
    ~CountingCom() override { Close(); }
    void OnReceive(const uint8_t *, uint32_t count) override { received += count; }
    std::atomic<long long> received{0};
};

void MeasureReader(HANDLE peer)
{
    CountingCom com;
    if (com.Open(kPort, 19200) != kSerialOpenOk) {
        std::printf("cannot open %s\n", kPort);
        return;
    }
    Sleep(200);  // the reader has started and set its time-outs
    const long long before = HeapBusy();
    std::thread sender = Trickle(peer);
    sender.join();
    const long long want = static_cast<long long>(kFrames * sizeof kPoll);
    for (DWORD start = GetTickCount(); com.received.load() < want && GetTickCount() - start < 5000;)
        Sleep(10);
    const long long grown = HeapBusy() - before;
    std::printf("CSerialCom: %lld of %lld bytes, heap %+lld bytes (%.1f a frame)\n",
                com.received.load(), want, grown, static_cast<double>(grown) / kFrames);
}

}  // namespace

int main()
{
    HANDLE peer = CreateFileA(kPeer, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (peer == INVALID_HANDLE_VALUE) {
        std::printf("cannot open %s (run inside tools/wine/with-com-pty)\n", kPeer);
        return 1;
    }
    MeasurePlain(peer);
    MeasureReader(peer);
    CloseHandle(peer);
    return 0;
}
