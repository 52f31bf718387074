// RFC 2217's client subset: negotiation, the line's settings, and the escape of byte 255.
#include "net/telnet_com_port.h"

namespace net {

namespace {

constexpr uint8_t kSe = 240, kSb = 250, kWill = 251, kWont = 252, kDo = 253, kDont = 254;
// COM-PORT-OPTION commands (a server answers with the command plus 100).
constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                  kSetControl = 5;
constexpr uint8_t kServerOffset = 100;
constexpr uint8_t kParityNone = 1, kStopOne = 1;
constexpr uint8_t kDtrOn = 8, kDtrOff = 9, kRtsOn = 11, kRtsOff = 12;

bool Supported(uint8_t option)
{
    return option == kOptionBinary || option == kOptionSuppressGoAhead || option == kOptionComPort;
}

void Command(std::string *out, uint8_t verb, uint8_t option)
{
    out->push_back(static_cast<char>(kIac));
    out->push_back(static_cast<char>(verb));
    out->push_back(static_cast<char>(option));
}

// IAC SB COM-PORT-OPTION command value... IAC SE, the value escaped.
void ComPort(std::string *out, uint8_t command, const uint8_t *value, uint32_t count)
{
    out->push_back(static_cast<char>(kIac));
    out->push_back(static_cast<char>(kSb));
    out->push_back(static_cast<char>(kOptionComPort));
    out->push_back(static_cast<char>(command));
    TelnetComPort::Escape(value, count, out);
    out->push_back(static_cast<char>(kIac));
    out->push_back(static_cast<char>(kSe));
}

void ComPort(std::string *out, uint8_t command, uint8_t value) { ComPort(out, command, &value, 1); }

}  // namespace

std::string TelnetComPort::Opening()
{
    std::string out;
    Command(&out, kWill, kOptionComPort);
    Command(&out, kWill, kOptionBinary);
    Command(&out, kDo, kOptionBinary);
    m_will[kOptionComPort] = m_will[kOptionBinary] = m_do[kOptionBinary] = true;
    return out;
}

std::string TelnetComPort::Settings() const
{
    const uint8_t baud[4] = {static_cast<uint8_t>(m_baud >> 24), static_cast<uint8_t>(m_baud >> 16),
                             static_cast<uint8_t>(m_baud >> 8), static_cast<uint8_t>(m_baud)};
    std::string out;
    ComPort(&out, kSetBaudRate, baud, 4);
    ComPort(&out, kSetDataSize, 8);
    ComPort(&out, kSetParity, kParityNone);
    ComPort(&out, kSetStopSize, kStopOne);
    ComPort(&out, kSetControl, kRtsOn);
    ComPort(&out, kSetControl, kDtrOn);
    return out;
}

std::string TelnetComPort::Closing() const
{
    std::string out;
    ComPort(&out, kSetControl, kDtrOff);
    ComPort(&out, kSetControl, kRtsOff);
    return out;
}

void TelnetComPort::Escape(const uint8_t *bytes, uint32_t count, std::string *out)
{
    for (uint32_t i = 0; i < count; ++i) {
        out->push_back(static_cast<char>(bytes[i]));
        if (bytes[i] == kIac)
            out->push_back(static_cast<char>(kIac));
    }
}

void TelnetComPort::Receive(const uint8_t *bytes, size_t count, std::string *data,
                            std::string *reply)
{
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (m_state) {
        case State::kData:
            if (b == kIac)
                m_state = State::kIac;
            else
                data->push_back(static_cast<char>(b));
            break;
        case State::kIac:
            if (b == kIac) {
                data->push_back(static_cast<char>(b));
                m_state = State::kData;
            } else if (b >= kWill && b <= kDont) {
                m_verb = b;
                m_state = State::kOption;
            } else if (b == kSb) {
                m_sub.clear();
                m_state = State::kSub;
            } else {
                m_state = State::kData;  // NOP, GA and the like carry nothing for the line
            }
            break;
        case State::kOption:
            Negotiate(m_verb, b, reply);
            m_state = State::kData;
            break;
        case State::kSub:
            if (b == kIac)
                m_state = State::kSubIac;
            else
                m_sub.push_back(static_cast<char>(b));
            break;
        case State::kSubIac:
            if (b == kSe) {
                SubNegotiation();
                m_state = State::kData;
            } else {
                m_sub.push_back(static_cast<char>(b));  // IAC IAC inside: one 255
                m_state = State::kSub;
            }
            break;
        }
    }
}

// Agrees once to what it supports and refuses the rest once, so that no loop of answers
// starts; the server agreeing to the COM port option is the moment to send the settings.
void TelnetComPort::Negotiate(uint8_t verb, uint8_t option, std::string *reply)
{
    if (verb == kDo || verb == kDont) {
        if (verb == kDo && option == kOptionComPort && !m_settingsSent) {
            *reply += Settings();
            m_settingsSent = true;
        }
        if (verb == kDont && option == kOptionComPort)
            m_refused = true;
        if (verb == kDo && !m_will[option]) {
            Command(reply, Supported(option) ? kWill : kWont, option);
            m_will[option] = true;
        }
        return;
    }
    if (verb == kWill && !m_do[option]) {
        Command(reply, Supported(option) ? kDo : kDont, option);
        m_do[option] = true;
    }
}

void TelnetComPort::SubNegotiation()
{
    if (m_sub.size() < 2 || static_cast<uint8_t>(m_sub[0]) != kOptionComPort)
        return;
    const uint8_t command = static_cast<uint8_t>(m_sub[1]);
    if (command == kServerOffset + kSetBaudRate && m_sub.size() >= 6) {
        m_confirmedBaud = 0;
        for (int i = 2; i < 6; ++i)
            m_confirmedBaud = (m_confirmedBaud << 8) | static_cast<uint8_t>(m_sub[i]);
    } else if (command == kServerOffset + kSetControl) {
        ++m_confirmedControls;
    }
}

}  // namespace net
