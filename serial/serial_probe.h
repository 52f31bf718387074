// Finding the COM ports at start-up: tries to open one device by name and says what it found.
// One implementation per platform (serial_probe_win32.cpp); tests link a scripted one.
#pragma once

namespace serial {

enum class ProbeResult {
    kPresent,  // opened (and closed again at once)
    kBusy,     // exists but is held by another program or is not answering
    kAbsent,   // no such device, or any other failure
};

ProbeResult ProbePort(const char *name);

}  // namespace serial
