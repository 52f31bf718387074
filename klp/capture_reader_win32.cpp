// klp.exe reads no network captures: there is no libpcap for it. It says where to go.
#include "klp/capture_reader.h"

namespace klp {

std::unique_ptr<CaptureReader> OpenCapture(const std::string &, std::string *error)
{
    *error = "klp.exe does not read network captures; decode it with the Linux build of klp, "
             "or decode the raw bytes of the line";
    return nullptr;
}

}  // namespace klp
