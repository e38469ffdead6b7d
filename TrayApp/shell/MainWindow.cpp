// The hidden main window: message dispatch and the exit sequence.
//   MainWndProc      - dispatches to the part that owns each message
//   OnCommand        - tray menu commands and another copy's "/x"
//   OnEndSession     - switch away when Windows shuts down (one variant)
// (A second start's verbs reach OnVerb, in Verbs.cpp.)
//   RunExitSequence  - takes the applet down, once per exit
#include "Shell.h"
#include "../device/Device.h"
#include "../display/Display.h"
#include "../dialogs/Dialogs.h"
#include "../hotkeys/Hotkeys.h"
#include "../KbHook/Quillhook.h"

// The switch-on-exit and switch-on-shutdown feature exists only for the
// variant that has neither audio switching nor a button.
static bool SwitchOnEventWanted(DWORD setting)
{
    return appState.noAudio != 0 && appState.noButton != 0 && setting != 0;
}

// DestroyWindow inside the sequence delivers WM_DESTROY and WM_NCDESTROY,
// which lead back here: the guard makes one exit run its effects once, so the
// switch-all on exit is sent once and does not move control away and back.
void RunExitSequence(bool windowAlreadyGoing, bool switchAllowed)
{
    if (appState.exitSequenceStarted)
        return;
    appState.exitSequenceStarted = true;

    EndBorderForExit();
    if (switchAllowed && SwitchOnEventWanted(appState.switchOnExit)) {
        DebugLine(L"The app is closing, time to switch\n");
        SendSwitchCommand(SWITCH_ALL);
    }
    Shell_NotifyIconW(NIM_DELETE, &appState.trayIcon);
    appState.trayIcon.hWnd = nullptr;

    // The optimize and pipe timers are left to the end of the process.
    UINT_PTR *const timersToStop[] = {&appState.sequenceTimerId, &appState.altDelayTimerId,
                                      &appState.borderTimerId, &appState.watcherStartTimerId};
    for (UINT_PTR *timerId : timersToStop) {
        if (*timerId != TIMER_NOT_RUNNING)
            KillTimer(nullptr, *timerId);
    }
    StopHook();
    if (!windowAlreadyGoing)
        DestroyWindow(appState.mainWindow);
    PostQuitMessage(0);
}

static void OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDM_ABOUT:
        ShowAboutDialog(window);
        break;
    case IDM_EXIT:
        RunExitSequence(false, lParam != EXIT_FOR_INSTALLER);
        break;
    case IDM_SWITCH_ALL:
    case IDM_SWITCH_ALL_EN:
        SendSwitchCommand(SWITCH_ALL);
        break;
    case IDM_SWITCH_AUDIO:
    case IDM_SWITCH_AUDIO_EN:
        SendSwitchCommand(SWITCH_AUDIO);
        break;
    case IDM_SWITCH_VIDEO:
    case IDM_SWITCH_VIDEO_EN:
        SendSwitchCommand(SWITCH_VIDEO);
        break;
    case IDM_OPTIONS:
        ShowOptionsDialog(window);
        break;
    case IDM_OPTIMIZE_DISPLAY:
        DebugLine(L"User wants to Optimize Display\n");
        OptimizeDisplay();
        break;
    default:
        DefWindowProcW(window, WM_COMMAND, wParam, lParam);
        break;
    }
}

static void OnEndSession()
{
    if (SwitchOnEventWanted(appState.switchOnShutdown)) {
        DebugLine(L"The system is shutting down, time to switch\n");
        SendSwitchCommand(SWITCH_ALL);
    }
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
    case WM_NCDESTROY:
        RunExitSequence(true);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ENDSESSION:
        OnEndSession();
        return 0;
    case WM_DISPLAYCHANGE:
        OnDisplayChange();
        return 0;
    case WM_COMMAND:
        OnCommand(window, wParam, lParam);
        return 0;
    case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        return 0;
    case MM_MIXM_CONTROL_CHANGE:
        OnMixerControlChange(lParam);
        return 0;
    case WM_TRAY_NOTIFY:
        OnTrayNotify(wParam, lParam);
        return 0;
    case WM_TURN_BORDER_ON:
        OnTurnBorderOn();
        return 0;
    case WM_TURN_BORDER_OFF:
        OnTurnBorderOff();
        return 0;
    case WM_HOOK_KEYUP:
        OnHotkeyEvent(window, 0, wParam, lParam);
        return 0;
    case WM_HOOK_ALTSTATE:
        OnAltStateChange(lParam);
        return 0;
    }
    if (IsTaskbarCreatedMessage(message)) {
        OnTaskbarCreated();
        return 0;
    }
    if (message == VerbMessage())
        return OnVerb(wParam);
    return DefWindowProcW(window, message, wParam, lParam);
}
