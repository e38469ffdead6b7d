// Registry helpers for tests: every test starts from a known state of the
// applet's keys and leaves nothing of its own behind.
#pragma once

#include <windows.h>
#include <optional>
#include <string>
#include <vector>

extern const wchar_t *const SETTINGS_KEY;     // HKCU
extern const wchar_t *const SETTINGS_PARENT;  // HKCU
extern const wchar_t *const VARIANT_KEY;      // HKLM
extern const wchar_t *const VARIANT_PARENT;   // HKLM

// Removes HKCU "Software\Varnel" and HKLM "SOFTWARE\Varnel" when made and again when gone.
class CleanRegistry {
public:
    CleanRegistry();
    ~CleanRegistry();
    static void RemoveAll();
};

void SetRegistryValue(HKEY root, const wchar_t *key, const wchar_t *name, DWORD type,
                      const void *data, DWORD size);
void SetRegistryDword(HKEY root, const wchar_t *key, const wchar_t *name, DWORD value);
std::optional<DWORD> ReadRegistryDword(HKEY root, const wchar_t *key, const wchar_t *name);
std::optional<std::vector<BYTE>> ReadRegistryBytes(HKEY root, const wchar_t *key, const wchar_t *name,
                                                   DWORD *type = nullptr);
bool RegistryKeyExists(HKEY root, const wchar_t *key);
bool RegistryValueExists(HKEY root, const wchar_t *key, const wchar_t *name);
std::vector<std::wstring> RegistryValueNames(HKEY root, const wchar_t *key);
void DeleteRegistryTree(HKEY root, const wchar_t *key);
