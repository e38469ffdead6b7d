// Device arrival and removal: keeps the tray icon current and greets a switch
// that has just been plugged in.
//   OnDeviceChange - every WM_DEVICECHANGE of the main window
#include "Device.h"
#include "../display/Display.h"
#include "../shell/Shell.h"

#include <dbt.h>
#include <cwctype>
#include <string>

// Rows 3 and 4 of the id table: switches that carry video and take the
// resolution and border reports.
static bool IsVideoCapableSwitch(const std::wstring &upperName)
{
    return upperName.find(switchIdTable[2]) != std::wstring::npos ||
           upperName.find(switchIdTable[3]) != std::wstring::npos;
}

static void RestartWatcherStartTimer()
{
    RestartThreadTimer(&appState.watcherStartTimerId, WATCHER_START_TIMER, WATCHER_START_TIMER);
}

static void GreetArrivedSwitch(const std::wstring &upperName)
{
    // Reports the mute state and, by opening the switch, reads its identity again.
    SendSwitchCommand(SWITCH_NONE);
    RestartWatcherStartTimer();

    if (!IsVideoCapableSwitch(upperName) || !HasDisplayFirmware())
        return;
    if (appState.borderOn != 0) {
        SendResolutionReport();
        return;
    }
    appState.optimizeRequested = 0;
    ResetEvent(appState.borderEvent);
    StartBorder();
    SendResolutionReport();
    SendBorderReport();
}

void OnDeviceChange(WPARAM event, LPARAM lParam)
{
    appState.deviceAttributes = HIDD_ATTRIBUTES{};

    if (event == DBT_DEVNODES_CHANGED) {
        UpdateTrayIcon();
        return;
    }
    if (event != DBT_DEVICEARRIVAL)
        return;
    const DEV_BROADCAST_HDR *header = (const DEV_BROADCAST_HDR *)lParam;
    if (header != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        std::wstring upperName = ((const DEV_BROADCAST_DEVICEINTERFACE_W *)header)->dbcc_name;
        for (wchar_t &character : upperName)
            character = (wchar_t)towupper(character);
        if (PathHoldsSwitchId(upperName.c_str()))
            GreetArrivedSwitch(upperName);
    }
    UpdateTrayIcon();
}
