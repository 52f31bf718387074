// Network captures in: the packets of a pcap or pcapng file, told by the file's first bytes.
// libpcap reads them on Linux (capture_reader_libpcap.cpp); klp.exe has no reader and says
// so (capture_reader_win32.cpp).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace klp {

enum class FileKind { kRaw, kPcap, kPcapng };

// What the first bytes of a file say it is; fewer than four bytes are raw bytes.
FileKind KindOfCapture(const uint8_t *head, size_t length);

struct Packet {
    int64_t seconds = 0;       // capture time, since 1970 (UTC)
    uint32_t microseconds = 0;
    int linkType = 0;          // LINKTYPE_ value of the packet's interface
    const uint8_t *data = nullptr;
    size_t length = 0;         // bytes captured
};

class CaptureReader {
public:
    virtual ~CaptureReader() {}
    // The next packet (valid until the next call); false at the end or on a failure.
    virtual bool Next(Packet *packet) = 0;
    // Empty at a clean end; otherwise why the file could not be read on (cut short, say).
    virtual std::string Failure() const = 0;
};

// Opens a capture file; null with *error set when it cannot be read as one.
std::unique_ptr<CaptureReader> OpenCapture(const std::string &path, std::string *error);

}  // namespace klp
