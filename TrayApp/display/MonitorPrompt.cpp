// The prompt that asks which monitor is on the switch: one small dialog on
// every monitor, and OK on the one that is.
//   PromptForPrimaryMonitor - one prompt per monitor, modeless
//   CreateMonitorPrompt     - the prompt of one monitor, in the UI language, placed but hidden
//   ShowMonitorPrompt       - shows the prompt of one monitor
//   MonitorPromptProc       - OK stores the monitor under the prompt and closes the rest
//   CloseMonitorPrompts     - closes every prompt of this thread
//   IsMonitorPromptMessage  - keyboard navigation (Enter, Tab) for the prompts
#include "Display.h"
#include "../shell/Shell.h"

static WORD const IDS_PROMPT_CAPTION = 131;
static WORD const IDS_PROMPT_TEXT = 132;
static WORD const IDS_OK = 119;
static int const PROMPT_TEXT_ID = -1;
static int const PROMPT_OK_ID = IDOK;
// The prompt's own message to itself: fit the sentence again.
static UINT const WM_FIT_PROMPT_TEXT = WM_APP + 1;
// Marks a window as one of the prompts, so they can be found without keeping a list.
static wchar_t const PROMPT_MARK[] = L"VarnelKVM.MonitorPrompt";

void PromptForPrimaryMonitor()
{
    HDC screen = GetDC(nullptr);
    EnumDisplayMonitors(screen, nullptr, ShowMonitorPrompt, 0);
    ReleaseDC(nullptr, screen);
}

// The one line of the prompt is narrower than its sentence in some fonts and
// languages, which would lose the sentence's end (the word "KVM" in English):
// the line, and the prompt with it, is widened to the sentence, and OK stays
// in the middle.
static void FitPromptText(HWND prompt)
{
    HWND line = GetDlgItem(prompt, PROMPT_TEXT_ID);
    HWND ok = GetDlgItem(prompt, PROMPT_OK_ID);
    if (line == nullptr || ok == nullptr)
        return;
    wchar_t text[UI_STRING_CHARS] = {};
    int length = GetWindowTextW(line, text, UI_STRING_CHARS);
    HDC dc = GetDC(line);
    HGDIOBJ previousFont = SelectObject(dc, (HFONT)SendMessageW(line, WM_GETFONT, 0, 0));
    SIZE needed = {};
    GetTextExtentPoint32W(dc, text, length, &needed);
    SelectObject(dc, previousFont);
    ReleaseDC(line, dc);

    RECT lineArea = {};
    GetClientRect(line, &lineArea);
    int grow = needed.cx - lineArea.right;
    if (grow <= 0)
        return;
    RECT promptArea = {}, okArea = {};
    GetWindowRect(prompt, &promptArea);
    GetWindowRect(ok, &okArea);
    MapWindowPoints(nullptr, prompt, (POINT *)&okArea, 2);
    UINT const resizeOnly = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
    SetWindowPos(line, nullptr, 0, 0, lineArea.right + grow, lineArea.bottom, resizeOnly);
    SetWindowPos(prompt, nullptr, 0, 0, promptArea.right - promptArea.left + grow,
                 promptArea.bottom - promptArea.top, resizeOnly);
    SetWindowPos(ok, nullptr, okArea.left + grow / 2, okArea.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND CreateMonitorPrompt(HMONITOR monitor)
{
    HWND prompt = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PRIMARY_MONITOR), nullptr,
                                     MonitorPromptProc, 0);
    if (prompt == nullptr)
        return nullptr;
    SetPropW(prompt, PROMPT_MARK, (HANDLE)1);
    // Onto its monitor first: one of another scale rescales the prompt, which
    // must come before the prompt is fitted to its sentence.
    MONITORINFOEXW info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    SetWindowPos(prompt, nullptr, info.rcWork.left, info.rcWork.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextW(prompt, UiString(IDS_PROMPT_CAPTION).text);
    SetDlgItemTextW(prompt, PROMPT_TEXT_ID, UiString(IDS_PROMPT_TEXT).text);
    SetDlgItemTextW(prompt, PROMPT_OK_ID, UiString(IDS_OK).text);
    FitPromptText(prompt);

    // Centred in the monitor's work area, clear of the taskbar.
    RECT size = {};
    GetWindowRect(prompt, &size);
    int width = size.right - size.left;
    int height = size.bottom - size.top;
    int x = info.rcWork.left + ((info.rcWork.right - info.rcWork.left) - width) / 2;
    int y = info.rcWork.top + ((info.rcWork.bottom - info.rcWork.top) - height) / 2;
    SetWindowPos(prompt, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
    return prompt;
}

BOOL CALLBACK ShowMonitorPrompt(HMONITOR monitor, HDC, RECT *, LPARAM)
{
    HWND prompt = CreateMonitorPrompt(monitor);
    if (prompt != nullptr)
        ShowWindow(prompt, SW_SHOW);
    // Every monitor gets its prompt.
    return TRUE;
}

// The monitor that holds most of the prompt now: the user may have dragged it
// onto the monitor that is really on the switch.
static void SaveMonitorUnder(const RECT &promptArea)
{
    HMONITOR monitor = MonitorFromRect(&promptArea, MONITOR_DEFAULTTONEAREST);
    MONITORINFOEXW info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    SaveChosenMonitor(info.szDevice);
}

INT_PTR CALLBACK MonitorPromptProc(HWND prompt, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_CLOSE_MONITOR_PROMPT:
        DestroyWindow(prompt);
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) != PROMPT_OK_ID)
            return FALSE;
        {
            RECT promptArea = {};
            GetWindowRect(prompt, &promptArea);
            DestroyWindow(prompt);
            SaveMonitorUnder(promptArea);
            CloseMonitorPrompts(true);
        }
        return TRUE;
    case WM_DPICHANGED:
        // Dragged onto a monitor of another scale, the prompt is laid out
        // anew by the system; it is fitted to its sentence again after that.
        PostMessageW(prompt, WM_FIT_PROMPT_TEXT, 0, 0);
        return FALSE;
    case WM_FIT_PROMPT_TEXT:
        FitPromptText(prompt);
        return TRUE;
    case WM_NCDESTROY:
        RemovePropW(prompt, PROMPT_MARK);
        return FALSE;
    }
    return FALSE;
}

// The system lists the thread's windows before the first call, so a prompt
// closed here does not upset the enumeration.
static BOOL CALLBACK ClosePrompt(HWND window, LPARAM synchronously)
{
    if (GetPropW(window, PROMPT_MARK) == nullptr)
        return TRUE;
    if (synchronously)
        SendMessageW(window, WM_CLOSE_MONITOR_PROMPT, 0, 0);
    else
        PostMessageW(window, WM_CLOSE_MONITOR_PROMPT, 0, 0);
    return TRUE;
}

// Only the applet's own prompts are told, never every window of the desktop:
// a message sent to all of them would wait on any program that has stopped
// answering, and would hand them all a message number that is not theirs.
// The prompts all belong to the thread that runs the main window.
void CloseMonitorPrompts(bool synchronously)
{
    EnumThreadWindows(GetCurrentThreadId(), ClosePrompt, synchronously ? TRUE : FALSE);
}

bool IsMonitorPromptMessage(MSG *message)
{
    if (message->hwnd == nullptr)
        return false;
    HWND root = GetAncestor(message->hwnd, GA_ROOT);
    return root != nullptr && GetPropW(root, PROMPT_MARK) != nullptr && IsDialogMessageW(root, message);
}
