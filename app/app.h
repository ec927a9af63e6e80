// The shell: the main window and its class.
#pragma once

#include <windows.h>

extern const char app_name[];
extern WNDCLASSEXA window_class;
extern HWND main_window;

void init_window_class();
LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
