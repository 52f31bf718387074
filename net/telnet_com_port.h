// The client side of Telnet with the COM port control option (RFC 2217), the subset a Genisys
// line needs: BINARY both ways, the line set to a baud rate and 8-N-1, RTS and DTR raised on
// open and dropped on close, and byte 255 escaped both ways. Bytes in, bytes out: no socket.
#pragma once
#include <cstdint>
#include <string>

namespace net {

constexpr uint8_t kIac = 255;
constexpr uint8_t kOptionBinary = 0;
constexpr uint8_t kOptionSuppressGoAhead = 3;
constexpr uint8_t kOptionComPort = 44;

class TelnetComPort {
public:
    explicit TelnetComPort(uint32_t baud) : m_baud(baud) {}

    // What the client says first: it will use the COM port option, and BINARY both ways.
    std::string Opening();
    // The modem lines dropped, as closing a local port does.
    std::string Closing() const;
    // Data for the wire: every 255 doubled.
    static void Escape(const uint8_t *bytes, uint32_t count, std::string *out);
    // Takes what the server sent: the line's data is appended to data, the answers the
    // negotiation calls for to reply (the settings once the server agreed to the option).
    void Receive(const uint8_t *bytes, size_t count, std::string *data, std::string *reply);

    // The rate the server said it set (0 until it answered SET-BAUDRATE), and how many of
    // the modem-line commands it answered.
    uint32_t ConfirmedBaud() const { return m_confirmedBaud; }
    int ConfirmedControls() const { return m_confirmedControls; }
    bool Refused() const { return m_refused; }  // the server will not do the COM port option

private:
    enum class State { kData, kIac, kOption, kSub, kSubIac };
    void Negotiate(uint8_t verb, uint8_t option, std::string *reply);
    void SubNegotiation();
    std::string Settings() const;

    uint32_t m_baud;
    State m_state = State::kData;
    uint8_t m_verb = 0;
    std::string m_sub;
    bool m_will[256] = {};  // WILL sent for the option (or WONT, once)
    bool m_do[256] = {};    // DO sent for the option (or DONT, once)
    bool m_settingsSent = false;
    bool m_refused = false;
    uint32_t m_confirmedBaud = 0;
    int m_confirmedControls = 0;
};

}  // namespace net
