// The applet's compiled resources, read back from bin/VarnelKVM.exe loaded as
// a data file, and the binary layouts Windows keeps them in taken apart.
//   ProgramAsData        - bin/VarnelKVM.exe loaded once as a data file (null on failure)
//   ProgramPath          - the full path of bin/VarnelKVM.exe
//   ResourceTypes, ResourceIds, ResourceLanguages - what the file holds
//   ResourceBytes        - one resource in exactly one language
//   ParseStringBlock     - the sixteen entries of an RT_STRING block (tests/support/StringTable.h)
//   ReadStringTable      - every string of one language, by id
//   ParseMenuTemplate    - a MENU template as popups and items
//   ParseDialogTemplate  - a DIALOGEX template: header, font and items
//   ParseIconGroup       - the entries of an RT_GROUP_ICON directory
#pragma once

#include "StringTable.h"

#include <windows.h>
#include <map>
#include <string>
#include <vector>

// The ten languages of the string table and of menus 109 and 129.
struct TableLanguage {
    LANGID id;
    const char *name;
};
extern const TableLanguage TABLE_LANGUAGES[10];
LANGID const ENGLISH_US = 0x0409;

std::wstring ProgramPath();
HMODULE ProgramAsData();

// Integer types and ids; a name given as a string is reported as 0.
std::vector<ULONG_PTR> ResourceTypes(HMODULE module);
std::vector<ULONG_PTR> ResourceIds(HMODULE module, LPCWSTR type);
std::vector<LANGID> ResourceLanguages(HMODULE module, LPCWSTR type, LPCWSTR name);
// False when the file has no resource of that type, name and exact language.
bool ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, LANGID language, std::vector<BYTE> *data);

// The non-empty strings of one language; blocks that do not parse are left out.
std::map<UINT, std::wstring> ReadStringTable(HMODULE module, LANGID language);

struct MenuEntry {
    WORD flags = 0;          // MF_POPUP, MF_GRAYED... as stored, without MF_END
    WORD id = 0;             // 0 for popups and separators
    std::wstring text;
    std::vector<MenuEntry> children;
};
// False when the template is not a plain MENU template or runs past its end.
bool ParseMenuTemplate(const std::vector<BYTE> &data, std::vector<MenuEntry> *entries);

struct DialogControl {
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::wstring className;  // predefined classes by name ("Button", "Static"...)
    std::wstring text;       // empty when the text is an ordinal
    WORD textOrdinal = 0;    // the resource id of an icon given as the text, else 0
    WORD extraBytes = 0;
};
struct DialogTemplate {
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    bool hasMenu = false;
    bool hasClass = false;
    std::wstring title;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::wstring face;
    std::vector<DialogControl> controls;
};
// False unless it is a well-formed DLGTEMPLATEEX.
bool ParseDialogTemplate(const std::vector<BYTE> &data, DialogTemplate *dialog);

struct IconGroupEntry {
    int width = 0;           // 0 in the directory means 256
    int height = 0;
    int colorCount = 0;
    int planes = 0;
    int bitCount = 0;
    DWORD bytes = 0;
    WORD iconId = 0;
};
bool ParseIconGroup(const std::vector<BYTE> &data, std::vector<IconGroupEntry> *entries);
