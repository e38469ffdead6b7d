// The current user's device connect and disconnect sounds, set up by the
// tests in a prefix that has none, and removed again afterwards.
#pragma once

#include "Registry.h"

#include <windows.h>
#include <string>

wchar_t const CONNECT_EVENT[] = L"AppEvents\\Schemes\\Apps\\.Default\\DeviceConnect";
wchar_t const DISCONNECT_EVENT[] = L"AppEvents\\Schemes\\Apps\\.Default\\DeviceDisconnect";
wchar_t const CONNECT_CURRENT[] = L"AppEvents\\Schemes\\Apps\\.Default\\DeviceConnect\\.Current";
wchar_t const CONNECT_DEFAULT[] = L"AppEvents\\Schemes\\Apps\\.Default\\DeviceConnect\\.Default";
wchar_t const DISCONNECT_CURRENT[] = L"AppEvents\\Schemes\\Apps\\.Default\\DeviceDisconnect\\.Current";
wchar_t const DISCONNECT_DEFAULT[] = L"AppEvents\\Schemes\\Apps\\.Default\\DeviceDisconnect\\.Default";

// Tests may only change a sound scheme they made themselves.
class SoundSchemeSandbox {
public:
    SoundSchemeSandbox()
        : ours_(!RegistryKeyExists(HKEY_CURRENT_USER, CONNECT_EVENT) &&
                !RegistryKeyExists(HKEY_CURRENT_USER, DISCONNECT_EVENT))
    {
    }
    ~SoundSchemeSandbox()
    {
        if (ours_) {
            DeleteRegistryTree(HKEY_CURRENT_USER, CONNECT_EVENT);
            DeleteRegistryTree(HKEY_CURRENT_USER, DISCONNECT_EVENT);
        }
    }
    // False when this user already has the sounds: leave them alone.
    bool ours() const { return ours_; }

private:
    bool ours_;
};

// A text value as the sound scheme keeps it, terminator included; an empty
// `text` with `noBytes` is a value of no bytes at all, which is a sound turned off.
inline void SetSoundValue(const wchar_t *key, const wchar_t *name, DWORD type, const std::wstring &text,
                          bool noBytes = false)
{
    SetRegistryValue(HKEY_CURRENT_USER, key, name, type, text.c_str(),
                     noBytes ? 0 : (DWORD)((text.size() + 1) * sizeof(wchar_t)));
}

// A value as "type:bytes:text" (the text without its terminator); "missing" when there is none.
inline std::string DescribeSoundValue(const wchar_t *key, const wchar_t *name)
{
    DWORD type = 0;
    auto bytes = ReadRegistryBytes(HKEY_CURRENT_USER, key, name, &type);
    if (!bytes)
        return "missing";
    std::string text;
    for (size_t at = 0; at + 1 < bytes->size(); at += 2) {
        wchar_t unit = (wchar_t)((*bytes)[at] | ((*bytes)[at + 1] << 8));
        if (unit != 0)
            text += unit < 0x80 ? (char)unit : '?';
    }
    return std::to_string(type) + ":" + std::to_string(bytes->size()) + ":" + text;
}
