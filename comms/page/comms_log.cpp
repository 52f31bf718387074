// CCommsDlg's message log: each line formatted and time-stamped on the thread that logs it, queued,
// and shown by the user-interface thread a batch at a time, with the control's trim applied as
// if the lines had come one by one; while the user wants it, also appended to CommsLog.txt.
#include <cstdarg>
#include <cstdio>

#include "comms/page/comms_dlg.h"
#include "comms/page/log_view.h"
#include "platform/dialog.h"
#include "platform/files.h"
#include "platform/system.h"
#include "res/resource.h"

const char kCommsLogFile[] = "CommsLog.txt";

namespace {

// Appends from both threads, and from two readers when one was left behind, go in whole.
std::mutex g_fileMutex;

}  // namespace

void CCommsDlg::LogMessage(const char *format, ...)
{
    logline::Message m;
    va_list args;
    va_start(args, format);
    const bool any = logline::Format(m, format, args);
    va_end(args);
    if (any)
        Enqueue(m);
}

void CCommsDlg::LogText(const char *text, size_t length)
{
    logline::Message m;
    if (logline::FromText(m, text, length))
        Enqueue(m);
}

void CCommsDlg::Enqueue(logline::Message &m)
{
    // Each line takes the date it was logged on, whenever the window gets to it.
    logline::StampedLine s;
    s.ReadClock(m_writeLogFile.load());
    s.Build(m);
    RequestFlush(m_queue.Push(s.line, s.length, s.prefix, s.prefixLength));
}

void CCommsDlg::ShowCounters(uint32_t polls, uint32_t acks)
{
    m_pollCount = polls;
    m_ackCount = acks;
    m_countersChanged = true;
    RequestFlush(0);
}

// A line from the user-interface thread is shown at once, after everything queued before it.
// Other threads wake the window once and let it take what has gathered; past the queue's
// capacity they wait until it has (the sent call is served even in modal loops and while
// the port closes).
void CCommsDlg::RequestFlush(size_t queued)
{
    if (sys::OnUiThread())
        Flush();
    else if (queued >= LogQueue::kCapacity)
        sys::RunOnUiThread(FlushNow, this);
    else if (!m_flushPending.exchange(true))
        sys::PostToUiThread(FlushPosted, this);
}

void CCommsDlg::FlushNow(void *self) { static_cast<CCommsDlg *>(self)->Flush(); }

// The first line after a quiet spell shows at once; while more keep coming, the next batch
// waits for a timer, which the window serves only after input and painting.
void CCommsDlg::FlushPosted(void *self)
{
    CCommsDlg *log = static_cast<CCommsDlg *>(self);
    log->Flush();
    sys::RunOnUiThreadLater(kBatchMs, FlushLater, log);
}

void CCommsDlg::FlushLater(void *self)
{
    CCommsDlg *log = static_cast<CCommsDlg *>(self);
    if (log->Flush()) {
        sys::RunOnUiThreadLater(kBatchMs, FlushLater, log);
        return;
    }
    if (log->m_afterIdleFlush)
        log->m_afterIdleFlush(log);
    log->m_flushPending = false;
    // A line or counters that came just before the flag went down found it still up and
    // posted nothing: take them now.
    if ((log->m_countersChanged.load() || !log->m_queue.Empty()) &&
        !log->m_flushPending.exchange(true))
        sys::RunOnUiThreadLater(kBatchMs, FlushLater, log);
}

bool CCommsDlg::Flush()
{
    // A control's notification that logs while a batch goes in must not start another batch
    // in the middle of this one: its line waits for the next.
    static thread_local bool flushing = false;
    if (flushing) {
        if (!m_flushPending.exchange(true))
            sys::PostToUiThread(FlushPosted, this);
        return false;
    }
    flushing = true;
    struct Done {
        ~Done() { flushing = false; }
    } done;
    std::lock_guard<std::mutex> lock(m_flushLock);
    const bool counters = m_countersChanged.exchange(false);
    if (counters) {
        char text[32];
        std::snprintf(text, sizeof text, "%u/%u", m_pollCount.load(), m_ackCount.load());
        dlg::SetText(m_hwndPage, IDC_COUNTERS, text);
    }
    const std::string &batch = m_queue.TakeAll();
    if (batch.empty())
        return counters;
    // The file first: whoever sees a line in the log finds it in the file too.
    AppendToFile(batch);
    ShowLines(batch);
    return true;
}

// The whole batch with at most one trim and one insertion, so the control repaints once or
// twice, and nothing the user does can land between the parts of a line.
void CCommsDlg::ShowLines(const std::string &batch)
{
    const WindowHandle page = m_hwndPage;
    if (page == nullptr)
        return;  // no page yet: nothing to show the lines in
    m_lines.clear();
    ForEachQueuedLine(batch, [this](const char *line, size_t n, const char *, size_t) {
        m_lines.append(line, n);
    });
    m_shown.resize(dlg::GetTextLength(page, IDC_LOG) + 1);
    m_shown.resize(dlg::GetText(page, IDC_LOG, &m_shown[0], m_shown.size()));

    const size_t start = logview::TrimmedStart(m_shown, m_lines);
    const int shown = static_cast<int>(m_shown.size());
    int end = shown;
    const char *added = m_lines.c_str();
    if (start > m_shown.size()) {
        // Even the batch's first lines are trimmed away: only its tail stays.
        added += start - m_shown.size();
        dlg::EditSetSel(page, IDC_LOG, 0, shown);
        end = 0;
    } else {
        if (start > 0) {
            dlg::EditSetSel(page, IDC_LOG, 0, static_cast<int>(start));
            dlg::EditClear(page, IDC_LOG);
            end -= static_cast<int>(start);
        }
        dlg::EditSetSel(page, IDC_LOG, end, end);
    }
    dlg::EditReplaceSel(page, IDC_LOG, added);
    end += static_cast<int>(m_lines.c_str() + m_lines.size() - added);
    dlg::EditSetSel(page, IDC_LOG, end, end);
    dlg::EditScrollCaret(page, IDC_LOG);
}

void CCommsDlg::AppendToFile(const std::string &batch)
{
    m_fileLines.clear();
    ForEachQueuedLine(batch, [this](const char *line, size_t n, const char *prefix, size_t np) {
        if (np == 0)
            return;  // logged while "Write to CommsLog.txt" was clear
        m_fileLines.append(prefix, np);
        m_fileLines.append(line, n);
    });
    if (m_fileLines.empty())
        return;
    // One open, one write and one close for the batch; a file that cannot be opened loses the
    // batch's lines, as it would lose each of them.
    std::lock_guard<std::mutex> lock(g_fileMutex);
    files::AppendPair(kCommsLogFile, m_fileLines.data(), m_fileLines.size(), "", 0);
}
