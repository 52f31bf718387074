// CGenisysProtocol: the link object; sends Genisys frames and decodes received traffic, and
// reports both through the events it is handed.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "genisys/genisys_frame.h"
#include "genisys/link_events.h"
#include "serial/serial_com.h"

class CGenisysProtocol : public CSerialCom {
public:
    static constexpr int kRxBufferSize = 128;

    explicit CGenisysProtocol(genisys::LinkEvents *events = nullptr) { SetEvents(events); }

    // Where lines, counters, configuration frames and a stalled port are reported; events
    // must outlive the link (or be replaced before they go). Until then nothing is reported.
    void SetEvents(genisys::LinkEvents *events);

    // Encodes and writes one frame, then logs it unless SEND_NOLOG; 1 when bytes were written.
    int SendFrame(uint8_t header, uint8_t address, const uint8_t *data, int n, int flags);

    // How received frames' CRCs are checked: the page's CRC-16/ARC unless told otherwise.
    // kAuto decides on the first frame that passes either and tells the events which.
    void SetCrc(genisys::CrcChoice crc) { m_crc = crc; }
    genisys::CrcChoice Crc() const { return m_crc; }  // kAuto while undecided

    // The receive decoder: assembles, checks and reports frames byte by byte.
    void OnReceive(const uint8_t *bytes, uint32_t count) override;

    // Tells the events, once, that the port has stopped answering.
    void OnPortStalled() override;

    // Opens the port, or shows what failed; 1 when open, 0 after a failure was shown. It is the
    // Comms page's way in and shows a message box, so it is defined with that page
    // (comms/page/comms_page.cpp), not in the link core.
    int OpenPort(const char *portName, int16_t baud);

    std::atomic<int32_t> m_slaveToConfig{1};  // "slave to config" address, edited on the Comms page
    int m_portOpen = 0;
    uint8_t m_rxBuffer[kRxBufferSize] = {};
    int m_rxLength = 0;
    // Polls and acknowledgements received since the process started; never reset.
    uint32_t m_rxPolls = 0;
    uint32_t m_rxAcks = 0;

private:
    void ProcessFrame();
    uint16_t FrameCrc(int length, uint16_t received);
    void ReportCrcFailure(int k);
    void Classify(int k);
    void Report(genisys::LineKind kind, const char *format, const char *text = "");

    genisys::CrcChoice m_crc = genisys::CrcChoice::kArc;
    genisys::SilentEvents m_silent;
    genisys::LinkEvents *m_events = &m_silent;
    // A reader left behind by Close's time limit may still be decoding when a later open's
    // reader starts: the two take turns, so the receive state has one user at a time.
    std::mutex m_decodeLock;
};

extern CGenisysProtocol theLink;  // the program's one link (defined by the program, not the core)
