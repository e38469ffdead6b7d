// What the hook tests share: Quillhook.dll loaded by hand with its exports
// looked up by name, as the system and the applet see them; a window that
// collects what the library posts; and a view of the library's shared data.
//   LoadQuillhook     - LoadLibrary of the built DLL and its four exports
//   SharedHookData    - the three shared variables in the loaded image
//   HookTarget        - a hidden window standing in for the applet's main window
//   CollectPosts      - pumps this thread and returns the library's messages
#pragma once

#include "UnixCommand.h"

#include <windows.h>
#include <ostream>
#include <string>
#include <vector>

// The numbers the applet's window procedure dispatches on.
UINT const WM_HOOK_KEYUP = 0x8334;
UINT const WM_HOOK_ALTSTATE = 0x833E;
UINT const WM_HOOK_ACTIVATE = 0x8320;

LPARAM const ALT_CONTEXT_BIT = 0x20000000;
LPARAM const KEY_RELEASED_BIT = (LPARAM)0x80000000;
LPARAM const KEY_WAS_DOWN_BIT = 0x40000000;

typedef HHOOK(__cdecl *StartHookProc)(HWND window);
typedef BOOL(__cdecl *StopHookProc)(void);
typedef LRESULT(CALLBACK *HookProcedure)(int code, WPARAM wParam, LPARAM lParam);

struct QuillhookLibrary {
    HMODULE module = nullptr;
    StartHookProc startHook = nullptr;
    StopHookProc stopHook = nullptr;
    HookProcedure kbHook = nullptr;
    HookProcedure quillhook = nullptr;
};

std::wstring QuillhookPath();
// The folder of the 32-bit files that ship: the tests' own folder, or
// VARNEL_SHIPPED_BIN when the tests are a 64-bit build of their own (on a
// machine that cannot run 32-bit programs) and the files are only read.
std::wstring ShippedFolder();
// False when the DLL or one of its exports is missing.
bool LoadQuillhook(QuillhookLibrary *library);

// The shared section of the loaded library, in its documented order.
struct SharedHookData {
    HHOOK shellHook;
    HHOOK keyboardHook;
    HWND targetWindow;
};
// Null when the image has no ".SHARED_" section.
volatile SharedHookData *FindSharedHookData(HMODULE module);

// One message of the library as it arrived here.
struct Posted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool toWindow;   // false: a thread message (posted to a null window)
    bool operator==(const Posted &other) const
    {
        return message == other.message && wParam == other.wParam && lParam == other.lParam &&
               toWindow == other.toWindow;
    }
};
Posted KeyUp(WPARAM virtualKey, LPARAM flags);
Posted AltState(WPARAM virtualKey, LPARAM altBit);
Posted Activate(WPARAM window, LPARAM lParam);
void PrintTo(const Posted &posted, std::ostream *out);

class HookTarget {
public:
    HookTarget();
    ~HookTarget();
    HookTarget(const HookTarget &) = delete;
    HookTarget &operator=(const HookTarget &) = delete;
    HWND window() const { return window_; }
    void destroy();

private:
    HWND window_ = nullptr;
};

// Everything the library has posted to this thread so far: this thread's
// queue is pumped until it is empty and, where a test asserts that nothing
// more comes, has stayed quiet for quietMs.
std::vector<Posted> CollectPosts(DWORD quietMs = 0);
// Pumps until at least `count` messages of the library have arrived or the time is up.
std::vector<Posted> CollectPostsUntil(size_t count, DWORD timeoutMs);

