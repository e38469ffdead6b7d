// The entry point: start-up, the two worker events and the message loop.
#include "Shell.h"
#include "../device/Device.h"
#include "../display/Display.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine, int showCommand)
{
    // Both read "Morvax" in every language: the language is not chosen yet.
    LoadUiString(IDS_CLASS_NAME, appState.windowTitle);
    LoadUiString(IDS_CLASS_NAME, appState.className);
    // A start with a verb only asks the running copy, and never runs itself.
    int verbExitCode = 0;
    if (RunCommandLineVerb(GetCommandLineW(), &verbExitCode))
        return verbExitCode;
    RegisterMainWindowClass(instance);
    if (!InitInstance(instance, showCommand))
        return 0;

    if (HasDisplayFirmware() && MonitorChoiceNeeded())
        PromptForPrimaryMonitor();

    appState.watcherEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    appState.borderEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetBorderEvent(appState.borderEvent);

    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsMonitorPromptMessage(&message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    StopWatcher();
    if (appState.mixerHandle != (HMIXER)(LONG_PTR)-1)
        mixerClose(appState.mixerHandle);
    return (int)message.wParam;
}
