// What the link reports, shown on the pages.
#include "app/sheet_events.h"

#include "comms/page/comms_dlg.h"
#include "config/page/config_dlg.h"

void SheetEvents::OnLine(const genisys::LineEvent &line)
{
    // Polls and acknowledgements are counted always, logged only while "Show Polls/ACKs" is ticked.
    if (!logline::Shows(line, theComms.m_showPolls.load()))
        return;
    theComms.LogText(line.text, line.length);
}

void SheetEvents::OnCounters(uint32_t polls, uint32_t acks) { theComms.ShowCounters(polls, acks); }

void SheetEvents::OnConfigFrame(const uint8_t *frame, uint8_t length, uint32_t arrivalTick)
{
    theConfig.OnConfigFrame(frame, length, arrivalTick);
}

void SheetEvents::OnPortStalled() { theComms.LogMessage("Serial port stopped responding.\n"); }
