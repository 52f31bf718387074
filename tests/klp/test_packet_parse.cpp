// Network captures taken apart: the link layers and IP versions klp decodes, the packets it
// must leave alone (fragments, other protocols, lengths that run past the capture), capture
// times as UTC text, and the file kinds told by their magic.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "klp/capture_decode.h"
#include "klp/capture_reader.h"
#include "klp/packet_parse.h"

namespace {

using Bytes = std::vector<uint8_t>;
using klp::Segment;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kPayload = {0xFB, 0x01, 0x82, 0xF0, 0x00, 0xF6};

Bytes Tcp(uint16_t from, uint16_t to, uint32_t seq, uint8_t flags = 0x18)
{
    return Cat({{uint8_t(from >> 8), uint8_t(from), uint8_t(to >> 8), uint8_t(to)},
                {uint8_t(seq >> 24), uint8_t(seq >> 16), uint8_t(seq >> 8), uint8_t(seq)},
                {0, 0, 0, 0, 0x50, flags, 0xFF, 0xFF, 0, 0, 0, 0},
                kPayload});
}

Bytes Udp(uint16_t from, uint16_t to)
{
    const uint16_t length = static_cast<uint16_t>(8 + kPayload.size());
    return Cat({{uint8_t(from >> 8), uint8_t(from), uint8_t(to >> 8), uint8_t(to),
                 uint8_t(length >> 8), uint8_t(length), 0, 0},
                kPayload});
}

Bytes Ipv4(uint8_t protocol, const Bytes &transport, uint16_t fragment = 0, size_t padding = 0)
{
    const uint16_t total = static_cast<uint16_t>(20 + transport.size());
    Bytes ip = {0x45, 0, uint8_t(total >> 8), uint8_t(total), 0, 0, uint8_t(fragment >> 8),
                uint8_t(fragment), 64, protocol, 0, 0, 10, 0, 0, 1, 10, 0, 0, 2};
    return Cat({ip, transport, Bytes(padding, 0)});
}

Bytes Ipv6(uint8_t next, const Bytes &transport, const Bytes &extension = {})
{
    const uint16_t length = static_cast<uint16_t>(extension.size() + transport.size());
    Bytes ip = {0x60, 0, 0, 0, uint8_t(length >> 8), uint8_t(length), next, 64};
    Bytes from(16, 0), to(16, 0);
    from[0] = 0xFD;
    from[15] = 1;
    to[0] = 0x20;
    to[1] = 0x01;
    to[2] = 0x0D;
    to[3] = 0xB8;
    to[15] = 2;
    return Cat({ip, from, to, extension, transport});
}

Bytes Ether(uint16_t type, const Bytes &payload, const Bytes &tags = {})
{
    return Cat({Bytes(12, 2), tags, {uint8_t(type >> 8), uint8_t(type)}, payload});
}

TEST(PacketParse, FindsTheSegmentUnderEveryLinkLayer)
{
    const Bytes v4 = Ipv4(6, Tcp(20000, 1234, 7));
    const struct {
        const char *what;
        int linkType;
        Bytes packet;
        Segment::Kind kind;
        std::string source, destination;
    } cases[] = {
        {"Ethernet", 1, Ether(0x0800, v4), Segment::Kind::kTcp, "10.0.0.1:20000", "10.0.0.2:1234"},
        {"Ethernet padded", 1, Ether(0x0800, Ipv4(17, Udp(5000, 5001), 0, 12)), Segment::Kind::kUdp,
         "10.0.0.1:5000", "10.0.0.2:5001"},
        {"802.1Q twice", 1, Ether(0x0800, v4, {0x88, 0xA8, 0, 1, 0x81, 0, 0, 2}), Segment::Kind::kTcp,
         "10.0.0.1:20000", "10.0.0.2:1234"},
        {"IPv6 with options", 1,
         Ether(0x86DD, Ipv6(0, Tcp(1, 2, 0), {6, 0, 1, 4, 0, 0, 0, 0})), Segment::Kind::kTcp,
         "[fd00::1]:1", "[2001:db8::2]:2"},
        {"raw IP", 101, v4, Segment::Kind::kTcp, "10.0.0.1:20000", "10.0.0.2:1234"},
        {"BSD loopback", 0, Cat({{2, 0, 0, 0}, v4}), Segment::Kind::kTcp, "10.0.0.1:20000",
         "10.0.0.2:1234"},
        {"Linux cooked", 113, Cat({Bytes(14, 0), {0x08, 0x00}, v4}), Segment::Kind::kTcp,
         "10.0.0.1:20000", "10.0.0.2:1234"},
        {"Linux cooked v2", 276, Cat({{0x86, 0xDD}, Bytes(18, 0), Ipv6(17, Udp(9, 10))}),
         Segment::Kind::kUdp, "[fd00::1]:9", "[2001:db8::2]:10"},
        {"klp's serial capture", klp::kLinkTypeSerial, kPayload, Segment::Kind::kSerial, "", ""},
    };
    for (const auto &c : cases) {
        const Segment s = klp::ParsePacket(c.linkType, c.packet.data(), c.packet.size());
        EXPECT_EQ(s.kind, c.kind) << c.what;
        EXPECT_EQ(s.source, c.source) << c.what;
        EXPECT_EQ(s.destination, c.destination) << c.what;
        EXPECT_EQ(Bytes(s.payload, s.payload + s.length), kPayload) << c.what;
    }
    const Bytes syn = Ether(0x0800, Ipv4(6, Tcp(1, 2, 0xFFFFFFF0, 0x02)));
    const Segment s = klp::ParsePacket(1, syn.data(), syn.size());
    EXPECT_TRUE(s.syn);
    EXPECT_EQ(s.sequence, 0xFFFFFFF0u);
}

TEST(PacketParse, LeavesAloneWhatCarriesNoWholeSegment)
{
    const Bytes whole = Ether(0x0800, Ipv4(6, Tcp(1, 2, 3)));
    const struct {
        const char *what;
        int linkType;
        Bytes packet;
    } cases[] = {
        {"ARP", 1, Ether(0x0806, Bytes(28, 0))},
        {"ICMP", 1, Ether(0x0800, Ipv4(1, Bytes(8, 0)))},
        {"first fragment", 1, Ether(0x0800, Ipv4(6, Tcp(1, 2, 3), 0x2000))},
        {"later fragment", 1, Ether(0x0800, Ipv4(6, Tcp(1, 2, 3), 0x0010))},
        {"cut by the snap length", 1, Bytes(whole.begin(), whole.end() - 7)},
        {"cut in the TCP header", 1, Bytes(whole.begin(), whole.begin() + 14 + 20 + 10)},
        {"an Ethernet header alone", 1, Bytes(13, 0)},
        {"unknown link type", 9999, whole},
        {"empty raw IP", 101, {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(klp::ParsePacket(c.linkType, c.packet.data(), c.packet.size()).kind,
                  Segment::Kind::kNone)
            << c.what;
}

TEST(CaptureTime, IsUtcCalendarTextToTheMicrosecond)
{
    const struct {
        int64_t seconds;
        uint32_t us;
        const char *text;
    } cases[] = {
        {0, 0, "1970-01-01 00:00:00.000000"},
        {951782400, 5, "2000-02-29 00:00:00.000005"},
        {1645544569, 483546, "2022-02-22 15:42:49.483546"},
        {4102444799, 999999, "2099-12-31 23:59:59.999999"},
        {-1, 0, "1969-12-31 23:59:59.000000"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(klp::CaptureTimeText(c.seconds, c.us), c.text);
}

TEST(CaptureKind, IsToldByTheMagicInEitherByteOrder)
{
    const struct {
        Bytes head;
        klp::FileKind kind;
    } cases[] = {
        {{0xD4, 0xC3, 0xB2, 0xA1}, klp::FileKind::kPcap},
        {{0xA1, 0xB2, 0xC3, 0xD4}, klp::FileKind::kPcap},
        {{0x4D, 0x3C, 0xB2, 0xA1}, klp::FileKind::kPcap},
        {{0x0A, 0x0D, 0x0D, 0x0A}, klp::FileKind::kPcapng},
        {{0xFB, 0x01, 0x83, 0x40}, klp::FileKind::kRaw},
        {{0xD4, 0xC3, 0xB2}, klp::FileKind::kRaw},
        {{}, klp::FileKind::kRaw},
    };
    for (const auto &c : cases)
        EXPECT_EQ(klp::KindOfCapture(c.head.data(), c.head.size()), c.kind);
}

}  // namespace
