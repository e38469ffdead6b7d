// Device arrival and removal notifications.
#include "Device.h"

void OnDeviceChange(WPARAM wParam, LPARAM lParam)
{
    // Not built yet.
}
