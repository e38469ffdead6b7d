// The user-interface language and string loading from the program's own tables.
//   ChooseUiLanguage - the table to use for given system, user and UI languages
//   SelectUiLanguage - picks uiLanguage once at start-up from the system's settings
//   LoadUiString     - one string-table entry in uiLanguage
//   UiString         - the same, by value
#include "Shell.h"

namespace {

// The translated tables, by primary language; Chinese is told apart by its
// sublanguage, everything else falls back to the English table.
WORD const PRIMARY_LANGUAGE_MASK = 0x3FF;
WORD const TRANSLATED_PRIMARY[] = {LANG_GERMAN, LANG_SPANISH, LANG_FRENCH, LANG_ITALIAN,
                                   LANG_JAPANESE, LANG_KOREAN, LANG_DUTCH};
LANGID const CHINESE_SIMPLIFIED_TABLE = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
LANGID const CHINESE_TRADITIONAL_TABLE = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
LANGID const ENGLISH_TABLE = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Sixteen strings to a string-table block; block n holds ids 16 (n - 1) to 16 n - 1.
UINT const STRINGS_PER_BLOCK = 16;

typedef LANGID(WINAPI *UiLanguageQuery)(void);

}  // namespace

LANGID ChooseUiLanguage(LANGID system, LANGID user, LANGID ui, bool *englishFallback)
{
    // The display language the user chose wins when it says something the
    // system default does not; otherwise a user locale of the system's own
    // language (a regional variant) is preferred to the system default.
    LANGID candidate;
    if (ui != 0 && ui != system)
        candidate = ui;
    else if ((user & PRIMARY_LANGUAGE_MASK) == (system & PRIMARY_LANGUAGE_MASK))
        candidate = user;
    else
        candidate = system;

    WORD primary = candidate & PRIMARY_LANGUAGE_MASK;
    *englishFallback = false;
    if (primary == LANG_CHINESE)
        return SUBLANGID(candidate) == SUBLANG_CHINESE_SIMPLIFIED ? CHINESE_SIMPLIFIED_TABLE
                                                                  : CHINESE_TRADITIONAL_TABLE;
    for (WORD translated : TRANSLATED_PRIMARY) {
        if (primary == translated)
            return primary;
    }
    *englishFallback = true;
    return ENGLISH_TABLE;
}

void SelectUiLanguage()
{
    LANGID system = GetSystemDefaultLangID();
    LANGID user = GetUserDefaultLangID();

    // Looked up at run time: systems before Windows 2000 lack it, and then the
    // system and user defaults decide alone.
    LANGID ui = 0;
    HMODULE kernel = LoadLibraryW(L"KERNEL32.DLL");
    if (kernel != nullptr) {
        UiLanguageQuery query = (UiLanguageQuery)GetProcAddress(kernel, "GetUserDefaultUILanguage");
        if (query != nullptr)
            ui = query();
        FreeLibrary(kernel);
    }

    bool englishFallback = false;
    appState.uiLanguage = ChooseUiLanguage(system, user, ui, &englishFallback);
    appState.englishFallback = englishFallback;
}

bool LoadUiString(UINT stringId, wchar_t *target, size_t targetChars)
{
    HRSRC block = FindResourceExW(appState.instance, RT_STRING,
                                  MAKEINTRESOURCEW(stringId / STRINGS_PER_BLOCK + 1), appState.uiLanguage);
    if (block == nullptr)
        return false;
    HGLOBAL loaded = LoadResource(appState.instance, block);
    const WCHAR *units = loaded ? (const WCHAR *)LockResource(loaded) : nullptr;
    if (units == nullptr)
        return false;
    size_t unitCount = SizeofResource(appState.instance, block) / sizeof(WCHAR);

    // Each entry is a length followed by that many code units, no terminator;
    // a damaged block must not lead the walk past the resource.
    size_t position = 0;
    for (UINT index = 0; index < stringId % STRINGS_PER_BLOCK; ++index) {
        if (position >= unitCount)
            return false;
        position += 1 + units[position];
    }
    if (position >= unitCount)
        return false;
    size_t length = units[position];
    if (length == 0 || position + 1 + length > unitCount)
        return false;
    if (targetChars == 0)
        return false;
    if (length > targetChars - 1)
        length = targetChars - 1;
    CopyMemory(target, units + position + 1, length * sizeof(WCHAR));
    target[length] = L'\0';
    return true;
}

UiText UiString(UINT stringId)
{
    UiText loaded;
    loaded.text[0] = L'\0';
    LoadUiString(stringId, loaded.text);
    return loaded;
}
