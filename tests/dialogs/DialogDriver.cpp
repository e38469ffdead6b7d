#include "DialogDriver.h"

namespace {

struct Drive {
    std::function<void(HWND)> script;
    HWND dialog = nullptr;
    bool scripted = false;
    DWORD start = 0;
    DWORD timeoutMs = 0;
} drive;

UINT_PTR const DRIVER_PERIOD_MS = 20;

BOOL CALLBACK FindDialog(HWND window, LPARAM found)
{
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (wcscmp(className, L"#32770") == 0 && IsWindowVisible(window)) {
        *(HWND *)found = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK DriverTick(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (drive.scripted) {
        // The script is done (or still running a nested loop): a dialog still
        // up after the time-out is cancelled so the test never hangs.
        if (GetTickCount() - drive.start > drive.timeoutMs && IsWindow(drive.dialog))
            SendMessageW(drive.dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, (LPARAM)&dialog);
    if (dialog == nullptr)
        return;
    drive.dialog = dialog;
    drive.scripted = true;
    drive.script(dialog);
}

}  // namespace

DialogRun DriveModalDialog(const std::function<void()> &open, const std::function<void(HWND)> &script,
                           DWORD timeoutMs)
{
    drive = Drive();
    drive.script = script;
    drive.start = GetTickCount();
    drive.timeoutMs = timeoutMs;
    UINT_PTR timer = SetTimer(nullptr, 0, DRIVER_PERIOD_MS, DriverTick);
    open();
    KillTimer(nullptr, timer);

    DialogRun run;
    run.appeared = drive.dialog != nullptr;
    run.closedByScript = run.appeared && GetTickCount() - drive.start <= timeoutMs;
    return run;
}

bool Click(HWND dialog, int control)
{
    HWND button = GetDlgItem(dialog, control);
    if (button == nullptr || !IsWindowVisible(button) || !IsWindowEnabled(button))
        return false;
    SendMessageW(button, BM_CLICK, 0, 0);
    return true;
}

std::string ControlState(HWND dialog, int control)
{
    HWND item = GetDlgItem(dialog, control);
    if (item == nullptr)
        return "missing";
    std::string marks;
    auto mark = [&marks](bool on, const char *name) {
        if (on)
            marks += (marks.empty() ? "" : ",") + std::string(name);
    };
    mark(IsDlgButtonChecked(dialog, control) == BST_CHECKED, "checked");
    mark(!IsWindowEnabled(item), "disabled");
    mark(!(GetWindowLongW(item, GWL_STYLE) & WS_VISIBLE), "hidden");
    return marks;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

std::wstring ControlText(HWND dialog, int control)
{
    return WindowText(GetDlgItem(dialog, control));
}
