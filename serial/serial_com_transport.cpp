// CSerialCom over a PortTransport: the part of the port that is the same on every platform.
#include <utility>

#include "serial/port_transport.h"
#include "serial/serial_com.h"

int16_t CSerialCom::Attach(std::shared_ptr<PortTransport> transport)
{
    Close();
    if (!transport)
        return kSerialOpenDeviceFailed;
    {
        std::lock_guard<std::mutex> lock(m_readerLock);
        m_transport = transport;
        m_attached = true;
    }
    if (!transport->Start(this)) {
        CloseTransport();
        return kSerialOpenThreadFailed;
    }
    return kSerialOpenOk;
}

std::shared_ptr<PortTransport> CSerialCom::AcquireTransport()
{
    std::lock_guard<std::mutex> lock(m_readerLock);
    return m_transport;
}

bool CSerialCom::CloseTransport()
{
    std::shared_ptr<PortTransport> t;
    {
        std::lock_guard<std::mutex> lock(m_readerLock);
        t.swap(m_transport);
        m_attached = false;
    }
    if (!t)
        return false;
    t->Close();
    return true;
}
