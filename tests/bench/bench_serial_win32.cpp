// Receive throughput of CSerialCom and the receive decoder under Wine, and CPU use while the
// line is idle. Google Benchmark is not built for Windows here, so this is a plain program:
//   tools/wine/wine-session tools/wine/with-com-pty --shim tools/wine/ptyshim.c COM5=COM6 --
//     tools/wine/wine-exec build/windows/tests/serial/bench_serial_win32.exe
// (one command line).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "app/sheet_events.h"
#include "comms/page/comms_dlg.h"
#include "genisys/genisys_protocol.h"
#include "tests/support/win32_helpers.h"

namespace {

constexpr double kLineBytesPerSecond = 1920.0;  // 19200 baud, 10 bits a byte

class CountingLink : public CGenisysProtocol {
public:
    CountingLink() : CGenisysProtocol(&theSheetEvents) {}  // lines go to the program's log
    ~CountingLink() override { Close(); }
    void OnReceive(const uint8_t *bytes, uint32_t count) override
    {
        CGenisysProtocol::OnReceive(bytes, count);
        received += count;
    }
    std::atomic<uint64_t> received{0};
};

// Secure polls and indications with data: ordinary traffic for the decoder.
std::vector<uint8_t> TrafficBlock(size_t size)
{
    std::vector<uint8_t> block;
    uint8_t frame[genisys::MaxWireLength(4)];
    for (uint8_t i = 0; block.size() < size; ++i) {
        const uint8_t data[4] = {i, static_cast<uint8_t>(i * 3), 0x55, static_cast<uint8_t>(~i)};
        const size_t n = (i & 1) ? genisys::EncodeFrame(0xF2, 5, data, 4, genisys::SEND_CRC, frame)
                                 : genisys::EncodeFrame(0xFB, 5, nullptr, 0, genisys::SEND_CRC, frame);
        block.insert(block.end(), frame, frame + n);
    }
    return block;
}

}  // namespace

int main()
{
    CountingLink link;
    HANDLE peer = CreateFileA("COM6", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (peer == INVALID_HANDLE_VALUE || link.Open("COM5", 19200) != 1) {
        std::fprintf(stderr, "bench_serial_win32: COM5 and COM6 must be a cable (with-com-pty)\n");
        return 1;
    }
    auto idle = [](const char *when) {
        const ULONGLONG cpuBefore = win32test::ProcessCpuMs();
        Sleep(2000);
        std::printf("idle %s: %.1f %% CPU over 2 s\n", when, (win32test::ProcessCpuMs() - cpuBefore) / 20.0);
    };
    idle("before traffic");
    const std::vector<uint8_t> block = TrafficBlock(64 * 1024);
    const int blocks = 64;
    const DWORD start = GetTickCount();
    for (int i = 0; i < blocks; ++i) {
        DWORD done = 0;
        WriteFile(peer, block.data(), static_cast<DWORD>(block.size()), &done, nullptr);
    }
    const uint64_t total = static_cast<uint64_t>(blocks) * block.size();
    while (link.received.load() < total && GetTickCount() - start < 60000)
        Sleep(1);
    const double seconds = (GetTickCount() - start) / 1000.0;
    const double rate = link.received.load() / (seconds > 0 ? seconds : 0.001);
    std::printf("received %llu of %llu bytes in %.2f s: %.0f bytes/s, %.0f x 19200 baud\n",
                static_cast<unsigned long long>(link.received.load()),
                static_cast<unsigned long long>(total), seconds, rate, rate / kLineBytesPerSecond);

    idle("after traffic");
    CloseHandle(peer);
    return link.received.load() == total ? 0 : 1;
}
