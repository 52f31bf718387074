// CGenisysProtocol: the link object; sends Genisys frames and decodes received traffic.
#pragma once
#include <atomic>
#include <cstdint>

#include "genisys/genisys_frame.h"
#include "serial/serial_com.h"

class CGenisysProtocol : public CSerialCom {
public:
    static constexpr int kRxBufferSize = 128;

    // Encodes and writes one frame, then logs it unless SEND_NOLOG; 1 when bytes were written.
    int SendFrame(uint8_t header, uint8_t address, const uint8_t *data, int n, int flags);

    // The receive decoder: assembles, checks and reports frames byte by byte.
    void OnReceive(const uint8_t *bytes, uint32_t count) override;

    // Tells the technician, once, that the port has stopped answering.
    void OnPortStalled() override;

    // Opens the port, or shows what failed; 1 when open, 0 after a failure was shown.
    int OpenPort(const char *portName, int16_t baud);

    std::atomic<int32_t> m_slaveToConfig{1};  // "slave to config" address, edited on the Comms page
    int m_portOpen = 0;
    uint8_t m_rxBuffer[kRxBufferSize] = {};
    int m_rxLength = 0;

private:
    void ProcessFrame();
    void ReportCrcFailure(int k);
    void Classify(int k);
};
