// Device arrival and removal: keeps the tray icon current and greets a switch
// that has just been plugged in.
//   GreetArrivedSwitch   - the reports a switch gets when it is plugged in
//   ArrivedInterfaceName - the interface's name, read within the record's own size
//   OnDeviceChange       - every WM_DEVICECHANGE of the main window
#include "Device.h"
#include "../display/Display.h"
#include "../shell/Shell.h"

#include <dbt.h>
#include <cstddef>
#include <cwctype>
#include <cwchar>

static size_t const NAME_OFFSET = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);

static void GreetArrivedSwitch(const wchar_t *upperName)
{
    // Reports the mute state and, by opening the switch, reads its identity again.
    SendSwitchCommand(SWITCH_NONE);
    ArmWatcherStart();
    if (PathHoldsVideoSwitchId(upperName))
        OnVideoSwitchArrival();
}

// The upper-case interface name of an arrival record, on the process heap
// for the caller to free; empty when the record is too short to hold one.
// Nothing past dbch_size is read: the sender decides that size, and a record
// that claims more than it holds, or a name with no terminator inside it,
// must not lead the read into other memory.
static wchar_t *ArrivedInterfaceName(const DEV_BROADCAST_HDR *header)
{
    size_t maxChars = header->dbch_size > NAME_OFFSET ? (header->dbch_size - NAME_OFFSET) / sizeof(wchar_t) : 0;
    wchar_t *upperName = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, (maxChars + 1) * sizeof(wchar_t));
    if (upperName == nullptr)
        return nullptr;
    const DEV_BROADCAST_DEVICEINTERFACE_W *record = (const DEV_BROADCAST_DEVICEINTERFACE_W *)header;
    size_t length = 0;
    for (; length < maxChars && record->dbcc_name[length] != L'\0'; ++length)
        upperName[length] = (wchar_t)towupper(record->dbcc_name[length]);
    upperName[length] = L'\0';
    return upperName;
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
    // A missing record, or one too short for its own header, is no switch.
    const DEV_BROADCAST_HDR *header = (const DEV_BROADCAST_HDR *)lParam;
    if (header != nullptr && header->dbch_size >= sizeof(DEV_BROADCAST_HDR) &&
        header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        wchar_t *upperName = ArrivedInterfaceName(header);
        if (upperName != nullptr && PathHoldsSwitchId(upperName))
            GreetArrivedSwitch(upperName);
        if (upperName != nullptr)
            HeapFree(GetProcessHeap(), 0, upperName);
    }
    UpdateTrayIcon();
}
