// The configuration exchange with a unit, one set of rules for the page and klp: the read, write
// and commit requests, the window in which each may be answered, and what a configuration frame
// heard on the line is to them. An answer counts only for the request it answers: from the
// address that request went to, of its kind, from the start of its send to 1000 ms after it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "config/config_record.h"
#include "genisys/genisys_frame.h"

class CGenisysProtocol;

namespace config {

// Every configuration request carries a CRC with the configuration marker and is logged.
constexpr int kConfigSend = genisys::SEND_CRC | genisys::SEND_CONFIG;

constexpr uint32_t kResponseMs = 1000;  // an answer counts this long after its request
// A request to address 0 is for a unit whose address is unknown: whichever unit replies answers.
constexpr uint8_t kAnyAddress = 0;

enum class RequestKind : uint8_t { kRead, kWrite };

// What a configuration frame is to the requests made.
enum class Verdict : uint8_t {
    kAnswer,        // the first answer to its request
    kRepeat,        // a further answer to a request already answered: two units at one address
    kOtherAddress,  // in time and of its kind, but from an address the request did not go to
    kLate,          // of a kind asked, but 1000 ms or more after that request
    kUnasked,       // no request of its kind went out before it arrived
    kMalformed,     // a read response that is not 22 bytes, or an acknowledgement with no address
    kNotAnAnswer,   // another header
};

// The latest request of one kind.
struct Request {
    bool made = false;          // one went out (or was tried) since the start
    uint8_t address = 0;        // where it went
    uint32_t sendTick = 0;      // as its send began: nothing that arrived before answers it
    uint32_t requestTick = 0;   // once it was sent; the window closes 1000 ms after
    int answers = 0;            // answers taken so far
    uint8_t commitAddress = 0;  // a write: the slave ID its record holds, where the commit goes
};

// A configuration frame judged: what it is, to which kind of request, from which address.
struct Judgement {
    Verdict verdict = Verdict::kNotAnAnswer;
    RequestKind kind = RequestKind::kRead;
    uint8_t address = 0;  // the frame's (0 when it has none)
};

// Where an arrival falls against a request: before its send began, inside its window, or after.
enum class Timing : uint8_t { kBefore, kInside, kAfter };
Timing TimingOf(const Request &r, uint32_t arrivalTick);

// Sends a read request to the address (flags 3: marker CRC, logged) and opens r's window; the
// result is SendFrame's. Also for klp's scan, which keeps a request per address.
int SendReadRequest(CGenisysProtocol &link, Request &r, uint8_t address);

// Judges an answer of the request's kind from `address` against it; an answer taken
// (kAnswer, kRepeat) is counted.
Verdict JudgeAnswer(Request &r, uint8_t address, uint32_t arrivalTick);

// The page's and klp's exchange with one unit: the latest read and the latest write request.
// Not thread-safe: one thread sends and judges (the page's user-interface thread, klp's main).
class Exchange {
public:
    // Each sends its request through the link (flags 3: marker CRC, logged) and opens its
    // window; the result is SendFrame's (0: nothing was written). The window's start is taken
    // before the send, so that it is bounded while the send is still going on.
    int SendRead(CGenisysProtocol &link, uint8_t address);
    int SendWrite(CGenisysProtocol &link, uint8_t address, const ConfigRecord &record);
    // The commit goes to the slave ID held in the record the latest write sent.
    int SendCommit(CGenisysProtocol &link) const;

    // Restarts the window of the latest request of that kind from now (the page does so once
    // the box that says a send failed has been closed).
    void Reopen(RequestKind kind);

    // A configuration frame (unescaped, header to final byte) and the tick it arrived at.
    Judgement Judge(const uint8_t *frame, size_t length, uint32_t arrivalTick);

    const Request &Read() const { return m_read; }
    const Request &Write() const { return m_write; }
    Request &Of(RequestKind kind) { return kind == RequestKind::kRead ? m_read : m_write; }

private:
    Request m_read;
    Request m_write;
};

}  // namespace config
