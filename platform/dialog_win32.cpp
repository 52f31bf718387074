// The dialog-control seam on real Win32 controls: each call is one dialog-item function or
// message, so a call from the reader thread is carried out by the window's own thread.
#include "platform/dialog.h"

#include <windows.h>

#include <string>

namespace {

HWND Hwnd(WindowHandle page) { return reinterpret_cast<HWND>(page); }

LRESULT Send(WindowHandle page, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return SendDlgItemMessageA(Hwnd(page), id, message, wParam, lParam);
}

}  // namespace

namespace dlg {

void SetText(WindowHandle page, int id, const char *text) { SetDlgItemTextA(Hwnd(page), id, text); }

size_t GetText(WindowHandle page, int id, char *buf, size_t size)
{
    if (size == 0)
        return 0;
    buf[0] = '\0';
    return GetDlgItemTextA(Hwnd(page), id, buf, static_cast<int>(size));
}

size_t GetTextLength(WindowHandle page, int id)
{
    const int n = GetWindowTextLengthA(GetDlgItem(Hwnd(page), id));
    return n > 0 ? static_cast<size_t>(n) : 0;
}

void SetUint(WindowHandle page, int id, unsigned value)
{
    SetDlgItemInt(Hwnd(page), id, value, FALSE);
}

// Not GetDlgItemInt: Wine's reads "-5" as 4294967291 and 4294967295 as 0, Windows' does not.
unsigned GetUint(WindowHandle page, int id)
{
    const size_t length = GetTextLength(page, id);
    std::string text(length + 1, '\0');
    GetText(page, id, &text[0], text.size());
    return ParseUint(text.c_str());
}

bool IsChecked(WindowHandle page, int id)
{
    return IsDlgButtonChecked(Hwnd(page), id) == BST_CHECKED;
}

void SetChecked(WindowHandle page, int id, bool checked)
{
    CheckDlgButton(Hwnd(page), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void Enable(WindowHandle page, int id, bool enabled)
{
    EnableWindow(GetDlgItem(Hwnd(page), id), enabled ? TRUE : FALSE);
}

void ComboAdd(WindowHandle page, int id, const char *text)
{
    Send(page, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void ComboSetSel(WindowHandle page, int id, int index)
{
    // Windows clears the selection for an index past the end, Wine keeps the old one: ask for
    // no selection outright, so a byte out of range never shows (and stores) the last choice.
    const LRESULT count = Send(page, id, CB_GETCOUNT);  // CB_ERR (-1) when there is no list
    const bool listed = index >= 0 && index < count;
    Send(page, id, CB_SETCURSEL, static_cast<WPARAM>(listed ? index : -1));
}

int ComboGetSel(WindowHandle page, int id) { return static_cast<int>(Send(page, id, CB_GETCURSEL)); }

int ComboSelectPrefix(WindowHandle page, int id, const char *prefix)
{
    return static_cast<int>(
        Send(page, id, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(prefix)));
}

void EditSetSel(WindowHandle page, int id, int start, int end)
{
    Send(page, id, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

void EditClear(WindowHandle page, int id) { Send(page, id, WM_CLEAR); }

void EditReplaceSel(WindowHandle page, int id, const char *text)
{
    Send(page, id, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

void EditScrollCaret(WindowHandle page, int id) { Send(page, id, EM_SCROLLCARET); }

void PostCommand(WindowHandle page, int id)
{
    PostMessageA(Hwnd(page), WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

}  // namespace dlg
