// The dialog procedures of the sheet's pages, for the page descriptions of the entry.
#pragma once
#include <windows.h>

#include "config/config_page_win32.h"  // ConfigPageProc, template 129

INT_PTR CALLBACK CommsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The About page's version text for the program at modulePath: "v<FileVersion>, compiled on
// <date> at <time>" from its version block, or "Compiled on <date> at <time>" without one.
void AboutVersionText(const char *modulePath, char *text, size_t size);
