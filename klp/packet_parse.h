// The Genisys-bearing part of a captured packet: addresses, ports and payload of a TCP segment
// or UDP datagram over IPv4 or IPv6, under the link layers captures commonly have; or the
// whole packet of a serial capture (klp monitor --pcap).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace klp {

// LINKTYPE_USER0: the link type klp monitor --pcap writes, one packet per chunk heard.
constexpr int kLinkTypeSerial = 147;

struct Segment {
    enum class Kind { kNone, kTcp, kUdp, kSerial } kind = Kind::kNone;
    std::string source, destination;  // "10.0.0.1:20000", "[fe80::1]:20000"
    uint16_t sourcePort = 0, destinationPort = 0;
    uint32_t sequence = 0;  // TCP
    bool syn = false;
    const uint8_t *payload = nullptr;
    size_t length = 0;
};

// What the packet carries; kind kNone for anything else (ARP, ICMP, an IP fragment, a packet
// cut short by the capture's snap length).
Segment ParsePacket(int linkType, const uint8_t *data, size_t length);

}  // namespace klp
