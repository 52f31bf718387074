// The configuration exchange as a command-line tool needs it: one request at a time to one
// unit, then a wait with a time limit for that unit's answer. An answer that is short, long,
// from another address or with a bad CRC is reported as garbled, never taken as good; a read
// response from another address (a unit answering late) is kept aside for whoever asks.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "config/read_response.h"
#include "genisys/genisys_protocol.h"
#include "klp/port.h"

namespace klp {

class UnitLink : public genisys::LinkEvents {
public:
    using Ms = std::chrono::milliseconds;

    enum class Outcome { kAnswered, kSilent, kGarbled, kPortFailed };
    struct Answer {
        Outcome outcome = Outcome::kSilent;
        config::ReadResponse response {};  // a read that was answered
        std::string problem;               // kGarbled, kPortFailed: what was wrong
    };
    // A read response from an address other than the one asked.
    struct Stray {
        uint8_t address;
        config::ReadResponse response;
    };

    explicit UnitLink(const PortOptions &o);
    ~UnitLink() override;

    // Opens the port; kExitOk, or kExitPort once the reason has been said.
    int Open();

    // Sends a read request to the address and waits up to `wait` for its read response.
    Answer Read(uint8_t address, Ms wait);
    // Sends the record to the address and waits up to `wait` for that unit's acknowledgement.
    Answer Write(uint8_t address, const ConfigRecord &record, Ms wait);
    // Tells the unit with this slave ID to save its record and reset; false if nothing went out.
    bool Commit(uint8_t slaveId);
    // Waits `wait` for late answers, then hands over every stray read response so far.
    std::vector<Stray> TakeStrays(Ms wait = Ms(0));

    // The link's events, on the port's reader thread.
    void OnLine(const genisys::LineEvent &line) override;
    void OnCounters(uint32_t, uint32_t) override {}
    void OnConfigFrame(const uint8_t *frame, uint8_t length, uint32_t arrivalTick) override;
    void OnPortStalled() override;

private:
    // A configuration frame or a CRC failure heard on the line.
    struct Heard {
        bool crcFailed = false;
        uint8_t header = 0;
        int address = -1;
        uint8_t length = 0;
        uint8_t bytes[CGenisysProtocol::kRxBufferSize] = {};
    };
    using Clock = std::chrono::steady_clock;

    void Push(const Heard &h);
    // The next thing heard before the deadline; false when the time is up or the port failed.
    bool Next(Clock::time_point deadline, Heard *out);
    // Keeps a read response from elsewhere; true if the frame was one.
    bool KeepStray(const Heard &h);
    Answer PortFailure(const char *doing);

    PortOptions m_options;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Heard> m_heard;  // bounded: a noisy line cannot grow it
    std::atomic<bool> m_stalled {false};  // set under the mutex; read after a wait has ended
    std::vector<Stray> m_strays;
    CGenisysProtocol m_link {this};  // last: closed (and its reader stopped) before the rest goes
};

}  // namespace klp
