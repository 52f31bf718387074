// The log control's trim rule, applied to a whole batch of lines at once.
#include "comms/page/log_view.h"

namespace logview {

namespace {

// Offsets of every CR LF in text then lines, as if they were one text.
std::vector<size_t> LineBreaks(const std::string &text, const std::string &lines)
{
    std::vector<size_t> breaks;
    for (size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2)
        breaks.push_back(p);
    for (size_t p = 0; (p = lines.find("\r\n", p)) != std::string::npos; p += 2)
        breaks.push_back(text.size() + p);
    return breaks;
}

}  // namespace

size_t TrimmedStart(const std::string &text, const std::string &lines)
{
    const std::vector<size_t> breaks = LineBreaks(text, lines);
    size_t start = 0;      // where the control's text begins, in text + lines
    size_t end = text.size();  // where it ends: the next line goes here
    size_t first = 0;      // the first break at or after start
    size_t inside = 0;     // breaks wholly before end
    while (inside < breaks.size() && breaks[inside] + 2 <= end)
        ++inside;
    // The lines' own breaks, after the text's, end one appended line each.
    for (size_t b = inside; b < breaks.size(); ++b) {
        const size_t count = 1 + (inside - first);  // EM_GETLINECOUNT of the current text
        if (count >= static_cast<size_t>(kTrimAtLines)) {
            start = breaks[first + kTrimLines - 1] + 2;  // EM_LINEINDEX of line 10
            first += kTrimLines;
        }
        end = breaks[b] + 2;
        inside = b + 1;
    }
    return start;
}

}  // namespace logview
