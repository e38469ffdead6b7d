// The tray icon and its popup menu.
#include "Shell.h"

void AddTrayIcon()
{
    // Not built yet: the applet runs without an icon.
}

void UpdateTrayIcon()
{
}

LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam)
{
    return 0;
}

void ShowTrayMenu()
{
}

int FindMenuItemPosition(HMENU menu, UINT commandId)
{
    return -1;
}
