// Windows drops the messages that a program of lower integrity sends or posts
// to an elevated one. Started with full rights (the installer's choice to
// switch from windows running as administrator too), the applet must still
// hear the ordinary programs that legitimately talk to its hidden window.
//   RunsElevated                      - the applet's own token is elevated
//   LoadMessageFilterFunctions        - the filter calls of this Windows, if any
//   AllowMessagesFromOrdinaryPrograms - lets exactly those messages through
//   AllowOrdinaryProgramsToMainWindow - start-up's call
#include "MessageFilter.h"
#include "Shell.h"

bool RunsElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    // Before Vista there is no elevation, and the question fails.
    BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
    CloseHandle(token);
    return known && elevation.TokenIsElevated != 0;
}

MessageFilterFunctions LoadMessageFilterFunctions()
{
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    MessageFilterFunctions functions = {
        (ChangeWindowMessageFilterExProc)(void *)GetProcAddress(user32, "ChangeWindowMessageFilterEx"),
        (ChangeWindowMessageFilterProc)(void *)GetProcAddress(user32, "ChangeWindowMessageFilter")};
    return functions;
}

UINT AllowMessagesFromOrdinaryPrograms(HWND window, bool elevated, const MessageFilterFunctions &functions)
{
    if (!elevated)
        return 0;
    UINT const messages[] = {
        // Quillhook, inside every ordinary program that takes keyboard input.
        WM_HOOK_KEYUP,
        WM_HOOK_ALTSTATE,
        // The shell: restarted, it asks for the icon again; without this an
        // elevated tray program loses its icon for good.
        RegisterWindowMessageW(L"TaskbarCreated"),
        // The shell, for the icon's menu and double click. Shell_NotifyIcon
        // lets its callback through by itself on today's Windows, but nowhere
        // documents it, and the icon is the applet's only way in.
        WM_TRAY_NOTIFY,
        // A second start with /x posts the Exit command. The filter cannot
        // look at wParam, so any menu command passes: none does more than the
        // user can do from the tray menu.
        WM_COMMAND,
        // A second start with a verb: again no more than the tray menu does.
        VerbMessage(),
    };
    UINT allowed = 0;
    for (UINT message : messages) {
        // Windows 7 and later: for this window alone. Vista: for the whole
        // process, its only form.
        BOOL done = functions.perWindow != nullptr     ? functions.perWindow(window, message, MSGFLT_ALLOW, nullptr)
                    : functions.processWide != nullptr ? functions.processWide(message, MSGFLT_ADD)
                                                       : FALSE;
        allowed += done ? 1 : 0;
    }
    return allowed;
}

void AllowOrdinaryProgramsToMainWindow()
{
    AllowMessagesFromOrdinaryPrograms(appState.mainWindow, RunsElevated(), LoadMessageFilterFunctions());
}
