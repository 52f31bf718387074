// CSerialCom on Windows, run under Wine against pseudo-terminals wired up by
// tools/wine/with-com-pty: COM5<->COM6 and COM7<->COM8 are null-modem cables, COM9<->COM10 a
// cable whose COM9 side COM11 can unplug. The far end of serial_cases.cpp is COM6, COM8 or
// COM10; the cases here are Windows' own (a closing thread that serves its windows, the heap).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/serial/serial_far_end.h"
#include "tests/support/win32_helpers.h"

namespace {

// Each cable's port and far end, as Cable numbers them. Ports above 9 take the device
// namespace prefix, as the Comms page lists them.
const char *const kCables[][2] = {{"COM5", "COM6"}, {"COM7", "COM8"}, {"COM9", "\\\\.\\COM10"}};
const char kControl[] = "\\\\.\\COM11";

HANDLE OpenPlain(const char *name)
{
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Leaves a port as another program might: another rate, 7 bits, parity, two stop bits,
// hardware and software flow control with the usual characters.
bool LeaveForeignState(const char *name)
{
    HANDLE h = OpenPlain(name);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 300;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutxCtsFlow = 1;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.EofChar = 0x1A;
    const bool set = SetCommState(h, &dcb) != FALSE;
    CloseHandle(h);
    return set;
}

// One of the harness's cables, its far end a plain blocking COM handle. The far end of the
// unpluggable one opens at its first use, after the port: a fresh device takes the place of
// an unplugged one only once the port is open again.
class CableFarEnd : public FarEnd {
public:
    CableFarEnd(const char *port, const char *peer, bool openNow) : m_port(port), m_peer(peer)
    {
        if (openNow)
            Far();
    }
    ~CableFarEnd() override { StopWriting(); }
    bool ok() const { return !m_opened || m_h != INVALID_HANDLE_VALUE; }
    std::string Port() const override { return m_port; }

    size_t Write(const Bytes &bytes, int timeoutMs) override
    {
        const HANDLE h = Far();
        if (static_cast<DWORD>(timeoutMs) != m_writeMs) {
            m_writeMs = static_cast<DWORD>(timeoutMs);
            COMMTIMEOUTS t = {MAXDWORD, MAXDWORD, 100, 0, m_writeMs};  // reads wait up to 100 ms
            SetCommTimeouts(h, &t);
        }
        DWORD done = 0;
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
        return done;
    }

    Bytes ReadExactly(size_t count, int timeoutMs) override
    {
        const HANDLE h = Far();
        Bytes out;
        uint8_t buf[4096];
        const DWORD start = GetTickCount();
        while (out.size() < count && GetTickCount() - start < DWORD(timeoutMs)) {
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min(sizeof buf, count - out.size()));
            if (!ReadFile(h, buf, want, &got, nullptr))
                break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

    // Asks the port through a handle of its own.
    bool WaitQueued(size_t count, int timeoutMs) override
    {
        COMSTAT stat = {};
        for (DWORD start = GetTickCount(); GetTickCount() - start < DWORD(timeoutMs); Sleep(5)) {
            const HANDLE h = OpenPlain(m_port);
            ClearCommError(h, nullptr, &stat);
            CloseHandle(h);
            if (stat.cbInQue >= count)
                break;
        }
        return stat.cbInQue == count;
    }
    bool LeaveForeignState() override { return ::LeaveForeignState(m_port); }

    void ExpectLineSetUp(RecordingCom &com, int16_t baud) override
    {
        // A byte through the port shows the reader runs, so it has set its read time-outs.
        com.Clear();
        Write(Bytes{0x5A}, 5000);
        ASSERT_TRUE(com.WaitBytes(1, 3000)) << baud;
        const HANDLE port = reinterpret_cast<HANDLE>(com.PortHandle());

        COMMTIMEOUTS t = {};
        ASSERT_TRUE(GetCommTimeouts(port, &t)) << baud;
        EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD) << baud;
        EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u) << baud;
        EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u) << baud;
        EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 1u) << baud << ": 1 ms a byte at every rate offered";
        EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u) << baud;

        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(port, &dcb)) << baud;
        // A pseudo-terminal keeps 8 bits without parity whatever it is told, so these two
        // can only fail on a real port.
        EXPECT_EQ(dcb.ByteSize, 8) << baud;
        EXPECT_EQ(dcb.Parity, NOPARITY) << baud;
        EXPECT_EQ(dcb.StopBits, ONESTOPBIT) << baud;
        EXPECT_EQ(dcb.fOutxCtsFlow, 0u) << baud;
        EXPECT_EQ(dcb.fOutX, 0u) << baud;
        EXPECT_EQ(dcb.fInX, 0u) << baud;
        EXPECT_EQ(dcb.XonChar, 0) << baud;
        EXPECT_EQ(dcb.XoffChar, 0) << baud;
        EXPECT_EQ(dcb.EofChar, 0) << baud;
        EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE)) << baud;
        // Not compared, as Wine cannot report them: fBinary and fParity (always 1 and 0), the
        // DSR, XOFF-continue, error-character, null and abort flags (termios has none), XonLim,
        // XoffLim, ErrorChar and EvtChar (fixed). fDtrControl and fRtsControl read back as the
        // line levels: RTS_CONTROL_DISABLE looks like ENABLE, as Open raises RTS right after.
    }

    int LineRate(RecordingCom &com) override
    {
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        return GetCommState(reinterpret_cast<HANDLE>(com.PortHandle()), &dcb) ? int(dcb.BaudRate) : 0;
    }

    bool Unplug() override
    {
        CableFarEnd control(kControl, kControl, true);
        const std::string unplug = "Ucom9\n";
        return control.ok() && control.Write(Bytes(unplug.begin(), unplug.end()), 2000) == unplug.size();
    }
    std::unique_ptr<FarEnd> Replacement() override
    {
        return std::make_unique<CableFarEnd>(m_port, m_peer, false);
    }
    // Closing the handle ends a write blocked on the full line.
    void StopWriting() override
    {
        if (m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE Far()
    {
        if (m_opened)
            return m_h;
        m_opened = true;
        m_h = OpenPlain(m_peer);
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = 19200;
        dcb.fBinary = 1;
        dcb.ByteSize = 8;
        SetCommState(m_h, &dcb);
        COMMTIMEOUTS t = {MAXDWORD, MAXDWORD, 100, 0, m_writeMs};  // reads wait up to 100 ms
        SetCommTimeouts(m_h, &t);
        return m_h;
    }

    const char *m_port;
    const char *m_peer;
    bool m_opened = false;
    HANDLE m_h = INVALID_HANDLE_VALUE;
    DWORD m_writeMs = 2000;
};

// Whether a port held by one handle refuses a second one here (Wine does not enforce the
// share mode on devices; Windows always does for COM ports).
bool HeldPortsRefuseOpens(const char *name)
{
    HANDLE first = OpenPlain(name);
    HANDLE second = OpenPlain(name);
    const bool refused = first != INVALID_HANDLE_VALUE && second == INVALID_HANDLE_VALUE;
    CloseHandle(first);
    if (second != INVALID_HANDLE_VALUE)
        CloseHandle(second);
    return refused;
}

}  // namespace

std::unique_ptr<FarEnd> MakeFarEnd(Cable cable)
{
    const char *const *names = kCables[static_cast<int>(cable)];
    auto end = std::make_unique<CableFarEnd>(names[0], names[1], cable != Cable::kUnpluggable);
    return end->ok() ? std::move(end) : nullptr;
}

std::vector<FailedOpen> FailingOpens(const std::string &, const std::string &held)
{
    std::vector<FailedOpen> cases = {  // not mapped to any device
        {"COM29", 9600, kSerialOpenDeviceFailed, ERROR_FILE_NOT_FOUND},
        {"\\\\.\\COM30", 9600, kSerialOpenDeviceFailed, ERROR_FILE_NOT_FOUND},
    };
    if (HeldPortsRefuseOpens(held.c_str()))
        cases.push_back({held, 9600, kSerialOpenDeviceFailed, ERROR_ACCESS_DENIED});
    else
        std::printf("note: held ports are not exclusive here; that case is left out\n");
    return cases;
}

// The harness names the record; a Unix path, seen here on drive Z:.
std::string StartModemRecord()
{
    const char *unix = std::getenv("KLP_MODEM_LOG");
    if (unix == nullptr || *unix != '/')
        return "";
    const std::string path = win32test::WindowsPath(unix);
    DeleteFileA(path.c_str());
    return path;
}

void EndModemRecord(const std::string &) {}

const long kPromptCloseMs = 1000;

long ProcessCpuMs() { return static_cast<long>(win32test::ProcessCpuMs()); }

namespace {

class SerialWin32Test : public ::testing::Test {
protected:
    RecordingCom com;
};

// The reader hands each chunk to a window of the closing thread and waits for it, as the
// message log does; Close must serve those calls rather than wait 10 s for the reader.
HWND g_window = nullptr;
std::atomic<int> g_served{0};

LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_APP) {
        ++g_served;
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

TEST_F(SerialWin32Test, CloseServesAReaderThatWaitsForTheClosingThread)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KlpSerialTestSink";
    RegisterClassA(&wc);
    g_window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               wc.hInstance, nullptr);
    ASSERT_NE(g_window, nullptr);
    g_served = 0;
    com.hook = [](const uint8_t *, uint32_t) { SendMessageA(g_window, WM_APP, 0, 0); };

    const std::unique_ptr<FarEnd> peer = MakeFarEnd(Cable::kFirst);
    ASSERT_NE(peer, nullptr);
    ASSERT_EQ(com.Open(peer->Port().c_str(), 19200), kSerialOpenOk);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const Bytes burst = Pattern(1024, 3);
        while (flooding.load())
            peer->Write(burst, 5000);
    });
    // Serve the reader's calls (bounded) until traffic is clearly flowing.
    for (DWORD start = GetTickCount(); g_served.load() < 20 && GetTickCount() - start < 10000;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    ASSERT_GE(g_served.load(), 20);
    const DWORD start = GetTickCount();
    EXPECT_EQ(com.Close(), 1);
    const DWORD closeMs = GetTickCount() - start;
    flooding = false;
    peer->StopWriting();
    flood.join();
    com.hook = nullptr;
    DestroyWindow(g_window);
    std::printf("close with the reader waiting on this thread took %lu ms\n",
                static_cast<unsigned long>(closeMs));
    EXPECT_LT(closeMs, 2000u) << "Close waited for a reader that waited for it";
}

}  // namespace

// Under Wine each WaitCommEvent that cannot be answered at once leaves 352 bytes on the
// process heap for good, and a reader that waits for a line event before each frame leaks
// that much a frame: the reader reads first, and a pending read is its wait. Frames trickle
// in one at a time, so each would need a wait of its own; the heap must not grow with them.
TEST_F(SerialWin32Test, FramesTricklingInLeaveTheProcessHeapAsItWas)
{
    struct CountingCom : CSerialCom {
        ~CountingCom() override { Close(); }
        void OnReceive(const uint8_t *, uint32_t count) override { received += count; }
        std::atomic<size_t> received{0};
    };
    auto waitFor = [](CountingCom &c, size_t n) {
        for (DWORD start = GetTickCount(); c.received.load() < n && GetTickCount() - start < 5000;)
            Sleep(5);
        return c.received.load();
    };
    const std::unique_ptr<FarEnd> peer = MakeFarEnd(Cable::kFirst);
    ASSERT_NE(peer, nullptr);
    CountingCom reader;
    ASSERT_EQ(reader.Open(peer->Port().c_str(), 19200), kSerialOpenOk);
    const Bytes poll = {0xFB, 0x05, 0xF6};
    ASSERT_EQ(peer->Write(poll), poll.size());
    // Whatever earlier tests left on the line comes first; then the reader is asleep again.
    size_t base = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(100)) {
        const size_t now = reader.received.load();
        if (now == base && now >= poll.size())
            break;
        base = now;
    }
    constexpr int kFrames = 200;
    const long long before = win32test::HeapBusy();
    for (int i = 0; i < kFrames; ++i) {
        peer->Write(poll);
        Sleep(5);  // long enough for the reader to go back to sleep
    }
    const size_t want = base + poll.size() * kFrames;
    ASSERT_EQ(waitFor(reader, want), want);
    const long long grown = win32test::HeapBusy() - before;
    EXPECT_LT(grown, 40LL * kFrames) << grown / kFrames << " bytes a frame";
}
