// The tray icon and its popup menu: the applet's whole visible presence.
//   AddTrayIcon          - the icon at the end of start-up, after one probe
//   UpdateTrayIcon       - attached or not attached, after device changes
//   OnTaskbarCreated     - puts the icon back when the shell restarts
//   OnTrayNotify         - right click opens the menu, double click switches
//   ShowTrayMenu         - the popup with the items the current state calls for
//   TrayMenuOffersSwitch - whether the menu offers a switching command now
//   FindMenuItemPosition - position of a command in a menu, from the end
#include "Shell.h"
#include "../device/Device.h"

static UINT const TRAY_ICON_ID = 1;

// Broadcast by the shell when it (re)starts; registered once at start-up.
static UINT taskbarCreatedMessage = 0;

// The menu resource stays loaded here; the popup shown is its sub-menu 0.
static HMENU trayMenuResource = nullptr;

// Set while the popup is on screen. Its menu loop goes on dispatching the
// shell's notifications, and a second right click must not rebuild (and so
// free) the menu the system is still showing.
static bool trayMenuShowing = false;

// A probe of the switch: opens it once and closes it at once.
static HICON ProbeSwitchIcon()
{
    DWORD reportLength = 0;
    HANDLE device = FindSwitchDevice(&reportLength);
    if (device == INVALID_HANDLE_VALUE)
        return appState.notAttachedIcon;
    CloseHandle(device);
    return appState.attachedIcon;
}

// Loads menu 130 on English and untranslated systems, menu 129 otherwise,
// in a fresh copy: removals made for one opening never outlive it.
static void LoadTrayMenu()
{
    if (trayMenuResource != nullptr)
        DestroyMenu(trayMenuResource);
    trayMenuResource = LoadMenuW(appState.instance,
                                 MAKEINTRESOURCEW(appState.englishFallback ? IDR_TRAY_MENU_EN : IDR_TRAY_MENU));
    appState.trayMenu = trayMenuResource != nullptr ? GetSubMenu(trayMenuResource, 0) : nullptr;
    if (appState.englishFallback) {
        appState.menuIdSwitchAll = IDM_SWITCH_ALL_EN;
        appState.menuIdSwitchAudio = IDM_SWITCH_AUDIO_EN;
        appState.menuIdSwitchVideo = IDM_SWITCH_VIDEO_EN;
    } else {
        appState.menuIdSwitchAll = IDM_SWITCH_ALL;
        appState.menuIdSwitchAudio = IDM_SWITCH_AUDIO;
        appState.menuIdSwitchVideo = IDM_SWITCH_VIDEO;
    }
    SetMenuDefaultItem(appState.trayMenu, appState.menuIdSwitchAll, FALSE);
}

void AddTrayIcon()
{
    taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    appState.attachedIcon = LoadIconW(appState.instance, MAKEINTRESOURCEW(IDI_ATTACHED));
    appState.notAttachedIcon = LoadIconW(appState.instance, MAKEINTRESOURCEW(IDI_NOT_ATTACHED));
    HICON icon = ProbeSwitchIcon();

    NOTIFYICONDATAW &tray = appState.trayIcon;
    tray.hWnd = appState.mainWindow;
    tray.uID = TRAY_ICON_ID;
    tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray.uCallbackMessage = WM_TRAY_NOTIFY;
    tray.hIcon = icon;
    lstrcpynW(tray.szTip, appState.windowTitle, ARRAYSIZE(tray.szTip));

    LoadTrayMenu();
    Shell_NotifyIconW(NIM_ADD, &tray);
}

void UpdateTrayIcon()
{
    if (appState.trayIcon.hWnd == nullptr)
        return;
    appState.trayIcon.hIcon = ProbeSwitchIcon();
    Shell_NotifyIconW(NIM_MODIFY, &appState.trayIcon);
}

bool IsTaskbarCreatedMessage(UINT message)
{
    return taskbarCreatedMessage != 0 && message == taskbarCreatedMessage;
}

void OnTaskbarCreated()
{
    // A restarted shell has forgotten every icon; without this the user would
    // lose the applet's only way in until the next log-on.
    if (appState.trayIcon.hWnd != nullptr)
        Shell_NotifyIconW(NIM_ADD, &appState.trayIcon);
}

LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam)
{
    if (wParam != TRAY_ICON_ID)
        return 0;
    switch (lParam) {
    case WM_CONTEXTMENU:
    case WM_RBUTTONUP:
        ShowTrayMenu();
        break;
    case WM_LBUTTONDBLCLK:
        appState.trayDoubleClickPending = true;
        break;
    case WM_LBUTTONUP:
        // A double click switches on the release that follows it.
        if (appState.trayDoubleClickPending) {
            SendSwitchCommand(SWITCH_ALL);
            appState.trayDoubleClickPending = false;
        }
        break;
    }
    return 1;
}

// Removes a command and the separator above it.
static void RemoveItemAndSeparatorAbove(UINT commandId)
{
    int position = FindMenuItemPosition(appState.trayMenu, commandId);
    if (position > 0)
        RemoveMenu(appState.trayMenu, position - 1, MF_BYPOSITION);
    RemoveMenu(appState.trayMenu, commandId, MF_BYCOMMAND);
}

void ShowTrayMenu()
{
    if (trayMenuShowing)
        return;
    POINT cursor = {};
    GetCursorPos(&cursor);
    // Our window must be foreground, or the menu will not close when the user clicks away.
    SetForegroundWindow(appState.mainWindow);

    LoadTrayMenu();
    HMENU menu = appState.trayMenu;
    UINT switching = TrayMenuOffersSwitch(SWITCH_ALL) ? MF_ENABLED : MF_GRAYED;
    EnableMenuItem(menu, appState.menuIdSwitchAll, MF_BYCOMMAND | switching);
    EnableMenuItem(menu, appState.menuIdSwitchAudio, MF_BYCOMMAND | switching);
    EnableMenuItem(menu, appState.menuIdSwitchVideo, MF_BYCOMMAND | switching);

    if (appState.noAudio != 0) {
        RemoveItemAndSeparatorAbove(appState.menuIdSwitchAudio);
        RemoveMenu(menu, appState.menuIdSwitchVideo, MF_BYCOMMAND);
    }
    if (!HasDisplayFirmware()) {
        RemoveItemAndSeparatorAbove(IDM_OPTIMIZE_DISPLAY);
    } else {
        // The item reads in the applet's language whatever language the menu came in.
        UiText item = UiString(IDS_OPTIMIZE_DISPLAY);
        int position = FindMenuItemPosition(menu, IDM_OPTIMIZE_DISPLAY);
        if (position >= 0 && item.text[0] != L'\0')
            ModifyMenuW(menu, position, MF_BYPOSITION | MF_STRING, IDM_OPTIMIZE_DISPLAY, item.text);
    }

    trayMenuShowing = true;
    TrackPopupMenu(menu, TPM_RIGHTALIGN, cursor.x, cursor.y, 0, appState.mainWindow, nullptr);
    trayMenuShowing = false;
    PostMessageW(appState.mainWindow, WM_NULL, 0, 0);
}

bool TrayMenuOffersSwitch(SwitchCommand command)
{
    if (appState.deviceAttributes.ProductID == 0)
        return false;
    return command == SWITCH_ALL || appState.noAudio == 0;
}

int FindMenuItemPosition(HMENU menu, UINT commandId)
{
    if (menu == nullptr)
        return -1;
    for (int position = GetMenuItemCount(menu) - 1; position >= 0; --position) {
        if (GetMenuState(menu, position, MF_BYPOSITION) == (UINT)-1)
            return -1;
        if (GetMenuItemID(menu, position) == commandId)
            return position;
    }
    return -1;
}
