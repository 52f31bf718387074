// The CRC-16 and the frame encoder on their own: check values, escaping, the configuration
// marker and the worst-case frame length.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "genisys/crc16.h"
#include "genisys/genisys_frame.h"

using namespace genisys;
using Bytes = std::vector<uint8_t>;

namespace {

// Bit-at-a-time CRC-16/ARC, written from the definition, as an independent reference.
uint16_t BitwiseCrc(const Bytes &bytes)
{
    uint16_t crc = 0;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

uint16_t Crc(const Bytes &bytes) { return Crc16(bytes.data(), bytes.size()); }

Bytes Encode(uint8_t header, uint8_t address, const Bytes &data, int flags)
{
    Bytes out(MaxWireLength(data.size()));
    out.resize(EncodeFrame(header, address, data.data(), data.size(), flags, out.data()));
    return out;
}

constexpr uint8_t kDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
static_assert(Crc16(kDigits, sizeof kDigits) == 0xBB3D, "CRC-16/ARC check value");

}  // namespace

TEST(Crc16, CheckValueOverTheNineDigits)
{
    EXPECT_EQ(Crc(Bytes(kDigits, kDigits + 9)), 0xBB3D);
}

TEST(Crc16, KnownFramesOfTheLine)
{
    struct Case {
        Bytes bytes;
        uint16_t crc;
    };
    const Case cases[] = {
        {{}, 0x0000},
        {{0xFB, 0x01}, 0xF082},
        {{0xFB, 0xF5}, 0x7783},
        {{0xFC, 0x01, 0x10, 0xF0, 0xF6, 0xFF}, 0xEF2A},
        {{0xF2, 0x05, 0x01, 0x02, 0x03, 0x04}, 0x1D78},
        {{0xF2, 0x05, 0x01, 0x02, 0x03}, 0xB829},
        {{0xF4, 0x09, 0x11}, 0xAE87},
        {{0xFD, 0x01}, 0x5081},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Crc(c.bytes), c.crc) << "over " << c.bytes.size() << " bytes";
}

TEST(Crc16, TableMatchesTheBitwiseDefinitionOnEveryByteAndRandomRuns)
{
    for (int b = 0; b < 256; ++b)
        ASSERT_EQ(Crc({static_cast<uint8_t>(b)}), BitwiseCrc({static_cast<uint8_t>(b)})) << b;
    std::mt19937 rng(7);
    for (int run = 0; run < 200; ++run) {
        Bytes bytes(rng() % 300);
        for (uint8_t &b : bytes)
            b = static_cast<uint8_t>(rng());
        ASSERT_EQ(Crc(bytes), BitwiseCrc(bytes));
    }
}

TEST(Crc16, ContinuesAcrossPieces)
{
    const Bytes all = {0xF2, 0x05, 0x01, 0x02, 0x03, 0x04};
    for (size_t split = 0; split <= all.size(); ++split) {
        const uint16_t head = Crc16(all.data(), split);
        EXPECT_EQ(Crc16(all.data() + split, all.size() - split, head), 0x1D78) << split;
    }
}

TEST(EncodeFrame, WorkedExamples)
{
    struct Case {
        uint8_t header, address;
        Bytes data;
        int flags;
        Bytes wire;
    };
    const Case cases[] = {
        {0xFB, 0x01, {}, 3, {0xFB, 0x01, 0x8D, 0xF0, 0x0F, 0xF6}},
        {0xFB, 0x01, {}, 1, {0xFB, 0x01, 0x82, 0xF0, 0x00, 0xF6}},
        {0xFB, 0xF5, {}, 7, {0xFB, 0xF0, 0x05, 0x8C, 0x78, 0xF6}},
        {0xFC, 0x01, {0x10, 0xF0, 0xF6, 0xFF}, 3,
         {0xFC, 0x01, 0x10, 0xF0, 0x00, 0xF0, 0x06, 0xF0, 0x0F, 0x25, 0xE0, 0xF6}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Encode(c.header, c.address, c.data, c.flags), c.wire)
            << "header " << int(c.header) << " flags " << c.flags;
}

TEST(EncodeFrame, WithoutCrcTheFrameIsHeaderAddressDataTerminatorWhateverTheOtherFlags)
{
    const Bytes expected = {0xFE, 0x07, 0x01, 0xF0, 0x02, 0xF6};
    for (int flags : {0, int(SEND_CONFIG), int(SEND_NOLOG), SEND_CONFIG | SEND_NOLOG})
        EXPECT_EQ(Encode(0xFE, 0x07, {0x01, 0xF2}, flags), expected) << flags;
    EXPECT_EQ(Encode(0xFB, 0x00, {}, 0), (Bytes{0xFB, 0x00, 0xF6}));
}

TEST(EncodeFrame, EscapesEveryValueFromF0UpAndNothingBelow)
{
    for (int v = 0; v < 256; ++v) {
        const Bytes wire = Encode(0xF2, 0x01, {static_cast<uint8_t>(v)}, 0);
        const Bytes expected = v < 0xF0 ? Bytes{0xF2, 0x01, static_cast<uint8_t>(v), 0xF6}
                                        : Bytes{0xF2, 0x01, 0xF0, static_cast<uint8_t>(v - 0xF0), 0xF6};
        ASSERT_EQ(wire, expected) << "value " << v;
    }
}

TEST(EncodeFrame, HeaderGoesOutUnchangedWhateverItsValue)
{
    for (int h = 0; h < 256; ++h)
        ASSERT_EQ(Encode(static_cast<uint8_t>(h), 0x01, {}, 0),
                  (Bytes{static_cast<uint8_t>(h), 0x01, 0xF6}))
            << "header " << h;
}

TEST(EncodeFrame, ConfigurationMarkerFlipsTheLowNibbleOfEachCrcByteOnly)
{
    std::mt19937 rng(11);
    for (int run = 0; run < 500; ++run) {
        const uint8_t header = static_cast<uint8_t>(0xF1 + rng() % 15);
        const uint8_t address = static_cast<uint8_t>(rng());
        Bytes data(rng() % 15);
        for (uint8_t &b : data)
            b = static_cast<uint8_t>(rng());
        Bytes frame = {header, address};
        frame.insert(frame.end(), data.begin(), data.end());
        const uint16_t crc = Crc(frame);
        const uint16_t marked = crc ^ kConfigMarker;
        // The configuration frame is the frame without CRC with the marked CRC appended.
        Bytes expected = Encode(header, address, data, 0);
        expected.pop_back();
        for (uint8_t b : {static_cast<uint8_t>(marked & 0xFF), static_cast<uint8_t>(marked >> 8)}) {
            if (b >= 0xF0) {
                expected.push_back(0xF0);
                expected.push_back(static_cast<uint8_t>(b - 0xF0));
            } else {
                expected.push_back(b);
            }
        }
        expected.push_back(0xF6);
        ASSERT_EQ(Encode(header, address, data, SEND_CRC | SEND_CONFIG), expected);
    }
}

// On the wire only the header and the terminator lie above F0, and F0 only as an escape prefix
// followed by a byte below 0x10; the length never exceeds the worst case 2n + 8.
TEST(EncodeFrame, WireInvariantsHoldForRandomFramesAndTheBufferIsNeverOverrun)
{
    std::mt19937 rng(3);
    for (int run = 0; run < 2000; ++run) {
        const uint8_t header = static_cast<uint8_t>(0xF1 + rng() % 15);
        const uint8_t address = static_cast<uint8_t>(rng());
        const int flags = static_cast<int>(rng() % 8);
        Bytes data(rng() % 40);
        for (uint8_t &b : data)
            b = (rng() % 2) ? static_cast<uint8_t>(0xF0 + rng() % 16) : static_cast<uint8_t>(rng());
        const size_t limit = 2 * data.size() + 8;  // the worst case, not the bound under test
        Bytes out(limit + 16, 0xAA);  // guard bytes after the allowed area
        const size_t n = EncodeFrame(header, address, data.data(), data.size(), flags, out.data());
        ASSERT_LE(n, limit);
        for (size_t i = limit; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xAA) << "written past the frame's worst case";
        ASSERT_EQ(out[0], header);
        ASSERT_EQ(out[n - 1], 0xF6);
        for (size_t i = 1; i + 1 < n; ++i) {
            ASSERT_LE(out[i], 0xF0) << "unescaped byte at " << i;
            if (out[i] == 0xF0) {
                ASSERT_LT(out[i + 1], 0x10);
                ++i;
            }
        }
    }
}

TEST(EncodeFrame, WorstCaseReachesExactlyTwoNPlusEight)
{
    // Every address, data and CRC byte at F0 or above: search headers and data until both CRC
    // bytes are too (the header, never escaped, may be anything).
    std::mt19937 rng(5);
    for (size_t n : {1u, 2u, 14u}) {  // with no data no header and address reach it
        bool found = false;
        for (int tries = 0; tries < 200000 && !found; ++tries) {
            const uint8_t header = static_cast<uint8_t>(rng());
            const uint8_t address = static_cast<uint8_t>(0xF0 + rng() % 16);
            Bytes data(n);
            for (uint8_t &b : data)
                b = static_cast<uint8_t>(0xF0 + rng() % 16);
            Bytes frame = {header, address};
            frame.insert(frame.end(), data.begin(), data.end());
            const uint16_t crc = Crc(frame);
            if ((crc & 0xFF) < 0xF0 || (crc >> 8) < 0xF0)
                continue;
            found = true;
            // Sized from the worst case itself, with guard bytes, so that a bound that is too
            // small cannot hide an overrun.
            Bytes out(2 * n + 8 + 16, 0xAA);
            EXPECT_EQ(EncodeFrame(header, address, data.data(), n, SEND_CRC, out.data()), 2 * n + 8) << n;
            EXPECT_EQ(Bytes(out.begin() + static_cast<long>(2 * n + 8), out.end()), Bytes(16, 0xAA));
            EXPECT_EQ(MaxWireLength(n), 2 * n + 8) << "the bound the senders size their buffers by";
        }
        EXPECT_TRUE(found) << "no worst-case frame found for n = " << n;
    }
}
