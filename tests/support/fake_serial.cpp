// A CSerialCom that records what is written and opens whatever the test says.
#include <string>

#include "serial/serial_com.h"
#include "tests/support/fake_serial.h"

namespace fake {

SerialState &Serial()
{
    static SerialState state;
    return state;
}

std::mutex &SerialMutex()
{
    static std::mutex mutex;
    return mutex;
}

}  // namespace fake

CSerialCom::CSerialCom() {}

CSerialCom::~CSerialCom() { Close(); }

void CSerialCom::OnReceive(const uint8_t *, uint32_t) {}

void CSerialCom::OnPortStalled() {}

int16_t CSerialCom::Open(const char *portName, int16_t baud)
{
    Close();
    std::lock_guard<std::mutex> lock(fake::SerialMutex());
    fake::Serial().opens.push_back(std::string(portName) + "@" + std::to_string(baud));
    const int16_t result = fake::Serial().openResult;
    if (result == 1)
        m_hPort = 1;
    return result;
}

int CSerialCom::Close()
{
    if (m_hPort == -1)
        return 0;
    m_hPort = -1;
    std::lock_guard<std::mutex> lock(fake::SerialMutex());
    ++fake::Serial().closes;
    return 1;
}

uint32_t CSerialCom::Write(const uint8_t *bytes, uint32_t count)
{
    if (m_hPort == -1 || bytes == nullptr || count == 0)
        return 0;
    std::lock_guard<std::mutex> lock(fake::SerialMutex());
    fake::Serial().writes.emplace_back(bytes, bytes + count);
    return fake::Serial().failWrites ? 0 : count;
}

bool CSerialCom::IsOpen() const { return m_hPort != -1; }
