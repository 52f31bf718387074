// The unit's configuration read response taken apart, and the DIP switch text it gives: the
// same for the configuration page and the command-line tool.
#pragma once
#include <cstddef>
#include <cstdint>

#include "config/config_record.h"

namespace config {

// Unescaped, header to terminator: header 0xF2, address, firmware major and minor, the mode
// byte, the 14 record bytes, the CRC and the terminator.
constexpr uint8_t kReadResponseLength = 22;

struct ReadResponse {
    uint8_t address;
    uint8_t firmwareMajor;
    uint8_t firmwareMinor;
    uint8_t mode;  // bits 0 and 1: the line mode of the daughter board
    ConfigRecord record;
};

// Takes a configuration frame apart; false unless it is a 22-byte read response (header 0xF2).
bool ParseReadResponse(const uint8_t *frame, size_t length, ReadResponse *out);

// "Dip Switch: 1 off, 2 on, 3 off, 4 -  =  direct, async.": the switches from bits 0 to 2 of
// record byte 1 (1 is off), then the line mode. Returns the length written to out.
size_t DipSwitchText(const ReadResponse &r, char *out, size_t size);

}  // namespace config
