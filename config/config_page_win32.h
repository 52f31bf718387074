// The Kelpro Config page's dialog procedure, for the property sheet's page description.
#pragma once
#include <windows.h>

INT_PTR CALLBACK ConfigPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
