// libFuzzer target for what klp takes from the network: captured packets taken apart
// (ParsePacket, under each link layer it knows) and Telnet with RFC 2217 from a device server.
// The first byte picks which, and the link type or the chunk size; the rest is the input. A
// payload outside the packet, line data that did not come in, or a different outcome for
// other chunk sizes aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "klp/packet_parse.h"
#include "net/telnet_com_port.h"

namespace {

void Check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_network: %s\n", what);
        std::abort();
    }
}

const int kLinkTypes[] = {1, 0, 108, 101, 228, 229, 113, 276, klp::kLinkTypeSerial, 9999};

void Packet(uint8_t pick, const uint8_t *data, size_t size)
{
    const int linkType = kLinkTypes[pick % (sizeof kLinkTypes / sizeof kLinkTypes[0])];
    const klp::Segment s = klp::ParsePacket(linkType, data, size);
    if (s.kind == klp::Segment::Kind::kNone)
        return;
    Check(s.payload >= data && s.payload <= data + size, "payload outside the packet");
    Check(s.length <= static_cast<size_t>(data + size - s.payload), "payload runs past the packet");
}

struct Outcome {
    std::string data, reply;
    uint32_t baud;
    int controls;
    bool refused;
};

Outcome Telnet(const uint8_t *data, size_t size, size_t chunk)
{
    net::TelnetComPort t(9600);
    Outcome o;
    o.reply = t.Opening();
    for (size_t at = 0; at < size; at += chunk)
        t.Receive(data + at, chunk < size - at ? chunk : size - at, &o.data, &o.reply);
    o.baud = t.ConfirmedBaud();
    o.controls = t.ConfirmedControls();
    o.refused = t.Refused();
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t pick = bytes[0];
    const uint8_t *data = bytes + 1;
    size -= 1;
    if (!(pick & 0x80)) {
        Packet(pick, data, size);
        return 0;
    }
    const Outcome whole = Telnet(data, size, size ? size : 1);
    const Outcome split = Telnet(data, size, 1 + (pick & 0x0F));
    Check(whole.data.size() <= size, "more line data than bytes received");
    Check(whole.data == split.data && whole.reply == split.reply, "chunking changed the outcome");
    Check(whole.baud == split.baud && whole.controls == split.controls &&
              whole.refused == split.refused,
          "chunking changed what the server confirmed");
    return 0;
}
