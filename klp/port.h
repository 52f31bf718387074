// The port a klp command works on, as given on its command line, and how it is opened.
#pragma once
#include <string>

#include "serial/serial_com.h"

namespace klp {

struct PortOptions {
    std::string port;
    int baud = 9600;
    // How long a network port (tcp://, rfc2217://) may take to connect, in seconds.
    double connectTimeout = 5;
    // The frames sent and received on standard error, as the Comms page logs them.
    bool verbose = false;
};

// Opens the link's port as the options say; kExitOk, or kExitPort once the reason was said.
int OpenPort(CSerialCom &link, const PortOptions &o);
// The same without a word: true once open (monitor --reopen tries again and again).
bool TryOpenPort(CSerialCom &link, const PortOptions &o);

// What to say when the open port stopped answering: an unplugged adapter, or the network
// port's connection closed.
std::string LostPortText(const PortOptions &o);

}  // namespace klp
