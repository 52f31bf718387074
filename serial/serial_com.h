// CSerialCom: one serial port, opened exclusively, with a reader thread feeding OnReceive.
// The steps of opening and closing are serial_com.cpp's; what each step does on the device is
// written once per platform, in serial_com_win32.cpp and serial_com_posix.cpp.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class PortTransport;

// Results of CSerialCom::Open.
enum SerialOpenResult : int16_t {
    kSerialOpenOk = 1,
    kSerialOpenDeviceFailed = -1,    // the device could not be opened
    kSerialOpenTimeoutsFailed = -2,  // the time-outs were refused
    kSerialOpenLineFailed = -3,      // the line settings were refused
    kSerialOpenThreadFailed = -4,    // the reader thread could not be started
};

class CSerialCom {
public:
    CSerialCom();
    virtual ~CSerialCom();

    // Called on the reader thread with 1 to 1024 bytes; the buffer is reused after return.
    virtual void OnReceive(const uint8_t *bytes, uint32_t count);
    // Called on the reader thread once when the device stops answering (waits and reads keep
    // failing, as when a USB adapter is unplugged); called again only after it recovered.
    virtual void OnPortStalled();

    int16_t Open(const char *portName, int16_t baud);
    // Why the last Open failed: the operating system's error code (errno on POSIX,
    // GetLastError() on Windows) as the failing step left it; 0 after an Open that succeeded.
    int OpenError() const { return m_openError; }
    int Close();  // 1 when an open port was closed, 0 when none was open
    // Blocks until every byte went out or the write time-out (1000 ms and 1 ms a byte) ran
    // out, and returns the bytes that went out. A write that times out or fails part-way
    // returns the count sent before it stopped, so the caller knows part of a frame is on
    // the line; 0 when closed, given nothing, or refused before a byte went out.
    uint32_t Write(const uint8_t *bytes, uint32_t count);
    bool IsOpen() const;
    // Opens the port over a transport instead of a local device (klp's network ports): from
    // here until Close, Write goes to it and what it receives comes to OnReceive.
    int16_t Attach(std::shared_ptr<PortTransport> transport);

    static constexpr uint32_t kChunkSize = 1024;        // one read, one OnReceive call at most
    static constexpr uint32_t kWriteConstantMs = 1000;  // write time-out: this plus so much a byte
    static constexpr uint32_t kCloseWaitMs = 10000;     // Close waits no longer for the reader

    CSerialCom(const CSerialCom &) = delete;
    CSerialCom &operator=(const CSerialCom &) = delete;

protected:
    // The open port's handle (HANDLE on Windows, descriptor on POSIX), -1 while closed: lets
    // a subclass ask the device what it was set to.
    intptr_t PortHandle() const { return m_hPort.load(); }

private:
    // Per-open state: the device handle, the reader's own stop flag, its buffer and events.
    // The reader thread of that open holds a reference, so a reader left behind after the
    // 10 s limit of Close keeps its own state alive and never sees a later open's.
    struct Reader;
    std::shared_ptr<Reader> AcquireReader();
    // The reader thread of one open: waits for bytes or line events and hands on what arrives.
    static void ReaderThread(CSerialCom *owner, std::shared_ptr<Reader> reader);

    // The write time-out's share of each byte: 1 ms at every rate above 11 baud.
    static uint32_t WriteMsPerByte(int16_t baud)
    {
        return baud > 0 ? 11u / static_cast<uint32_t>(baud) + 1 : 1;
    }

    // The platform's half, one definition per platform. Each failing step stores the
    // system's reason in *error as it happens.
    static int NoNameError();  // the reason a port without a name gives
    // Opens the device exclusively into a new reader, with the line and time-outs set and the
    // means to wake the reader made: kSerialOpenOk, or the step that failed.
    static int16_t OpenDevice(const char *portName, int16_t baud, std::shared_ptr<Reader> *reader,
                              int *error);
    // Starts the reader thread of an opened device: its handle, nullptr when it cannot start.
    static void *StartReader(CSerialCom *owner, const std::shared_ptr<Reader> &reader, int *error);
    static intptr_t DeviceOf(const Reader &reader);  // what PortHandle gives while it is open
    static void SetRts(Reader &reader, bool on);
    static void SetDtr(Reader &reader, bool on);
    // Sets the reader's stop flag, then cuts short whatever it is waiting in.
    static void WakeReader(Reader &reader);
    static bool OnReaderThread(Reader &reader, void *thread);
    // Waits up to limitMs for the woken reader to end; true when it did.
    static bool AwaitReader(Reader &reader, void *thread, uint32_t limitMs);
    // Lets go of the reader thread: ended tells whether AwaitReader saw it end.
    static void ReleaseReader(Reader &reader, void *thread, bool ended);
    // Writes to the device as Write promises, whole against other writers.
    static uint32_t WriteDevice(Reader &reader, const uint8_t *bytes, uint32_t count);

    // The port's fields as the program has always had them. The reader itself watches the
    // stop flag of its own open (Reader), so that one left behind never sees a later open's.
    void *m_hThread = nullptr;          // the open's reader thread; meaningful only while open
    std::atomic<int> m_stop{0};         // 0 while the reader is to run, 1 once Close began
    std::atomic<intptr_t> m_hPort{-1};  // INVALID_HANDLE_VALUE / -1 while closed
    std::mutex m_readerLock;            // guards m_reader while Write takes a reference
    std::shared_ptr<Reader> m_reader;
    int m_openError = 0;
    // The transport of an attached port (serial_com_transport.cpp); guarded by m_readerLock.
    std::shared_ptr<PortTransport> m_transport;
    std::atomic<bool> m_attached{false};  // a transport is open: IsOpen without the lock
    std::shared_ptr<PortTransport> AcquireTransport();
    bool CloseTransport();  // true when a transport was open
};
