// Genisys line traffic for tests, fuzz seeds and benchmarks: encoded frames and a deterministic
// mix of everything a line monitor meets (polls, acknowledgements, data, configuration frames,
// CRC failures, noise, overflowing frames).
#pragma once
#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

#include "genisys/genisys_frame.h"

using Bytes = std::vector<uint8_t>;

// An encoded frame, as the encoder puts it on the wire.
inline Bytes Wire(uint8_t header, uint8_t address, const Bytes &data, int flags)
{
    Bytes out(genisys::MaxWireLength(data.size()));
    out.resize(genisys::EncodeFrame(header, address, data.data(), data.size(), flags, out.data()));
    return out;
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Every byte that starts a frame.
inline constexpr uint8_t kHeaders[] = {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF7, 0xF8,
                                       0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};

// pieces pieces of mixed traffic; the same rng state gives the same stream.
inline Bytes MixedTraffic(std::mt19937 &rng, int pieces)
{
    Bytes stream;
    for (int p = 0; p < pieces; ++p) {
        const uint8_t header = kHeaders[rng() % 14];
        const uint8_t address = static_cast<uint8_t>(rng());
        Bytes data(rng() % 20);
        for (uint8_t &b : data)
            b = static_cast<uint8_t>(rng());
        Bytes piece;
        switch (rng() % 8) {
        case 0: piece = {0xFB, address, 0xF6}; break;  // insecure poll
        case 1: piece = {0xF1, address, 0xF6}; break;  // insecure acknowledgement
        case 2: piece = Wire(header, address, data, SEND_CRC | SEND_CONFIG); break;
        case 3:  // noise, terminators and headers included
            piece.resize(1 + rng() % 10);
            for (uint8_t &b : piece)
                b = static_cast<uint8_t>(rng());
            break;
        case 4: piece = Wire(header, address, data, 0); break;  // mostly CRC failures
        case 5:
            if (rng() % 10 == 0) {  // runs up to and past the 128-byte buffer
                piece = {0xF2};
                piece.insert(piece.end(), 120 + rng() % 20, 0x44);
                piece.push_back(0xF6);
                break;
            }
            [[fallthrough]];
        default: piece = Wire(header, address, data, SEND_CRC); break;
        }
        stream.insert(stream.end(), piece.begin(), piece.end());
    }
    return stream;
}
