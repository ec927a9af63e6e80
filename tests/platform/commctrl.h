// Stand-in for <commctrl.h>: the trackbar.
#pragma once

#include <windows.h>

struct INITCOMMONCONTROLSEX {
    DWORD dwSize, dwICC;
};
#define TRACKBAR_CLASSA "msctls_trackbar32"
enum { ICC_BAR_CLASSES = 4, TBS_NOTICKS = 0x10, TBM_GETPOS = WM_USER, TBM_SETPOS = WM_USER + 5, TBM_SETRANGEMAX = WM_USER + 8 };
BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* classes);
