// The Windows build of klp serves no metrics: prometheus-cpp is built for Linux only.
#include "klp/metrics.h"
#include "klp/output.h"

namespace klp {

std::unique_ptr<MetricsServer> ServeMetrics(const std::string &, const LineMetrics &, int *code)
{
    *code = Fail(kExitUsage, "--metrics is served by the Linux build of klp only.");
    return nullptr;
}

}  // namespace klp
