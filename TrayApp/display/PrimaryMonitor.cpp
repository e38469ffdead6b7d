// The monitor cabled through the switch: the user's stored choice and its resolution.
//   IsChosenMonitor       - is this device name the stored choice
//   SaveChosenMonitor     - stores the choice and the present number of monitors
//   MonitorChoiceNeeded   - must the user be asked (again)
//   GetPrimaryResolution  - the chosen monitor's resolution, (width << 16) | height
#include "Display.h"

#include <cwchar>

static wchar_t const CHOSEN_MONITOR_VALUE[] = L"DefaultDisplay";
static wchar_t const MONITOR_COUNT_VALUE[] = L"NumDisplays";
static DWORD const MULTI_SZ = REG_MULTI_SZ;

// Reads a text value stored as REG_MULTI_SZ, without terminators as this
// program stores it, or with them as a hand edit or another writer leaves it:
// the text ends at the first NUL or at the end of the data. Empty when the
// value cannot be read.
size_t const STORED_TEXT_CHARS = MONITOR_VALUE_BYTES / sizeof(wchar_t);
struct StoredText {
    wchar_t text[STORED_TEXT_CHARS + 1];  // room for a terminator after the longest value
};
static bool ReadStoredText(HKEY key, const wchar_t *valueName, StoredText *stored)
{
    DWORD bytes = MONITOR_VALUE_BYTES;
    if (RegQueryValueExW(key, valueName, nullptr, nullptr, (BYTE *)stored->text, &bytes) != ERROR_SUCCESS)
        return false;
    stored->text[bytes / sizeof(wchar_t)] = L'\0';
    return true;
}

static HKEY OpenSettingsForReading()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, USER_SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

int IsChosenMonitor(const wchar_t *deviceName)
{
    HKEY key = OpenSettingsForReading();
    if (key == nullptr)
        return 0;
    StoredText stored;
    // Device names are compared exactly, letter case included.
    int chosen = ReadStoredText(key, CHOSEN_MONITOR_VALUE, &stored) && wcscmp(stored.text, deviceName) == 0 ? 1 : 0;
    RegCloseKey(key);
    return chosen;
}

// Stored as the bare characters, 2 bytes each, with no terminator. The
// registry adds a terminator of its own to a string value whose data is
// followed by one in memory, so the characters are handed over in a copy
// that is followed by something else.
static LONG SetStoredText(HKEY key, const wchar_t *valueName, const wchar_t *text)
{
    StoredText data;
    size_t characters = wcslen(text);
    if (characters > STORED_TEXT_CHARS)
        characters = STORED_TEXT_CHARS;  // no more than a read gives back
    CopyMemory(data.text, text, characters * sizeof(wchar_t));
    data.text[characters] = L'*';
    return RegSetValueExW(key, valueName, 0, MULTI_SZ, (const BYTE *)data.text, (DWORD)(characters * sizeof(wchar_t)));
}

LONG SaveChosenMonitor(const wchar_t *deviceName)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, USER_SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) == ERROR_SUCCESS)
        RegCloseKey(key);
    LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, USER_SETTINGS_KEY, 0, KEY_SET_VALUE, &key);
    if (opened != ERROR_SUCCESS)
        return opened;
    LONG nameResult = SetStoredText(key, CHOSEN_MONITOR_VALUE, deviceName);
    wchar_t count[16] = {};
    _snwprintf(count, sizeof(count) / sizeof(count[0]) - 1, L"%d", GetSystemMetrics(SM_CMONITORS));
    LONG countResult = SetStoredText(key, MONITOR_COUNT_VALUE, count);
    RegCloseKey(key);
    return nameResult | countResult;
}

int MonitorChoiceNeeded()
{
    int monitors = GetSystemMetrics(SM_CMONITORS);
    HKEY key = OpenSettingsForReading();
    if (key == nullptr)
        return 1;
    StoredText stored;
    // The choice was made for another set of monitors: one may have been added.
    int needed = !ReadStoredText(key, MONITOR_COUNT_VALUE, &stored) || _wtoi(stored.text) != monitors ? 1 : 0;
    RegCloseKey(key);
    return needed;
}

// The size of the chosen monitor itself, from its current display mode: real
// pixels whatever the scaling, where its rectangle can be a scaled one (a
// monitor of another scale than the system's, seen by a program that is not
// aware per monitor). The rectangle stands in where the mode gives no size.
// The screen's device context would give the primary monitor's size for
// every monitor.
static BOOL CALLBACK NoteChosenResolution(HMONITOR monitor, HDC, RECT *, LPARAM)
{
    MONITORINFOEXW info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    if (IsChosenMonitor(info.szDevice) != 1)
        return TRUE;
    DWORD width = (DWORD)(info.rcMonitor.right - info.rcMonitor.left);
    DWORD height = (DWORD)(info.rcMonitor.bottom - info.rcMonitor.top);
    DEVMODEW mode = {};
    mode.dmSize = sizeof(mode);
    if (EnumDisplaySettingsW(info.szDevice, ENUM_CURRENT_SETTINGS, &mode) && mode.dmPelsWidth != 0 &&
        mode.dmPelsHeight != 0) {
        width = mode.dmPelsWidth;
        height = mode.dmPelsHeight;
    }
    appState.lastPrimaryResolution = (width << 16) | height;
    return TRUE;
}

// Not cleared first: with the chosen monitor unplugged the switch is still
// told the last resolution it had (0 when it was never seen).
DWORD GetPrimaryResolution()
{
    HDC screen = GetDC(nullptr);
    BOOL enumerated = EnumDisplayMonitors(screen, nullptr, NoteChosenResolution, 0);
    ReleaseDC(nullptr, screen);
    return enumerated ? appState.lastPrimaryResolution : 0;
}
