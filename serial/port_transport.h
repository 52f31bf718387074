// PortTransport: a port that is not a local serial device (a socket to a device server), put
// behind CSerialCom so that the link above it sends and receives as on a local port.
#pragma once
#include <cstdint>

class CSerialCom;

class PortTransport {
public:
    virtual ~PortTransport() {}
    // Starts handing what arrives to owner's OnReceive, and a lost connection to its
    // OnPortStalled, on the transport's own thread; false when that thread cannot start.
    virtual bool Start(CSerialCom *owner) = 0;
    // As CSerialCom::Write: blocks until all went out or the time-out ran out; the count sent.
    virtual uint32_t Write(const uint8_t *bytes, uint32_t count) = 0;
    // Tells the far end the port closes (modem lines down), stops the thread, drops the link.
    // Never called from the transport's own thread while it waits for it.
    virtual void Close() = 0;
};
