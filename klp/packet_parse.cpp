// Link layer, IP and TCP/UDP headers taken apart, every length checked against the capture.
#include "klp/packet_parse.h"

#include <cstdio>

namespace klp {

namespace {

constexpr uint16_t kEtherIpv4 = 0x0800, kEtherIpv6 = 0x86DD, kEtherVlan = 0x8100,
                   kEtherQinQ = 0x88A8;
constexpr uint8_t kProtoTcp = 6, kProtoUdp = 17;

uint16_t Be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

std::string Ipv4Text(const uint8_t *a)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    return text;
}

// RFC 5952's short form: lower case, the longest run of zero groups as "::".
std::string Ipv6Text(const uint8_t *a)
{
    int best = -1, bestLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && Be16(a + 2 * j) == 0)
            ++j;
        if (j - i > bestLength) {
            best = i;
            bestLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    std::string text = "[";
    for (int i = 0; i < 8; ++i) {
        if (i == best) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        if (text.size() > 1 && text.back() != ':')
            text += ':';
        char group[8];
        std::snprintf(group, sizeof group, "%x", Be16(a + 2 * i));
        text += group;
    }
    return text + "]";
}

// The transport header at p (length bytes to the end of the IP payload).
Segment Transport(uint8_t protocol, const uint8_t *p, size_t length, const std::string &from,
                  const std::string &to)
{
    Segment s;
    if (protocol == kProtoTcp && length >= 20) {
        const size_t header = static_cast<size_t>(p[12] >> 4) * 4;
        if (header < 20 || header > length)
            return s;
        s.kind = Segment::Kind::kTcp;
        s.sequence = Be32(p + 4);
        s.syn = (p[13] & 0x02) != 0;
        s.payload = p + header;
        s.length = length - header;
    } else if (protocol == kProtoUdp && length >= 8) {
        const size_t total = Be16(p + 4);
        if (total < 8 || total > length)
            return s;
        s.kind = Segment::Kind::kUdp;
        s.payload = p + 8;
        s.length = total - 8;
    } else {
        return s;
    }
    s.sourcePort = Be16(p);
    s.destinationPort = Be16(p + 2);
    s.source = from + ":" + std::to_string(s.sourcePort);
    s.destination = to + ":" + std::to_string(s.destinationPort);
    return s;
}

Segment Ipv4(const uint8_t *p, size_t length)
{
    if (length < 20 || (p[0] >> 4) != 4)
        return {};
    const size_t header = static_cast<size_t>(p[0] & 15) * 4;
    const size_t total = Be16(p + 2);
    // A fragment (more to come, or not the first) carries no whole segment: not reassembled.
    const bool fragment = (Be16(p + 6) & 0x3FFF) != 0;
    if (header < 20 || total < header || total > length || fragment)
        return {};
    return Transport(p[9], p + header, total - header, Ipv4Text(p + 12), Ipv4Text(p + 16));
}

Segment Ipv6(const uint8_t *p, size_t length)
{
    if (length < 40 || (p[0] >> 4) != 6)
        return {};
    const size_t total = 40 + static_cast<size_t>(Be16(p + 4));
    if (total > length)
        return {};
    uint8_t next = p[6];
    size_t at = 40;
    // Hop-by-hop, routing and destination options are stepped over; a fragment is not taken.
    while ((next == 0 || next == 43 || next == 60) && at + 8 <= total) {
        next = p[at];
        at += (static_cast<size_t>(p[at + 1]) + 1) * 8;
    }
    if (at > total)
        return {};
    return Transport(next, p + at, total - at, Ipv6Text(p + 8), Ipv6Text(p + 24));
}

Segment ByEtherType(uint16_t type, const uint8_t *p, size_t length)
{
    if (type == kEtherIpv4)
        return Ipv4(p, length);
    if (type == kEtherIpv6)
        return Ipv6(p, length);
    return {};
}

Segment ByVersion(const uint8_t *p, size_t length)
{
    if (length > 0 && (p[0] >> 4) == 4)
        return Ipv4(p, length);
    if (length > 0 && (p[0] >> 4) == 6)
        return Ipv6(p, length);
    return {};
}

}  // namespace

Segment ParsePacket(int linkType, const uint8_t *p, size_t length)
{
    switch (linkType) {
    case kLinkTypeSerial: {
        Segment s;
        s.kind = Segment::Kind::kSerial;
        s.payload = p;
        s.length = length;
        return s;
    }
    case 1: {  // Ethernet, with any 802.1Q tags
        size_t at = 12;
        while (at + 2 <= length && (Be16(p + at) == kEtherVlan || Be16(p + at) == kEtherQinQ))
            at += 4;
        if (at + 2 > length)
            return {};
        return ByEtherType(Be16(p + at), p + at + 2, length - at - 2);
    }
    case 0:    // BSD loopback: the address family in the host's order
    case 108:  // the same in network order
        return length >= 4 ? ByVersion(p + 4, length - 4) : Segment{};
    case 101:  // raw IP
    case 228:  // IPv4
    case 229:  // IPv6
        return ByVersion(p, length);
    case 113:  // Linux cooked capture
        return length >= 16 ? ByEtherType(Be16(p + 14), p + 16, length - 16) : Segment{};
    case 276:  // Linux cooked capture v2
        return length >= 20 ? ByEtherType(Be16(p), p + 20, length - 20) : Segment{};
    default:
        return {};
    }
}

}  // namespace klp
