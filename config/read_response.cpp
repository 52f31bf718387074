// The configuration read response: its layout and the DIP switch text of the "Daughter board".
#include "config/read_response.h"

#include <cstdio>
#include <cstring>

#include "genisys/genisys_frame.h"

namespace config {

namespace {

constexpr size_t kAddress = 1;
constexpr size_t kFirmwareMajor = 2;
constexpr size_t kFirmwareMinor = 3;
constexpr size_t kModeByte = 4;
constexpr size_t kRecordOffset = 5;

// Line mode of the daughter board, by bits 0 and 1 of the mode byte.
const char *const kModeText[4] = {"VF, v.22.", "VF, v.23.", "direct, async.", "direct, sync."};

const char *ModeText(uint8_t mode) { return kModeText[mode & 3]; }

// A switch bit of 1 means the switch is off.
const char *SwitchText(uint8_t switches, int bit)
{
    return (switches >> bit) & 1 ? "off" : "on";
}

}  // namespace

bool ParseReadResponse(const uint8_t *frame, size_t length, ReadResponse *out)
{
    if (frame == nullptr || length != kReadResponseLength || frame[0] != genisys::kHdrIndication)
        return false;
    out->address = frame[kAddress];
    out->firmwareMajor = frame[kFirmwareMajor];
    out->firmwareMinor = frame[kFirmwareMinor];
    out->mode = frame[kModeByte];
    std::memcpy(out->record.Bytes(), frame + kRecordOffset, ConfigRecord::kSize);
    return true;
}

size_t DipSwitchText(const ReadResponse &r, char *out, size_t size)
{
    // The switches travel in record byte 1, not in the mode byte.
    const uint8_t switches = r.record.genisysOptions;
    const int n = std::snprintf(out, size, "Dip Switch: 1 %s, 2 %s, 3 %s, 4 -  =  %s",
                                SwitchText(switches, 0), SwitchText(switches, 1),
                                SwitchText(switches, 2), ModeText(r.mode));
    if (n < 0 || size == 0)
        return 0;
    return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

}  // namespace config
