// Finding and opening the switch among the HID interfaces.
#include "Device.h"

const wchar_t *const switchIdTable[6] = {
    L"VID_7E51&PID_5A01&COL01", L"VID_7E51&PID_5A02&COL01", L"VID_7E51&PID_5A03&COL01",
    L"VID_7E51&PID_5A04&COL01", L"VID_7E51&PID_5A05&MI_00", L"VID_7E51&PID_5A06&MI_00",
};

HANDLE FindSwitchDevice(DWORD *outputReportLength)
{
    // Not built yet: no switch is ever found.
    return INVALID_HANDLE_VALUE;
}

HidDeviceSet::HidDeviceSet()
    : deviceInfoSet(INVALID_HANDLE_VALUE), interfaceData{}, detailData(nullptr), count(0), classGuid{},
      outputReportLength(0), overlapped(false)
{
    interfaceData.cbSize = sizeof(interfaceData);
    for (HANDLE &handle : handles)
        handle = INVALID_HANDLE_VALUE;
    HidD_GetHidGuid(&classGuid);
}

void HidDeviceSet::setOverlapped()
{
    overlapped = true;
}

int HidDeviceSet::openAll()
{
    return 0;
}

void HidDeviceSet::closeAll()
{
    for (HANDLE handle : handles) {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
}
