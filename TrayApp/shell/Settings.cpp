// Registry values of the settings key, read whatever their stored type.
#include "Shell.h"

bool QueryRegistryDword(HKEY key, const wchar_t *valueName, DWORD *target, DWORD bufferBytes)
{
    // Zeroed before every read: a stored value shorter than four bytes must not
    // leave stray bytes in the field.
    BYTE buffer[SETTINGS_VALUE_BYTES] = {};
    if (bufferBytes > sizeof(buffer))
        bufferBytes = sizeof(buffer);
    DWORD size = bufferBytes;
    if (RegQueryValueExW(key, valueName, nullptr, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    *target = (DWORD)buffer[0] | ((DWORD)buffer[1] << 8) | ((DWORD)buffer[2] << 16) | ((DWORD)buffer[3] << 24);
    return true;
}

void WriteRegistryDword(HKEY key, const wchar_t *valueName, DWORD value)
{
    RegSetValueExW(key, valueName, 0, REG_DWORD, (const BYTE *)&value, sizeof(value));
}
