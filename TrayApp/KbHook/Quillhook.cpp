// Quillhook.dll is mapped into every process that takes keyboard input while
// its hook is installed: no C runtime, no allocation, no static constructors,
// nothing but USER32 on the input path.
//   DllMain   - remembers the module handle
//   StartHook - installs the keyboard hook for the applet's window
//   StopHook  - removes it
//   KbHook    - posts key releases and ALT-state changes
//   Quillhook - the shell-form procedure (exported, never installed)
#define QUILLHOOK_BUILD
#include "Quillhook.h"

// One copy of these for every process that maps the library.
#if defined(_MSC_VER)
#pragma section(".SHARED_", read, write, shared)
#define SHARED_DATA __declspec(allocate(".SHARED_"))
#else
#define SHARED_DATA __attribute__((section(".SHARED_"), shared))
#endif

SHARED_DATA static HHOOK shellHook = nullptr;
SHARED_DATA static HHOOK keyboardHook = nullptr;
SHARED_DATA static HWND targetWindow = nullptr;

// Per process: each process judges a change of the ALT bit against its own last value.
static HINSTANCE moduleInstance = nullptr;
static DWORD lastAltBit = 0;

static const LPARAM ALT_CONTEXT_BIT = 0x20000000;
static const LPARAM KEY_RELEASED_BIT = (LPARAM)0x80000000;
static const int HSHELL_WINDOW_ACTIVATED = 4;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        moduleInstance = instance;
    return TRUE;
}

extern "C" HHOOK __cdecl StartHook(HWND window)
{
    // The window first: a hook procedure that sees the handle finds the window set.
    targetWindow = window;
    keyboardHook = SetWindowsHookExA(WH_KEYBOARD, KbHook, moduleInstance, 0);
    return keyboardHook;
}

extern "C" BOOL __cdecl StopHook(void)
{
    HHOOK installed = keyboardHook;
    targetWindow = nullptr;
    BOOL result = UnhookWindowsHookEx(installed);
    shellHook = nullptr;
    keyboardHook = nullptr;
    return result;
}

extern "C" LRESULT CALLBACK KbHook(int code, WPARAM wParam, LPARAM lParam)
{
    // An application peeking at a key (HC_NOREMOVE) has not taken it yet; it
    // comes again with HC_ACTION when it is removed, and is reported then.
    if (keyboardHook != nullptr && code >= 0 && code != HC_NOREMOVE) {
        DWORD alt = (DWORD)(lParam & ALT_CONTEXT_BIT);
        if (alt != lastAltBit) {
            lastAltBit = alt;
            PostMessageA(targetWindow, QUILLHOOK_WM_ALTSTATE, wParam, (LPARAM)alt);
        }
        if ((lParam & KEY_RELEASED_BIT) != 0 && IsWindow(targetWindow))
            PostMessageA(targetWindow, QUILLHOOK_WM_KEYUP, wParam, lParam);
    }
    // Never swallow a key.
    return CallNextHookEx(keyboardHook, code, wParam, lParam);
}

extern "C" LRESULT CALLBACK Quillhook(int code, WPARAM wParam, LPARAM lParam)
{
    if (shellHook == nullptr)
        return 0;
    LRESULT result = CallNextHookEx(shellHook, code, wParam, lParam);
    if (IsWindow(targetWindow) && code == HSHELL_WINDOW_ACTIVATED && IsWindow((HWND)wParam))
        PostMessageA(targetWindow, QUILLHOOK_WM_ACTIVATE, wParam, lParam);
    return result;
}
