// The system's device connect and disconnect sounds, for the Options dialog.
//   DeviceSoundsAvailable - the sounds setting exists (Windows XP and later)
//   AreDeviceSoundsOn     - on unless both sounds are turned off
//   SetDeviceSounds       - turns both sounds off or on
//   SetDeviceSound        - one sound: saved to "Old" and emptied, or restored
#include "Dialogs.h"

namespace {

wchar_t const CONNECT_CURRENT[] = L"AppEvents\\Schemes\\Apps\\.Default\\DeviceConnect\\.Current";
wchar_t const CONNECT_DEFAULT[] = L"AppEvents\\Schemes\\Apps\\.Default\\DeviceConnect\\.Default";
wchar_t const DISCONNECT_CURRENT[] = L"AppEvents\\Schemes\\Apps\\.Default\\DeviceDisconnect\\.Current";
wchar_t const DISCONNECT_DEFAULT[] = L"AppEvents\\Schemes\\Apps\\.Default\\DeviceDisconnect\\.Default";
// Where a turned-off sound keeps the file it played, in its .Current key.
wchar_t const SAVED_SOUND_VALUE[] = L"Old";
DWORD const SOUND_BUFFER_BYTES = 2048;

// A sound value with no text: no data, or a text that ends at once.
bool IsEmptySound(const BYTE *data, DWORD size)
{
    return size < sizeof(WCHAR) || *(const WCHAR *)data == L'\0';
}

// A sound counts as off when its value exists and holds no bytes at all.
bool IsSoundTurnedOff(const wchar_t *current)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, current, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    BYTE buffer[SOUND_BUFFER_BYTES];
    DWORD size = sizeof(buffer);
    bool off = RegQueryValueExW(key, nullptr, nullptr, nullptr, buffer, &size) == ERROR_SUCCESS && size == 0;
    RegCloseKey(key);
    return off;
}

}  // namespace

bool DeviceSoundsAvailable()
{
    const OSVERSIONINFOEXW &version = appState.osVersion;
    return version.dwMajorVersion > 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion >= 1);
}

DWORD AreDeviceSoundsOn()
{
    if (!DeviceSoundsAvailable())
        return 0;
    int count = 2;
    if (IsSoundTurnedOff(CONNECT_CURRENT))
        count = 1;
    if (IsSoundTurnedOff(DISCONNECT_CURRENT))
        count -= 1;
    return count != 0 ? 1 : 0;
}

void SetDeviceSound(const wchar_t *current, const wchar_t *schemeDefault, DWORD on)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, current, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    BYTE buffer[SOUND_BUFFER_BYTES] = {};
    DWORD type = REG_NONE;
    DWORD size = sizeof(buffer);
    if (RegQueryValueExW(key, nullptr, nullptr, &type, buffer, &size) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return;
    }

    if (on == 0) {
        // A sound that is already silent has nothing to save: saving it would
        // overwrite the sound file the user chose with an empty one, for good.
        if (!IsEmptySound(buffer, size))
            RegSetValueExW(key, SAVED_SOUND_VALUE, 0, type, buffer, size);
        // The same type with no data: the sound is off and keeps its type.
        RegSetValueExW(key, nullptr, 0, type, buffer, 0);
    } else {
        ZeroMemory(buffer, sizeof(buffer));
        DWORD writeType = REG_NONE;
        DWORD writeSize = sizeof(buffer);
        LONG saved = RegQueryValueExW(key, SAVED_SOUND_VALUE, nullptr, &writeType, buffer, &writeSize);
        if (saved != ERROR_SUCCESS || IsEmptySound(buffer, writeSize)) {
            // Nothing saved: the scheme's own sound, or else an empty text of
            // the value's type, which counts as on without playing anything.
            ZeroMemory(buffer, sizeof(buffer));
            writeType = type;
            writeSize = sizeof(WCHAR);
            HKEY schemeKey = nullptr;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, schemeDefault, 0, KEY_READ, &schemeKey) == ERROR_SUCCESS) {
                DWORD schemeType = REG_NONE;
                DWORD schemeSize = sizeof(buffer);
                if (RegQueryValueExW(schemeKey, nullptr, nullptr, &schemeType, buffer, &schemeSize) ==
                    ERROR_SUCCESS) {
                    writeType = schemeType;
                    writeSize = schemeSize;
                } else {
                    ZeroMemory(buffer, sizeof(buffer));
                }
                RegCloseKey(schemeKey);
            }
        }
        RegSetValueExW(key, nullptr, 0, writeType, buffer, writeSize);
    }
    RegCloseKey(key);
}

void SetDeviceSounds(DWORD on)
{
    // Windows before XP offers no such setting: its sound scheme is left alone.
    if (!DeviceSoundsAvailable())
        return;
    SetDeviceSound(CONNECT_CURRENT, CONNECT_DEFAULT, on);
    SetDeviceSound(DISCONNECT_CURRENT, DISCONNECT_DEFAULT, on);
}
