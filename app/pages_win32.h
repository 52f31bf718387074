// The dialog procedures of the sheet's pages, for the page descriptions of the entry.
#pragma once
#include <windows.h>

#include "config/config_page_win32.h"  // ConfigPageProc, template 129

INT_PTR CALLBACK CommsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
