// The far end of a serial cable for the cases of serial_cases.cpp, one per platform: a
// pseudo-terminal's master natively (test_serial_posix.cpp), the other COM port of one of the
// harness's null-modem cables under Wine (test_serial_win32.cpp).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/serial/recording_com.h"

using Bytes = std::vector<uint8_t>;

// Bytes that never repeat within 256, from seed on.
inline Bytes Pattern(size_t n, uint8_t seed)
{
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

class FarEnd {
public:
    virtual ~FarEnd() {}
    // The name CSerialCom opens to reach this far end.
    virtual std::string Port() const = 0;
    // Writes all bytes, waiting for room up to timeoutMs in all; the count written.
    virtual size_t Write(const Bytes &bytes, int timeoutMs = 2000) = 0;
    // Reads until count bytes have come or timeoutMs has passed in all.
    virtual Bytes ReadExactly(size_t count, int timeoutMs) = 0;
    // Waits until count bytes wait unread on the port, which nobody holds.
    virtual bool WaitQueued(size_t count, int timeoutMs) = 0;
    // Leaves the port as another program might: another rate, 7 bits, parity, flow control.
    virtual bool LeaveForeignState() = 0;
    // Checks what Open set on the device beyond its rate, com having it open at baud.
    virtual void ExpectLineSetUp(RecordingCom &com, int16_t baud) = 0;
    // The rate the line holds, com having it open.
    virtual int LineRate(RecordingCom &com) = 0;
    // Pulls the cable: the port's device goes away under whoever has it open.
    virtual bool Unplug() = 0;
    // The device that takes an unplugged one's place.
    virtual std::unique_ptr<FarEnd> Replacement() = 0;
    // Ends writes blocked on a full line that nobody reads any more.
    virtual void StopWriting() = 0;
};

enum class Cable { kFirst, kSecond, kUnpluggable };
std::unique_ptr<FarEnd> MakeFarEnd(Cable cable);

// An open that must fail: the port, the rate, the step Open reports and the system's reason.
struct FailedOpen {
    std::string name;
    int16_t baud;
    int16_t result;
    int error;
};

// The opens that fail on this platform, given a port that opens and a port that another
// holder is about to open.
std::vector<FailedOpen> FailingOpens(const std::string &port, const std::string &held);

// Starts a fresh record of RTS and DTR changes by the preloaded harness library: its path,
// empty when the library is not loaded. EndModemRecord removes it.
std::string StartModemRecord();
void EndModemRecord(const std::string &path);

// How long a Close during a flood may take here.
extern const long kPromptCloseMs;
// CPU time this process has used so far, in milliseconds.
long ProcessCpuMs();
