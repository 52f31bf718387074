// The pcapng blocks of a monitor's capture: section header, interface, enhanced packets.
#include "klp/pcap_writer.h"

#include <chrono>
#include <cstring>
#include <utility>

#include "genisys/genisys_frame.h"
#include "klp/packet_parse.h"

namespace klp {

namespace {

void Put32(std::string *out, uint32_t v) { out->append(reinterpret_cast<const char *>(&v), 4); }
void Put16(std::string *out, uint16_t v) { out->append(reinterpret_cast<const char *>(&v), 2); }

// One block: type, total length, body padded to 32 bits, total length again (host order,
// which the section header's byte-order magic tells readers).
std::string Block(uint32_t type, std::string body)
{
    body.resize((body.size() + 3) / 4 * 4, '\0');
    std::string out;
    Put32(&out, type);
    Put32(&out, static_cast<uint32_t>(body.size() + 12));
    out += body;
    Put32(&out, static_cast<uint32_t>(body.size() + 12));
    return out;
}

std::string Option(uint16_t code, const std::string &value)
{
    std::string out;
    Put16(&out, code);
    Put16(&out, static_cast<uint16_t>(value.size()));
    out += value;
    out.resize((out.size() + 3) / 4 * 4, '\0');
    return out;
}

}  // namespace

PcapWriter::~PcapWriter() { Close(); }

bool PcapWriter::Open(const std::string &path, const std::string &portName)
{
    m_file = std::fopen(path.c_str(), "wb");
    if (m_file == nullptr)
        return false;
    std::string section;
    Put32(&section, 0x1A2B3C4D);
    Put16(&section, 1);
    Put16(&section, 0);
    Put32(&section, 0xFFFFFFFF);  // section length unknown
    Put32(&section, 0xFFFFFFFF);
    section += Option(4, "klp monitor");  // shb_userappl
    Put32(&section, 0);                   // end of options
    std::string interface;
    Put16(&interface, kLinkTypeSerial);
    Put16(&interface, 0);
    Put32(&interface, 0);                  // no snap length
    interface += Option(2, portName);     // if_name
    interface += Option(3, "Genisys line heard by klp monitor");  // if_description
    Put32(&interface, 0);
    const std::string head = Block(0x0A0D0D0A, section) + Block(1, interface);
    m_failed = std::fwrite(head.data(), 1, head.size(), m_file) != head.size();
    return !m_failed;
}

void PcapWriter::Add(const uint8_t *bytes, uint32_t count)
{
    uint32_t start = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes[i] != genisys::kTerminator)
            continue;
        m_pending.append(reinterpret_cast<const char *>(bytes + start), i + 1 - start);
        Packet(reinterpret_cast<const uint8_t *>(m_pending.data()), m_pending.size());
        m_pending.clear();
        start = i + 1;
    }
    m_pending.append(reinterpret_cast<const char *>(bytes + start), count - start);
}

void PcapWriter::Packet(const uint8_t *bytes, size_t count)
{
    if (m_file == nullptr || count == 0)
        return;
    const uint64_t us = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count());
    std::string body;
    Put32(&body, 0);  // interface 0
    Put32(&body, static_cast<uint32_t>(us >> 32));
    Put32(&body, static_cast<uint32_t>(us));
    Put32(&body, static_cast<uint32_t>(count));
    Put32(&body, static_cast<uint32_t>(count));
    body.append(reinterpret_cast<const char *>(bytes), count);
    const std::string block = Block(6, std::move(body));
    if (std::fwrite(block.data(), 1, block.size(), m_file) != block.size())
        m_failed = true;
}

bool PcapWriter::Flush()
{
    if (m_file && std::fflush(m_file) != 0)
        m_failed = true;
    return !m_failed;
}

bool PcapWriter::Close()
{
    if (m_file == nullptr)
        return !m_failed;
    Packet(reinterpret_cast<const uint8_t *>(m_pending.data()), m_pending.size());
    m_pending.clear();
    if (std::fclose(m_file) != 0)
        m_failed = true;
    m_file = nullptr;
    return !m_failed;
}

}  // namespace klp
