#include "Registry.h"

const wchar_t *const SETTINGS_KEY = L"Software\\Varnel\\Kestrel";
const wchar_t *const SETTINGS_PARENT = L"Software\\Varnel";
const wchar_t *const VARIANT_KEY = L"SOFTWARE\\Varnel\\Kestrel";
const wchar_t *const VARIANT_PARENT = L"SOFTWARE\\Varnel";

CleanRegistry::CleanRegistry() { RemoveAll(); }
CleanRegistry::~CleanRegistry() { RemoveAll(); }

void CleanRegistry::RemoveAll()
{
    DeleteRegistryTree(HKEY_CURRENT_USER, SETTINGS_PARENT);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, VARIANT_PARENT);
}

void DeleteRegistryTree(HKEY root, const wchar_t *key)
{
    RegDeleteTreeW(root, key);
    RegDeleteKeyW(root, key);
}

void SetRegistryValue(HKEY root, const wchar_t *key, const wchar_t *name, DWORD type,
                      const void *data, DWORD size)
{
    HKEY opened = nullptr;
    if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &opened, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(opened, name, 0, type, (const BYTE *)data, size);
    RegCloseKey(opened);
}

void SetRegistryDword(HKEY root, const wchar_t *key, const wchar_t *name, DWORD value)
{
    SetRegistryValue(root, key, name, REG_DWORD, &value, sizeof(value));
}

std::optional<std::vector<BYTE>> ReadRegistryBytes(HKEY root, const wchar_t *key, const wchar_t *name,
                                                   DWORD *type)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<BYTE> data(4096);
    DWORD size = (DWORD)data.size();
    LONG result = RegQueryValueExW(opened, name, nullptr, type, data.data(), &size);
    RegCloseKey(opened);
    if (result != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size);
    return data;
}

std::optional<DWORD> ReadRegistryDword(HKEY root, const wchar_t *key, const wchar_t *name)
{
    DWORD type = 0;
    auto data = ReadRegistryBytes(root, key, name, &type);
    if (!data || type != REG_DWORD || data->size() != 4)
        return std::nullopt;
    DWORD value;
    memcpy(&value, data->data(), 4);
    return value;
}

bool RegistryKeyExists(HKEY root, const wchar_t *key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

bool RegistryValueExists(HKEY root, const wchar_t *key, const wchar_t *name)
{
    return ReadRegistryBytes(root, key, name).has_value();
}

std::vector<std::wstring> RegistryValueNames(HKEY root, const wchar_t *key)
{
    std::vector<std::wstring> names;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumValueW(opened, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    RegCloseKey(opened);
    return names;
}
