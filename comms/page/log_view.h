// What the log control's text becomes when lines are appended one at a time, each after the
// trim that keeps the control short: worked out once for a whole batch, so the window can
// apply the batch with one or two edits and one repaint.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace logview {

constexpr int kTrimAtLines = 60;  // the control keeps at most 59 complete lines...
constexpr int kTrimLines = 10;    // ...and drops the oldest ten at a time

// text: what the control holds (the user may have typed into it); lines: complete lines, each
// ending in CR LF and holding no other CR or LF. Appending them one by one, with the trim
// before each (ten lines cut from the top when the control counts 60 lines or more, the text
// after the last CR LF counting as a line), leaves a suffix of text + lines: the result is
// where it starts.
size_t TrimmedStart(const std::string &text, const std::string &lines);

}  // namespace logview
