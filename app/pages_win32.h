// The sheet's three pages on Win32: their dialog procedures, declared here for the entry, and
// the one helper each procedure runs its messages through.
#pragma once
#include <windows.h>

#include <cstddef>

INT_PTR CALLBACK CommsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);   // 130
INT_PTR CALLBACK ConfigPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);  // 129
INT_PTR CALLBACK AboutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);   // 131

// What sets one page apart from the others.
struct PageRules {
    // The page's own messages (set-up, commands, timers); 0 for any it does not handle.
    INT_PTR (*handle)(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
    // The control painted in the button-face colour (the Comms page's log); 0 for none.
    int buttonFaceControl;
};

// One message of a page: help (F1 and the sheet's Help button open the manual, and every
// WM_NOTIFY returns 1) and the colour rule are the same on every page; the rest goes to the
// page's own handler. No exception gets out into the window system.
INT_PTR RunPage(const PageRules &rules, HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The About page's version text for the program at modulePath: "v<FileVersion>, compiled on
// <date> at <time>" from its version block, or "Compiled on <date> at <time>" without one.
void AboutVersionText(const char *modulePath, char *text, size_t size);
