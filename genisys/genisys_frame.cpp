// The Genisys frame encoder: escaping, CRC and the configuration marker.
#include "genisys/genisys_frame.h"

#include "genisys/crc16.h"

namespace genisys {

namespace {

size_t PutEscaped(uint8_t value, uint8_t *out)
{
    if (value < kEscape) {
        out[0] = value;
        return 1;
    }
    out[0] = kEscape;
    out[1] = static_cast<uint8_t>(value - kEscape);
    return 2;
}

uint16_t FrameCrc(uint8_t header, uint8_t address, const uint8_t *data, size_t n, int flags)
{
    const uint8_t head[2] = {header, address};
    uint16_t crc = Crc16(head, 2);
    if (n > 0)
        crc = Crc16(data, n, crc);
    if (flags & SEND_CONFIG)
        crc ^= kConfigMarker;
    return crc;
}

}  // namespace

size_t EncodeFrame(uint8_t header, uint8_t address, const uint8_t *data, size_t n, int flags,
                   uint8_t *out)
{
    size_t len = 0;
    out[len++] = header;
    len += PutEscaped(address, out + len);
    for (size_t i = 0; i < n; ++i)
        len += PutEscaped(data[i], out + len);
    if (flags & SEND_CRC) {
        const uint16_t crc = FrameCrc(header, address, data, n, flags);
        len += PutEscaped(static_cast<uint8_t>(crc & 0xFF), out + len);
        len += PutEscaped(static_cast<uint8_t>(crc >> 8), out + len);
    }
    out[len++] = kTerminator;
    return len;
}

}  // namespace genisys
