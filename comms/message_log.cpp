// The message log: one time-stamped, printable line per message, in the Comms page's log
// control and, while the user wants it, appended to CommsLog.txt.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "comms/comms_dlg.h"
#include "platform/dialog.h"
#include "platform/files.h"
#include "platform/system.h"
#include "res/resource.h"

const char kCommsLogFile[] = "CommsLog.txt";

namespace {

constexpr size_t kBufferSize = 256;  // a line, with its CR LF, is at most 255 characters
constexpr int kTrimAtLines = 60;     // the control keeps at most 59 complete lines...
constexpr int kTrimLines = 10;       // ...and drops the oldest ten at a time
constexpr int kEndOfText = 0x8000;   // past the end of anything the trimmed log can hold
constexpr size_t kMaxStampLength = 64;  // a locale's time text is far shorter than this
const char kCutMark[] = "...";

// Both threads log; appending under one lock keeps a line from being lost when they meet.
std::mutex g_fileMutex;

// Keeps only the characters 0x20 to 0x7E, closing up the rest.
void KeepPrintable(char *text)
{
    char *out = text;
    for (const char *in = text; *in; ++in)
        if (*in >= 0x20 && *in <= 0x7E)
            *out++ = *in;
    *out = '\0';
}

// time, TAB, text, CR LF into line (kBufferSize bytes). A text that does not fit, or was
// already cut while formatting, is shortened and ends in "..." so the cut is visible.
void BuildLine(char *line, const char *time, const char *text, bool alreadyCut)
{
    const size_t timeLength = std::min(std::strlen(time), kMaxStampLength);
    const size_t room = kBufferSize - 1 - timeLength - 3;  // TAB, CR, LF
    size_t textLength = std::strlen(text);
    const bool cut = alreadyCut || textLength > room;
    textLength = std::min(textLength, room);

    char *p = line;
    std::memcpy(p, time, timeLength);
    p += timeLength;
    *p++ = '\t';
    std::memcpy(p, text, textLength);
    if (cut && textLength >= sizeof kCutMark - 1)
        std::memcpy(p + textLength - (sizeof kCutMark - 1), kCutMark, sizeof kCutMark - 1);
    p += textLength;
    std::memcpy(p, "\r\n", 3);
}

void AppendToControl(WindowHandle page, const char *line)
{
    if (dlg::EditLineCount(page, IDC_LOG) >= kTrimAtLines) {
        const int end = dlg::EditLineIndex(page, IDC_LOG, kTrimLines);
        if (end > 0) {
            dlg::EditSetSel(page, IDC_LOG, 0, end);
            dlg::EditClear(page, IDC_LOG);
        }
    }
    dlg::EditSetSel(page, IDC_LOG, kEndOfText, kEndOfText);
    dlg::EditReplaceSel(page, IDC_LOG, line);
    dlg::EditSetSel(page, IDC_LOG, kEndOfText, kEndOfText);
    dlg::EditScrollCaret(page, IDC_LOG);
}

void AppendToFile(const char *line)
{
    char date[kBufferSize];
    sys::DateText(date, sizeof date - 1);
    const size_t dateLength = std::min(std::strlen(date), kMaxStampLength);
    date[dateLength] = '\t';
    std::lock_guard<std::mutex> lock(g_fileMutex);
    files::AppendPair(kCommsLogFile, date, dateLength + 1, line, std::strlen(line));
}

}  // namespace

void CCommsDlg::LogMessage(const char *format, ...)
{
    char text[kBufferSize];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length <= 0)
        return;  // nothing to say (or nothing that could be formatted)

    KeepPrintable(text);
    char time[kBufferSize];
    sys::TimeText(time, sizeof time);
    char line[kBufferSize];
    BuildLine(line, time, text, static_cast<size_t>(length) >= sizeof text);

    const WindowHandle page = m_hwndPage;
    AppendToControl(page, line);
    if (dlg::IsChecked(page, IDC_WRITE_LOG_FILE))
        AppendToFile(line);
}
