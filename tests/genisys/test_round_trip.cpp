// Encoder against decoder: every frame the encoder writes is decoded as the same frame, and
// how a byte stream is cut into chunks never changes what the decoder reports.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#include "genisys/crc16.h"
#include "tests/genisys/link_fixture.h"

namespace {

enum TextKind { NONE, PAIRS, SINGLE };

struct Shown {
    const char *format;  // %d address, then %s text (or header then text for unknown ones)
    TextKind text;
};

// The lines of ordinary frames by header, the data texts taken from the unescaped frame.
Shown ShownAs(uint8_t header)
{
    switch (header) {
    case 0xF1: return {"ID %d Rx: Ack master message.", NONE};
    case 0xF2: return {"ID %d Rx: Indication data message:%s.", PAIRS};
    case 0xF3: return {"ID %d Rx: Control checkback message:%s.", PAIRS};
    case 0xF8: return {"ID %d Rx: Date/Time update message:%s.", SINGLE};
    case 0xF9: return {"ID %d Rx: Common control message:%s.", PAIRS};
    case 0xFA: return {"ID %d Rx: Ack slave message.", NONE};
    case 0xFC: return {"ID %d Rx: Control message:%s.", PAIRS};
    case 0xFD: return {"ID %d Rx: Recall message.", NONE};
    default: return {"ID %d Rx: Unknown 0x%02X message:%s.", SINGLE};
    }
}

std::string Hex(const char *format, uint8_t a, uint8_t b = 0)
{
    char text[8];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string ExpectedLine(const Bytes &u)  // u: the unescaped frame, header to terminator
{
    const int k = static_cast<int>(u.size());
    const uint8_t header = u[0];
    if (header == 0xFB)
        return "ID " + std::to_string(u[1]) + (k == 3 ? " Rx: Poll message (insecure)." : " Rx: Poll message (secure).");
    const Shown shown = ShownAs(header);
    std::string text;
    if (shown.text == PAIRS)
        for (int i = 2; i < k - 3; i += 2)
            text += Hex(" %02X-%02X", u[i], u[i + 1]);
    if (shown.text == SINGLE)
        for (int i = 2; i <= k - 4; ++i)
            text += Hex(" %02X", u[i]);
    char line[512];
    if (shown.text == SINGLE && header != 0xF8)  // the unknown headers show themselves too
        std::snprintf(line, sizeof line, shown.format, u[1], header, text.c_str());
    else
        std::snprintf(line, sizeof line, shown.format, u[1], text.c_str());
    return line;
}

std::string ConfigLine(uint8_t header, uint8_t address)
{
    const std::string id = "ID " + std::to_string(address);
    if (header == 0xF1)
        return id + " Rx: Config message (acknowledge).";
    if (header == 0xF2)
        return id + " Rx: Config message (receive data).";
    return id + " Rx: Config message (" + Hex("0x%02X", header) + ").";
}

std::string CrcFailedLine(const Bytes &u)
{
    std::string line = "CRC failed:";
    for (uint8_t b : u)
        line += Hex(" %02X", b);
    return line + ".";
}

class RoundTripTest : public LinkTest {};

}  // namespace

TEST_F(RoundTripTest, WhatTheEncoderWritesIsDecodedAsTheSameFrame)
{
    std::mt19937 rng(2011);
    int checked = 0;
    for (int run = 0; run < 4000; ++run) {
        const uint8_t header = kHeaders[rng() % 14];
        const uint8_t address = static_cast<uint8_t>(rng());
        Bytes data(rng() % 15);
        for (uint8_t &b : data)  // half of them need escaping
            b = (rng() % 2) ? static_cast<uint8_t>(0xF0 + rng() % 16) : static_cast<uint8_t>(rng());
        const int flags = run % 8;

        Bytes u = Concat({{header, address}, data});  // the unescaped frame the decoder sees
        const uint16_t crc = genisys::Crc16(u.data(), u.size());
        const bool withCrc = flags & SEND_CRC, config = withCrc && (flags & SEND_CONFIG);
        if (withCrc) {
            const uint16_t sent = config ? crc ^ 0x0F0F : crc;
            u.push_back(sent & 0xFF);
            u.push_back(sent >> 8);
        }
        u.push_back(0xF6);
        const int k = static_cast<int>(u.size());

        std::string expected;
        if (config) {
            expected = ConfigLine(header, address);
        } else if (withCrc || (k == 3 && (header == 0xFB || header == 0xF1))) {
            expected = ExpectedLine(u);
        } else {
            // Without a CRC the last two data bytes stand where the CRC would: skip the rare
            // frame whose data happen to make a valid CRC either way.
            const uint16_t computed = genisys::Crc16(u.data(), k - 3);
            const uint16_t received = static_cast<uint16_t>(u[k - 3] | (u[k - 2] << 8));
            if (computed == received || computed == (received ^ 0x0F0F))
                continue;
            expected = CrcFailedLine(u);
        }
        Feed(Wire(header, address, data, flags));
        ASSERT_EQ(TakeLines(), std::vector<std::string>{expected})
            << "run " << run << " header " << int(header) << " n " << data.size() << " flags " << flags;
        const std::vector<Bytes> frames = events.TakeConfigFrames();
        if (config)
            ASSERT_EQ(frames, std::vector<Bytes>{u});
        else
            ASSERT_TRUE(frames.empty());
        ASSERT_EQ(link.m_rxLength, 0);
        ++checked;
    }
    EXPECT_GT(checked, 3900);
}

namespace {

std::vector<size_t> RandomChunks(std::mt19937 &rng, size_t maxChunk)
{
    std::vector<size_t> chunks(1 + rng() % 50);
    for (size_t &c : chunks)
        c = 1 + rng() % maxChunk;
    return chunks;
}

}  // namespace

TEST_F(RoundTripTest, AnyChunkingGivesTheSameLinesCountersAndFrames)
{
    std::mt19937 rng(1024);
    for (int stream = 0; stream < 6; ++stream) {
        const Bytes bytes = MixedTraffic(rng, 400);
        const RxOutcome whole = Run(bytes, {bytes.size()});
        ASSERT_GT(whole.lines.size(), 300u);
        ASSERT_FALSE(whole.configFrames.empty());
        ASSERT_GT(whole.polls + whole.acks, 0u);
        EXPECT_TRUE(Run(bytes, {1}) == whole) << "byte by byte, stream " << stream;
        EXPECT_TRUE(Run(bytes, {1024}) == whole) << "1024 at a time, stream " << stream;
        for (int split = 0; split < 5; ++split) {
            const std::vector<size_t> chunks = RandomChunks(rng, split % 2 ? 1024 : 16);
            EXPECT_TRUE(Run(bytes, chunks) == whole) << "stream " << stream << " split " << split;
        }
    }
}

TEST_F(RoundTripTest, RecordedLineTrafficDecodesTheSameInAnyChunks)
{
    std::ifstream in(KLP_CAPTURE_FILE, std::ios::binary);
    ASSERT_TRUE(in) << "cannot read " << KLP_CAPTURE_FILE;
    const Bytes capture((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const RxOutcome whole = Run(capture, {capture.size()});
    ASSERT_EQ(whole.counterText, "0/217");
    std::mt19937 rng(7362);
    EXPECT_TRUE(Run(capture, {1}) == whole);
    for (int split = 0; split < 4; ++split)
        EXPECT_TRUE(Run(capture, RandomChunks(rng, 1024)) == whole) << split;
}
