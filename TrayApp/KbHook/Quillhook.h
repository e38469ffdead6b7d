// Quillhook.dll: the system-wide keyboard hook that posts key releases and
// ALT-state changes to the applet's hidden main window.
#pragma once

#include <windows.h>

#ifdef QUILLHOOK_BUILD
#define QUILLHOOK_API
#else
#define QUILLHOOK_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Installs the hook; its messages go to window. The keyboard hook handle, or null.
QUILLHOOK_API HHOOK __cdecl StartHook(HWND window);
// Removes the hook; the result of UnhookWindowsHookEx.
QUILLHOOK_API BOOL __cdecl StopHook(void);

// The hook procedures, exported as _KbHook@12 and _Quillhook@12.
QUILLHOOK_API LRESULT CALLBACK KbHook(int code, WPARAM wParam, LPARAM lParam);
QUILLHOOK_API LRESULT CALLBACK Quillhook(int code, WPARAM wParam, LPARAM lParam);

#ifdef __cplusplus
}
#endif

// Messages posted to the target window (the applet's numbers).
#define QUILLHOOK_WM_KEYUP 0x8334
#define QUILLHOOK_WM_ALTSTATE 0x833E
#define QUILLHOOK_WM_ACTIVATE 0x8320
