// CSerialCom's steps of opening, closing and writing, the same on every platform; each step's
// work on the device is the platform's (serial_com_posix.cpp, serial_com_win32.cpp).
#include "serial/serial_com.h"

#include "serial/port_transport.h"

CSerialCom::CSerialCom() {}

CSerialCom::~CSerialCom() { Close(); }

void CSerialCom::OnReceive(const uint8_t *, uint32_t) {}

void CSerialCom::OnPortStalled() {}

bool CSerialCom::IsOpen() const
{
    // INVALID_HANDLE_VALUE is -1 as well.
    return m_hPort.load() != -1 || m_attached.load();
}

std::shared_ptr<CSerialCom::Reader> CSerialCom::AcquireReader()
{
    std::lock_guard<std::mutex> lock(m_readerLock);
    return m_reader;
}

int16_t CSerialCom::Open(const char *portName, int16_t baud)
{
    Close();
    m_openError = NoNameError();
    if (portName == nullptr)
        return kSerialOpenDeviceFailed;
    std::shared_ptr<Reader> r;
    const int16_t opened = OpenDevice(portName, baud, &r, &m_openError);
    if (opened != kSerialOpenOk)
        return opened;  // the device, if it opened, closes with r
    m_stop = 0;
    void *thread = StartReader(this, r, &m_openError);
    if (thread == nullptr)
        return kSerialOpenThreadFailed;
    m_openError = 0;
    m_hThread = thread;
    m_hPort = DeviceOf(*r);
    {
        std::lock_guard<std::mutex> lock(m_readerLock);
        m_reader = r;
    }
    // The far end sees the port ready only once it can answer.
    SetRts(*r, true);
    SetDtr(*r, true);
    return kSerialOpenOk;
}

int CSerialCom::Close()
{
    if (CloseTransport())
        return 1;
    // Taken out under the lock, so a Write in progress keeps its own reference and a second
    // Close finds nothing.
    std::shared_ptr<Reader> r;
    {
        std::lock_guard<std::mutex> lock(m_readerLock);
        r.swap(m_reader);
    }
    if (!r)
        return 0;
    // Closed to new writes from here on; the reader stops at its next look at its flag.
    m_hPort = -1;
    m_stop = 1;
    WakeReader(*r);
    // A reader closing its own port from OnReceive cannot wait for itself.
    const bool ended = !OnReaderThread(*r, m_hThread) && AwaitReader(*r, m_hThread, kCloseWaitMs);
    ReleaseReader(*r, m_hThread, ended);  // one left behind holds its own reference
    SetRts(*r, false);
    SetDtr(*r, false);
    return 1;  // the device is closed with the last reference, normally this one
}

uint32_t CSerialCom::Write(const uint8_t *bytes, uint32_t count)
{
    if (bytes == nullptr || count == 0)
        return 0;
    if (std::shared_ptr<PortTransport> t = AcquireTransport())
        return t->Write(bytes, count);
    std::shared_ptr<Reader> r = AcquireReader();
    if (!r)
        return 0;
    return WriteDevice(*r, bytes, count);
}
