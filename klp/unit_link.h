// klp's side of the configuration exchange: the core's rules (config/exchange.h) with what a
// command line needs on top. Each request's wait has a time limit and, unless told otherwise,
// lasts to its end, so that two units answering at one address are both heard; an answer that
// is short, long or has a bad CRC is told as garbled, never taken; a read response that answers
// no request of the moment is kept aside for whoever asks. Ctrl-C ends any wait.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "config/exchange.h"
#include "config/read_response.h"
#include "genisys/genisys_protocol.h"
#include "klp/port.h"

namespace klp {

class UnitLink : public genisys::LinkEvents {
public:
    using Ms = std::chrono::milliseconds;
    using Clock = std::chrono::steady_clock;

    // What the line said back to one request until its wait ended.
    struct Answers {
        std::vector<config::ReadResponse> responses;  // read: from the address asked, in order
        int acks = 0;              // write: acknowledgements from the address written to
        std::string garbled;       // what was wrong with a garbled answer from that address
        std::string heardInstead;  // write: an acknowledgement from another address
        std::string portFailure;   // set when the port stopped working
        bool interrupted = false;  // Ctrl-C (or a request to terminate) ended the wait
        bool Failed() const { return interrupted || !portFailure.empty(); }
        bool Heard() const { return !responses.empty() || !garbled.empty(); }  // the unit, at least
    };
    // A read response that answered no request of the moment: a late one, or one from an
    // address not asked.
    struct Stray {
        uint8_t address;
        config::ReadResponse response;
    };
    // A configuration frame or a CRC failure heard on the line, with the tick it arrived at.
    struct Heard {
        bool crcFailed = false;
        uint8_t header = 0;
        int address = -1;
        uint8_t length = 0;
        uint32_t tick = 0;
        uint8_t bytes[CGenisysProtocol::kRxBufferSize] = {};
    };

    explicit UnitLink(const PortOptions &o);
    ~UnitLink() override;

    // Opens the port; kExitOk, or kExitPort once the reason has been said.
    int Open();

    // Sends a read request to the address and collects what answers it.
    Answers Read(uint8_t address, Ms wait);
    // Reads again, up to tries reads in all, until the unit is heard or the wait fails; an
    // answer that comes after the wait but inside its request's window ends the tries. *used
    // (when given) says how many reads went out.
    Answers ReadTrying(uint8_t address, Ms wait, int tries, int *used = nullptr);
    // Sends the record to the address and collects its acknowledgements.
    Answers Write(uint8_t address, const ConfigRecord &record, Ms wait);
    // Tells the unit to save the record the latest write sent and reset, at the slave ID that
    // record holds; false if nothing went out.
    bool Commit();

    // For a scan that keeps a request per address: sends a read request through r.
    bool SendRead(config::Request &r, uint8_t address);
    // The next thing heard before the deadline; false when the time is up, the port failed or
    // Ctrl-C came (Failure says which).
    bool Next(Clock::time_point deadline, Heard *out);
    // After Next returned false: an Answers with the port failure or interruption, if any.
    Answers Failure(const char *doing) const;
    // Waits `wait` for late answers, then hands over every stray read response so far.
    std::vector<Stray> TakeStrays(Ms wait = Ms(0));
    // Keeps a read response heard outside any request's answers; true if the frame was one.
    bool KeepStray(const Heard &h);
    // What was wrong with a garbled frame: its CRC, or (a read response) its length.
    static std::string GarbledText(const Heard &h);


    // The link's events, on the port's reader thread.
    void OnLine(const genisys::LineEvent &line) override;
    void OnCounters(uint32_t, uint32_t) override {}
    void OnConfigFrame(const uint8_t *frame, uint8_t length, uint32_t arrivalTick) override;
    void OnPortStalled() override;

private:
    void Push(const Heard &h);
    void Wake();
    // Waits out the rest of the latest read request's window; a response from address heard
    // there goes into a. True when one came, or the wait failed.
    bool TakeLateAnswer(uint8_t address, Answers *a);
    // A CRC failure from the address asked, inside the request's window.
    static bool GarbledFrom(const Heard &h, const config::Request &r);

    PortOptions m_options;
    config::Exchange m_exchange;  // used by the thread that sends and waits only
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Heard> m_heard;            // bounded: a noisy line cannot grow it
    std::atomic<bool> m_stalled{false};   // set under the mutex; read after a wait has ended
    std::vector<Stray> m_strays;
    CGenisysProtocol m_link{this};  // last: closed (and its reader stopped) before the rest goes
};

}  // namespace klp
