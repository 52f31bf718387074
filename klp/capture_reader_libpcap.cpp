// Captures read through libpcap (pcap and pcapng, any byte order or time precision).
#include <pcap/pcap.h>

#include "klp/capture_reader.h"

namespace klp {

namespace {

class PcapReader : public CaptureReader {
public:
    explicit PcapReader(pcap_t *p) : m_pcap(p) {}
    ~PcapReader() override { pcap_close(m_pcap); }

    bool Next(Packet *packet) override
    {
        pcap_pkthdr *header = nullptr;
        const u_char *data = nullptr;
        const int result = pcap_next_ex(m_pcap, &header, &data);
        if (result == 1) {
            packet->seconds = header->ts.tv_sec;
            // Opened for microseconds: libpcap scales a nanosecond file's stamps to them.
            packet->microseconds = static_cast<uint32_t>(header->ts.tv_usec);
            packet->linkType = pcap_datalink(m_pcap);
            packet->data = data;
            packet->length = header->caplen;
            return true;
        }
        if (result == PCAP_ERROR)
            m_failure = pcap_geterr(m_pcap);
        return false;
    }

    std::string Failure() const override { return m_failure; }

private:
    pcap_t *m_pcap;
    std::string m_failure;
};

}  // namespace

std::unique_ptr<CaptureReader> OpenCapture(const std::string &path, std::string *error)
{
    char text[PCAP_ERRBUF_SIZE] = "";
    pcap_t *p = pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_MICRO,
                                                        text);
    if (p == nullptr) {
        *error = text;
        return nullptr;
    }
    return std::unique_ptr<CaptureReader>(new PcapReader(p));
}

}  // namespace klp
