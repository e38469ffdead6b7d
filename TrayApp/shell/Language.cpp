// The user-interface language and string loading from the program's own tables.
//   SelectUiLanguage - picks uiLanguage once at start-up
//   LoadUiString     - one string-table entry in uiLanguage
#include "Shell.h"

void SelectUiLanguage()
{
    // Not built yet: the applet stays in English.
    appState.uiLanguage = 0x0409;
    appState.englishFallback = true;
}

bool LoadUiString(UINT stringId, std::wstring &target)
{
    HRSRC block = FindResourceExW(appState.instance, RT_STRING, MAKEINTRESOURCEW(stringId / 16 + 1),
                                  appState.uiLanguage);
    if (block == nullptr)
        return false;
    HGLOBAL loaded = LoadResource(appState.instance, block);
    const WCHAR *entry = loaded ? (const WCHAR *)LockResource(loaded) : nullptr;
    if (entry == nullptr)
        return false;
    const WCHAR *end = entry + SizeofResource(appState.instance, block) / sizeof(WCHAR);

    // Sixteen length-prefixed entries per block; never walk past the resource.
    for (UINT index = 0; index < stringId % 16; ++index) {
        if (entry >= end)
            return false;
        entry += 1 + *entry;
    }
    if (entry >= end || *entry == 0 || entry + 1 + *entry > end)
        return false;
    target.assign(entry + 1, *entry);
    return true;
}

std::wstring LoadUiString(UINT stringId)
{
    std::wstring text;
    LoadUiString(stringId, text);
    return text;
}
