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

bool IsPrintable(char c) { return c >= 0x20 && c <= 0x7E; }

// Keeps only the characters 0x20 to 0x7E, closing up the rest; returns the new length.
// Most messages are all printable but for their final line feed, so skip to the first
// character that goes before moving anything.
size_t KeepPrintable(char *text, size_t length)
{
    size_t out = 0;
    while (out < length && IsPrintable(text[out]))
        ++out;
    for (size_t in = out; in < length; ++in)
        if (IsPrintable(text[in]))
            text[out++] = text[in];
    text[out] = '\0';
    return out;
}

// time, TAB, text, CR LF into line (kBufferSize bytes). A text that does not fit, or was
// already cut while formatting, is shortened and ends in "..." so the cut is visible.
void BuildLine(char *line, const char *time, const char *text, size_t textLength,
               bool alreadyCut)
{
    const size_t timeLength = std::min(std::strlen(time), kMaxStampLength);
    const size_t room = kBufferSize - 1 - timeLength - 3;  // TAB, CR, LF
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
    int length;
    if (std::strchr(format, '%') == nullptr) {
        // A plain text (the decoder's line for each stray byte is one) needs no formatting.
        length = static_cast<int>(std::strlen(format));
        std::memcpy(text, format, std::min(static_cast<size_t>(length) + 1, sizeof text));
        text[sizeof text - 1] = '\0';
    } else {
        va_list args;
        va_start(args, format);
        length = std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    if (length <= 0)
        return;  // nothing to say (or nothing that could be formatted)

    const bool formattedCut = static_cast<size_t>(length) >= sizeof text;
    const size_t textLength =
        KeepPrintable(text, formattedCut ? sizeof text - 1 : static_cast<size_t>(length));
    char time[kBufferSize];
    sys::TimeText(time, sizeof time);
    char line[kBufferSize];
    BuildLine(line, time, text, textLength, formattedCut);

    const WindowHandle page = m_hwndPage;
    AppendToControl(page, line);
    if (dlg::IsChecked(page, IDC_WRITE_LOG_FILE))
        AppendToFile(line);
}
