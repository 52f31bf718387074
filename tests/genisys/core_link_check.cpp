// A program of the link core alone, with the real serial port and clock of its platform: it
// links only if the core needs nothing of the pages, the program or the window seams. Run, it
// decodes one poll and prints the line it was given.
#include <cstdio>

#include "genisys/genisys_protocol.h"

namespace {

class PrintEvents : public genisys::SilentEvents {
public:
    void OnLine(const genisys::LineEvent &line) override
    {
        std::printf("%.*s\n", static_cast<int>(line.length), line.text);
    }
};

}  // namespace

int main()
{
    PrintEvents events;
    CGenisysProtocol link(&events);
    const uint8_t poll[] = {0xFB, 0x07, 0xF6};
    link.OnReceive(poll, sizeof poll);
    return link.m_rxPolls == 1 ? 0 : 1;
}
