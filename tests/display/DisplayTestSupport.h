// What the display tests share: the Primary Monitor prompts of a process, the
// stored monitor choice, reports as text, and bystander windows that stand for
// other programs on the desktop.
//   PromptWindows, WaitForPrompts  - the visible prompts of a process
//   StoreChoice, StoredValue       - "DefaultDisplay" and "NumDisplays" as stored
//   CountStartingWith              - debug lines, ready to compare
//   ResolutionReportText           - the resolution report for a size
//   Bystander                      - a top-level window of another "program"
#pragma once

#include "DebugListener.h"

#include <windows.h>

#include <string>
#include <vector>

struct SimReport;

UINT const CLOSE_PROMPT_MESSAGE = 101;
WORD const OPTIMIZE_DISPLAY_COMMAND = 32783;
UINT const TURN_BORDER_ON = 0x832D;
UINT const TURN_BORDER_OFF = 0x832E;

extern const char DRAWING_LINE[];
extern const char GOING_OFF_LINE[];
extern const char *const RETURN_WAS_PREFIX;
extern const char BORDER_OFF_REPORT[];
extern const char BORDER_ON_REPORT[];
extern const char OPTIMIZE_BORDER_REPORT[];

// The visible Primary Monitor prompts (dialog windows) of a process, in z-order.
std::vector<HWND> PromptWindows(DWORD processId);
// Waits until the process shows exactly `count` prompts.
testing::AssertionResult WaitForPrompts(DWORD processId, size_t count, DWORD timeoutMs = 10000);

// Stores the choice the way the applet does: the characters only, as
// REG_MULTI_SZ; withTerminator adds the NUL another writer might leave.
void StoreChoice(const wchar_t *valueName, const std::wstring &text, bool withTerminator = false);
// Removes "DefaultDisplay".
void ForgetChoice();
// The raw bytes of a stored value and its type; empty when missing.
std::vector<BYTE> StoredValue(const wchar_t *valueName, DWORD *type = nullptr);
std::vector<BYTE> TextBytes(const std::wstring &text);

int CountStartingWith(const std::vector<std::string> &lines, const std::string &prefix);
std::string ResolutionReportText(int width, int height);

// A top-level window on a thread of its own, as another program's window would
// be. It counts the prompts' private message; a hung one never reads its
// messages, as a program that has stopped answering.
class Bystander {
public:
    explicit Bystander(bool hung);
    ~Bystander();
    Bystander(const Bystander &) = delete;
    Bystander &operator=(const Bystander &) = delete;
    HWND window() const { return window_; }
    LONG closeMessagesSeen() const { return closeMessages_; }

private:
    static DWORD WINAPI ThreadMain(void *self);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool hung_;
    HWND window_ = nullptr;
    HANDLE ready_ = nullptr;
    HANDLE release_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    volatile LONG closeMessages_ = 0;
};
