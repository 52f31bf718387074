// What a monitor hears, written as a pcapng capture that Wireshark opens: one interface of
// link type USER0 (klp's serial captures, which the Genisys dissector takes), one packet per
// frame as it ended on the line, stamped with the time it arrived.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace klp {

class PcapWriter {
public:
    ~PcapWriter();
    // Creates the file and writes its headers; false (errno set) when it cannot.
    bool Open(const std::string &path, const std::string &portName);
    // Bytes as the port handed them on: a packet goes out at each frame's terminator.
    void Add(const uint8_t *bytes, uint32_t count);
    // Pushes the packets to the file; false once a write failed.
    bool Flush();
    // Writes what is left as a last packet and closes; false when anything failed.
    bool Close();

private:
    void Packet(const uint8_t *bytes, size_t count);

    std::FILE *m_file = nullptr;
    std::string m_pending;  // bytes of a frame not yet ended
    bool m_failed = false;
};

}  // namespace klp
