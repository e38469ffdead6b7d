// The menu spy: a hook library the test installs on the applet's main thread.
//   MenuSpyCallWndProc - reads the popup when the applet's menu loop opens it
//   MenuSpyGetMessage  - reports the test's marker when the applet retrieves it
#include "MenuSpyFormat.h"

namespace {

void Report(ULONG_PTR kind, const void *data, DWORD size)
{
    HWND receiver = FindWindowExW(HWND_MESSAGE, nullptr, MENU_SPY_RECEIVER_CLASS, nullptr);
    if (receiver == nullptr)
        return;
    COPYDATASTRUCT copy = {kind, size, (void *)data};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(receiver, WM_COPYDATA, 0, (LPARAM)&copy, SMTO_NORMAL, 5000, &result);
}

void ReportMenu(HMENU menu)
{
    static SpiedMenu spied;
    ZeroMemory(&spied, sizeof(spied));
    spied.count = GetMenuItemCount(menu);
    for (int position = 0; position < spied.count && position < SPIED_MAX_ITEMS; ++position) {
        SpiedItem &item = spied.items[position];
        MENUITEMINFOW info = {sizeof(info)};
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
        info.dwTypeData = item.text;
        info.cch = SPIED_TEXT_CHARS;
        if (GetMenuItemInfoW(menu, position, TRUE, &info)) {
            item.id = info.wID;
            item.type = info.fType;
            item.state = info.fState;
        }
    }
    Report(SPY_MENU_SHOWN, &spied, sizeof(spied));
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK MenuSpyCallWndProc(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *sent = (const CWPSTRUCT *)lParam;
    if (code == HC_ACTION && sent->message == WM_INITMENUPOPUP)
        ReportMenu((HMENU)sent->wParam);
    else if (code == HC_ACTION && sent->message == WM_EXITMENULOOP)
        Report(SPY_MENU_CLOSED, nullptr, 0);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

extern "C" __declspec(dllexport) LRESULT CALLBACK MenuSpyGetMessage(int code, WPARAM wParam, LPARAM lParam)
{
    static UINT const marker = RegisterWindowMessageW(MENU_SPY_MARKER_MESSAGE);
    const MSG *retrieved = (const MSG *)lParam;
    if (code == HC_ACTION && wParam == PM_REMOVE && retrieved->message == marker) {
        DWORD number = (DWORD)retrieved->wParam;
        Report(SPY_MARKER_SEEN, &number, sizeof(number));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
