// Stand-in for <commdlg.h>: the colour dialog.
#pragma once

#include <windows.h>

struct CHOOSECOLORA {
    DWORD lStructSize;
    HWND hwndOwner, hInstance;
    COLORREF rgbResult;
    COLORREF* lpCustColors;
    DWORD Flags;
    LPARAM lCustData;
    void* lpfnHook;
    LPCSTR lpTemplateName;
};
enum { CC_RGBINIT = 1, CC_FULLOPEN = 2 };
BOOL WINAPI ChooseColorA(CHOOSECOLORA* choice);
