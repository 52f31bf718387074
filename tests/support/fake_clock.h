// A settable tick and fixed time and date texts, for tests of the core and of the pages.
#pragma once
#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace fake {

void SetTick(uint32_t tick);
void AdvanceTick(uint32_t ms);
void SetTimeText(const std::string &text);  // default "10:54:31"
void SetDateText(const std::string &text);  // default "15/12/2011"
// Tick 0 and the default texts.
void ResetClock();

}  // namespace fake
