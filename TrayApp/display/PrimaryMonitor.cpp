// The monitor cabled through the switch and its resolution.
#include "Display.h"

BOOL MonitorChoiceNeeded()
{
    return FALSE;  // Not built yet.
}

void PromptForPrimaryMonitor()
{
}

BOOL IsChosenMonitor(HMONITOR monitor)
{
    return FALSE;
}

DWORD GetPrimaryResolution()
{
    return 0;
}
