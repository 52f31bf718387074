// A recording serial port for tests: what CSerialCom::Write was given, and how Open behaves.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace fake {

// Recording serial port: what CSerialCom::Write was given, and how Open behaves.
struct SerialState {
    std::vector<std::vector<uint8_t>> writes;  // one entry per Write call
    std::vector<std::string> opens;            // "name@baud" per Open call
    int16_t openResult = 1;                    // what the next Open returns
    bool failWrites = false;                   // Write reports 0 bytes
    int closes = 0;                            // Close calls that closed an open port
};
SerialState &Serial();  // take Serial().mutex() for cross-thread use
std::mutex &SerialMutex();

}  // namespace fake
