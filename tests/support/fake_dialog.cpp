// The dialog-control seam over in-memory controls that behave like the Win32 ones the pages use.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "res/resource.h"
#include "tests/support/fakes.h"

namespace fake {

void Page::Add(int id, Kind kind, const std::string &text)
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    Control c;
    c.kind = kind;
    c.text = text;
    controls[id] = c;
}

Control &Page::At(int id)
{
    auto it = controls.find(id);
    if (it == controls.end()) {
        std::fprintf(stderr, "fake page: no control %d\n", id);
        std::abort();
    }
    return it->second;
}

std::string Page::Text(int id)
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    Control &c = At(id);
    if (c.kind == Kind::Combo)
        return c.sel >= 0 ? c.items[c.sel] : std::string();
    return c.text;
}

std::vector<std::string> Page::LogLines(int id)
{
    const std::string text = Text(id);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
        lines.push_back(text.substr(start, pos - start));
    if (start < text.size())
        lines.push_back(text.substr(start));  // an unfinished last line
    return lines;
}

std::vector<int> Page::TakePosted()
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    std::vector<int> out;
    out.swap(posted);
    return out;
}

Page *FromHandle(WindowHandle h) { return reinterpret_cast<Page *>(h); }

void AddCommsControls(Page &page)
{
    page.Add(IDC_WRITE_LOG_FILE, Kind::Button, "Write to CommsLog.txt");
    page.Add(IDC_SHOW_POLLS, Kind::Button, "Show Polls/ACKs");
    page.Add(IDC_LOG, Kind::MultiEdit);
    page.Add(IDC_PORT_LIST, Kind::Combo);
    page.Add(IDC_BAUD_LIST, Kind::Combo);
    page.Add(IDC_FIND_SLAVES, Kind::Button, "Find Slaves");
    page.Add(IDC_SLAVE_TO_CONFIG, Kind::Edit);
    page.Add(IDC_COUNTERS, Kind::Static, "0/0");
}

void AddConfigControls(Page &page)
{
    for (int id : {IDC_CFG_SLAVE_ID, IDC_CFG_GENISYS_TIMEOUT, IDC_CFG_POLL_TIME,
                   IDC_CFG_RECALL_TIME, IDC_CFG_S2_ID1, IDC_CFG_S2_ID2, IDC_CFG_S2_TIMEOUT,
                   IDC_CFG_ISD, IDC_CFG_PREAMBLE, IDC_CFG_POSTAMBLE})
        page.Add(id, Kind::Edit);
    for (int id : {IDC_CFG_GENISYS_BAUD, IDC_CFG_PROTOCOL, IDC_CFG_DIRECT_BAUD})
        page.Add(id, Kind::Combo);
    for (int id : {IDC_CFG_SECURE_POLLS, IDC_CFG_S2_ID2_ON, IDC_CFG_NO_CTRL_BYTE, IDC_CFG_NRZI,
                   IDC_CFG_SEND_32_BITS, IDC_CFG_KEEP_SENDING, IDC_CFG_SYNC_CLOCK,
                   IDC_CFG_V22_TX_HIGH, IDC_CFG_RX_EQUALISE})
        page.Add(id, Kind::Button);
    for (int id : {IDC_CFG_OPEN, IDC_CFG_SAVE, IDC_CFG_DEFAULT, IDC_CFG_READ, IDC_CFG_WRITE})
        page.Add(id, Kind::Button);
    page.Add(IDC_CFG_DIP_SWITCH, Kind::Static);
    page.Add(IDC_CFG_STATUS, Kind::Static);
}

namespace {

struct Locked {
    explicit Locked(WindowHandle h) : page(FromHandle(h)), lock(page->mutex) {}
    Page *page;
    std::lock_guard<std::recursive_mutex> lock;
};

int Clamp(int pos, const std::string &text)
{
    const int len = static_cast<int>(text.size());
    return (pos < 0 || pos > len) ? len : pos;
}

}  // namespace

}  // namespace fake

using fake::Control;
using fake::Kind;
using fake::Locked;

namespace dlg {

void SetText(WindowHandle page, int id, const char *text)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return;
    }
    Locked l(page);
    Control &c = l.page->At(id);
    if (c.kind == Kind::Combo)
        return;  // a drop-down list has no text of its own to set
    c.text = text;
}

size_t GetText(WindowHandle page, int id, char *buf, size_t size)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        if (size) buf[0] = '\0';
        return 0;
    }
    if (size == 0)
        return 0;
    const std::string text = fake::FromHandle(page)->Text(id);
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return n;
}

size_t GetTextLength(WindowHandle page, int id)
{
    return page ? fake::FromHandle(page)->Text(id).size() : 0;
}

void SetUint(WindowHandle page, int id, unsigned value)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    SetText(page, id, text);
}

unsigned GetUint(WindowHandle page, int id)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return 0;
    }
    return ParseUint(fake::FromHandle(page)->Text(id).c_str());
}

bool IsChecked(WindowHandle page, int id)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return false;
    }
    Locked l(page);
    return l.page->At(id).checked;
}

void SetChecked(WindowHandle page, int id, bool checked)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return;
    }
    Locked l(page);
    l.page->At(id).checked = checked;
}

void Enable(WindowHandle page, int id, bool enabled)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return;
    }
    Locked l(page);
    l.page->At(id).enabled = enabled;
}

void ComboAdd(WindowHandle page, int id, const char *text)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return;
    }
    Locked l(page);
    l.page->At(id).items.push_back(text);
}

void ComboSetSel(WindowHandle page, int id, int index)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return;
    }
    Locked l(page);
    Control &c = l.page->At(id);
    c.sel = (index >= 0 && index < static_cast<int>(c.items.size())) ? index : -1;
}

int ComboGetSel(WindowHandle page, int id)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return -1;
    }
    Locked l(page);
    return l.page->At(id).sel;
}

int ComboSelectPrefix(WindowHandle page, int id, const char *prefix)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return -1;
    }
    Locked l(page);
    Control &c = l.page->At(id);
    const size_t n = std::strlen(prefix);
    for (size_t i = 0; i < c.items.size(); ++i) {
        const std::string &item = c.items[i];
        if (item.size() < n)
            continue;
        bool match = true;
        for (size_t k = 0; k < n && match; ++k)
            match = std::tolower(static_cast<unsigned char>(item[k])) ==
                    std::tolower(static_cast<unsigned char>(prefix[k]));
        if (match) {
            c.sel = static_cast<int>(i);
            return c.sel;
        }
    }
    return -1;
}

void EditSetSel(WindowHandle page, int id, int start, int end)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return;
    }
    Locked l(page);
    Control &c = l.page->At(id);
    c.selStart = fake::Clamp(start, c.text);
    c.selEnd = fake::Clamp(end, c.text);
    if (c.selStart > c.selEnd)
        std::swap(c.selStart, c.selEnd);
}

void EditClear(WindowHandle page, int id)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return;
    }
    Locked l(page);
    Control &c = l.page->At(id);
    c.text.erase(c.selStart, c.selEnd - c.selStart);
    c.selEnd = c.selStart;
}

void EditReplaceSel(WindowHandle page, int id, const char *text)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return;
    }
    Locked l(page);
    if (l.page->onReplaceSel)
        l.page->onReplaceSel(id, text);
    Control &c = l.page->At(id);
    c.text.replace(c.selStart, c.selEnd - c.selStart, text);
    if (l.page->journal)
        l.page->appended.push_back(text);
    c.selStart += static_cast<int>(std::strlen(text));
    c.selEnd = c.selStart;
}

void EditScrollCaret(WindowHandle page, int id)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return;
    }
    Locked l(page);
    ++l.page->At(id).scrollCarets;
}

void PostCommand(WindowHandle page, int id)
{
    if (!page) {  // no page window yet: the real calls fail quietly too
        return;
    }
    Locked l(page);
    l.page->posted.push_back(id);
}

}  // namespace dlg
