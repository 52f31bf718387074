// A capture file told by its magic number, not its name.
#include "klp/capture_reader.h"

namespace klp {

FileKind KindOfCapture(const uint8_t *head, size_t length)
{
    if (length < 4)
        return FileKind::kRaw;
    const uint32_t magic = static_cast<uint32_t>(head[0]) << 24 | head[1] << 16 | head[2] << 8 | head[3];
    switch (magic) {
    case 0xA1B2C3D4:  // microseconds, either byte order
    case 0xD4C3B2A1:
    case 0xA1B23C4D:  // nanoseconds
    case 0x4D3CB2A1:
        return FileKind::kPcap;
    case 0x0A0D0D0A:  // a section header block
        return FileKind::kPcapng;
    default:
        return FileKind::kRaw;
    }
}

}  // namespace klp
