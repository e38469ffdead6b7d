// The reports the applet writes to the switch and the one it reads.
#include "Device.h"
#include "../shell/Shell.h"

void SendSwitchCommand(SwitchCommand command)
{
    DWORD reportLength = 0;
    HANDLE device = FindSwitchDevice(&reportLength);
    if (device == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(device);
}

void SendResolutionReport()
{
}

void SendBorderReport()
{
}

void HandleInputReport(const BYTE *report, DWORD bytesTransferred)
{
}
