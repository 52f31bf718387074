// The property sheet's side of the link's events: lines to the message log, counts to the
// Comms page's label, configuration frames to the configuration page.
#pragma once
#include "genisys/link_events.h"

class SheetEvents : public genisys::LinkEvents {
public:
    void OnLine(const genisys::LineEvent &line) override;
    void OnCounters(uint32_t polls, uint32_t acks) override;
    void OnConfigFrame(const uint8_t *frame, uint8_t length, uint32_t arrivalTick) override;
    void OnPortStalled() override;
};

extern SheetEvents theSheetEvents;
