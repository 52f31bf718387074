// The dialog-control operations the pages use, by control id. On Windows these are thin calls
// on the real controls (dialog_win32.cpp); tests link an in-memory model with the same semantics.
// Both read numbers with the portable ParseUint (dialog.cpp).
#pragma once
#include <cstddef>

struct WindowObject;
typedef WindowObject *WindowHandle;  // an HWND on Windows

namespace dlg {

// Static text, edit boxes, buttons.
void SetText(WindowHandle page, int id, const char *text);
size_t GetText(WindowHandle page, int id, char *buf, size_t size);  // always zero-terminates
size_t GetTextLength(WindowHandle page, int id);
void SetUint(WindowHandle page, int id, unsigned value);  // SetDlgItemInt, unsigned
unsigned GetUint(WindowHandle page, int id);  // the control's text through ParseUint
bool IsChecked(WindowHandle page, int id);    // IsDlgButtonChecked == BST_CHECKED
void SetChecked(WindowHandle page, int id, bool checked);
void Enable(WindowHandle page, int id, bool enabled);

// Drop-down lists (CBS_DROPDOWNLIST, unsorted).
void ComboAdd(WindowHandle page, int id, const char *text);
void ComboSetSel(WindowHandle page, int id, int index);  // out of range leaves no selection
int ComboGetSel(WindowHandle page, int id);              // -1 when nothing is selected
// CB_SELECTSTRING from index -1: first item beginning with prefix (case ignored); on a miss
// the selection stays as it was. Returns the index selected or -1.
int ComboSelectPrefix(WindowHandle page, int id, const char *prefix);

// Multi-line edit control (the message log).
void EditSetSel(WindowHandle page, int id, int start, int end);  // EM_SETSEL
void EditClear(WindowHandle page, int id);               // WM_CLEAR
void EditReplaceSel(WindowHandle page, int id, const char *text);  // EM_REPLACESEL, no undo
void EditScrollCaret(WindowHandle page, int id);         // EM_SCROLLCARET

// Posts (does not send) WM_COMMAND with the control id and no notification.
void PostCommand(WindowHandle page, int id);

// A number as Windows' GetDlgItemInt reads it for an unsigned field: leading blanks skipped,
// then the digits up to the first other character. No digit, a minus sign or a value past
// 32 bits reads as 0 with *ok false. Portable (dialog.cpp), so Windows, Wine and the tests
// read a field alike: Wine's own GetDlgItemInt takes "-5" as 4294967291 and 4294967295 as 0.
unsigned ParseUint(const char *text, bool *ok = nullptr);

}  // namespace dlg
