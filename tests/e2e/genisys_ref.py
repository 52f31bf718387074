"""An independent model of the line for the end-to-end tests: frames as the unit must receive
them, and the log line the program must show for a frame it receives."""

TERMINATOR = 0xF6
ESCAPE = 0xF0
CONFIG_MARKER = 0x0F0F


def _crc_table():
    table = []
    for byte in range(256):
        crc = byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
        table.append(crc)
    return table


_TABLE = _crc_table()


def crc16(data):
    """CRC-16/ARC."""
    crc = 0
    for b in data:
        crc = (crc >> 8) ^ _TABLE[(crc ^ b) & 0xFF]
    return crc


def escape(data):
    out = bytearray()
    for b in data:
        out += bytes([ESCAPE, (b + 0x10) & 0xFF]) if b >= ESCAPE else bytes([b])
    return bytes(out)


def unescape(wire):
    out, i = bytearray(), 0
    while i < len(wire):
        if wire[i] == ESCAPE and i + 1 < len(wire):
            out.append((wire[i + 1] - 0x10) & 0xFF)
            i += 2
        else:
            out.append(wire[i])
            i += 1
    return bytes(out)


def encode(header, address, data=b"", config=True):
    """A frame with its CRC as it goes on the wire; config frames carry the marker."""
    crc = crc16(bytes([header, address]) + data) ^ (CONFIG_MARKER if config else 0)
    body = bytes([address]) + data + bytes([crc & 0xFF, crc >> 8])
    return bytes([header]) + escape(body) + bytes([TERMINATOR])


def split_frames(wire):
    """Cuts a byte stream into frames, header to terminator (bytes outside frames dropped)."""
    frames, current = [], None
    for b in wire:
        if b > ESCAPE and b != TERMINATOR:
            current = bytearray([b])
        elif current is not None:
            current.append(b)
            if b == TERMINATOR:
                frames.append(bytes(current))
                current = None
    return frames


def _pairs(frame):
    k, text, i = len(frame), "", 2
    while i < k - 3:
        text += f" {frame[i]:02X}-{frame[i + 1]:02X}"
        i += 2
    return text


def _singles(frame):
    return "".join(f" {b:02X}" for b in frame[2:len(frame) - 3])


_CLASSES = {
    0xF2: ("Indication data message:{}.", _pairs),
    0xF3: ("Control checkback message:{}.", _pairs),
    0xF8: ("Date/Time update message:{}.", _singles),
    0xF9: ("Common control message:{}.", _pairs),
    0xFC: ("Control message:{}.", _pairs),
}
POLL_OR_ACK = (0xF1, 0xFA, 0xFB)


def log_line(wire):
    """The log text for one received frame (wire bytes, header to terminator), and whether it
    is a poll or acknowledgement (shown only with "Show Polls/ACKs" ticked)."""
    frame = unescape(wire)
    header, k = frame[0], len(frame)
    address = frame[1] if k > 1 else 0
    insecure = header in (0xF1, 0xFB) and k == 3
    if not insecure:
        received = frame[k - 3] | frame[k - 2] << 8 if k >= 5 else None
        computed = crc16(frame[:k - 3]) if k >= 5 else None
        if received is not None and computed == received ^ CONFIG_MARKER:
            kind = {0xF1: "acknowledge", 0xF2: "receive data"}.get(header, f"0x{header:02X}")
            return f"ID {address} Rx: Config message ({kind}).", False
        if received is None or computed != received:
            return "CRC failed:" + "".join(f" {b:02X}" for b in frame) + ".", False
    if header == 0xF1:
        return f"ID {address} Rx: Ack master message.", True
    if header == 0xFA:
        return f"ID {address} Rx: Ack slave message.", True
    if header == 0xFB:
        return f"ID {address} Rx: Poll message ({'insecure' if k == 3 else 'secure'}).", True
    if header == 0xFD:
        return f"ID {address} Rx: Recall message.", False
    if header in _CLASSES:
        form, text = _CLASSES[header]
        return f"ID {address} Rx: " + form.format(text(frame)), False
    return f"ID {address} Rx: Unknown 0x{header:02X} message:{_singles(frame)}.", False
