// Reading the program file's resources and taking their binary layouts apart.
//   ProgramAsData, ProgramPath, ResourceTypes, ResourceIds,
//   ResourceLanguages, ResourceBytes, ReadStringTable, ParseMenuTemplate,
//   ParseDialogTemplate, ParseIconGroup
#include "ResourceImage.h"
#include "AppletProcess.h"

const TableLanguage TABLE_LANGUAGES[10] = {
    {0x0007, "German"},   {0x000A, "Spanish"},  {0x000C, "French"},
    {0x0010, "Italian"},  {0x0011, "Japanese"}, {0x0012, "Korean"},
    {0x0013, "Dutch"},    {0x0404, "Chinese (Traditional)"},
    {0x0409, "English (United States)"},       {0x0804, "Chinese (Simplified)"},
};

namespace {

// A read position in a resource's bytes; every read checks the end, and a
// failed read leaves `ok` false for good.
struct Cursor {
    const std::vector<BYTE> &data;
    size_t at = 0;
    bool ok = true;

    explicit Cursor(const std::vector<BYTE> &bytes) : data(bytes) {}

    bool has(size_t count) const { return ok && at + count <= data.size(); }
    WORD word()
    {
        if (!has(2)) {
            ok = false;
            return 0;
        }
        WORD value = (WORD)(data[at] | (data[at + 1] << 8));
        at += 2;
        return value;
    }
    DWORD dword()
    {
        WORD low = word();
        WORD high = word();
        return MAKELONG(low, high);
    }
    BYTE byte()
    {
        if (!has(1)) {
            ok = false;
            return 0;
        }
        return data[at++];
    }
    std::wstring string()
    {
        std::wstring text;
        for (WORD unit = word(); ok && unit != 0; unit = word())
            text += (wchar_t)unit;
        return text;
    }
    void alignDword() { at = (at + 3) & ~(size_t)3; }
};

// A string or an ordinal, as templates name a menu, a class or a text.
struct NameOrOrdinal {
    bool present = false;
    WORD ordinal = 0;
    std::wstring text;
};

NameOrOrdinal ReadNameOrOrdinal(Cursor &cursor)
{
    NameOrOrdinal name;
    WORD first = cursor.word();
    if (first == 0)
        return name;
    name.present = true;
    if (first == 0xFFFF) {
        name.ordinal = cursor.word();
        return name;
    }
    name.text += (wchar_t)first;
    name.text += cursor.string();
    return name;
}

std::wstring PredefinedClassName(WORD ordinal)
{
    switch (ordinal) {
    case 0x0080: return L"Button";
    case 0x0081: return L"Edit";
    case 0x0082: return L"Static";
    case 0x0083: return L"ListBox";
    case 0x0084: return L"ScrollBar";
    case 0x0085: return L"ComboBox";
    default: return L"#" + std::to_wstring(ordinal);
    }
}

bool ParseMenuLevel(Cursor &cursor, std::vector<MenuEntry> *entries, int depth)
{
    if (depth > 4)
        return false;
    for (;;) {
        MenuEntry entry;
        WORD option = cursor.word();
        if (!cursor.ok)
            return false;
        entry.flags = option & ~MF_END;
        if (!(option & MF_POPUP))
            entry.id = cursor.word();
        entry.text = cursor.string();
        if (!cursor.ok)
            return false;
        if ((option & MF_POPUP) && !ParseMenuLevel(cursor, &entry.children, depth + 1))
            return false;
        entries->push_back(entry);
        if (option & MF_END)
            return true;
    }
}

BOOL CALLBACK CollectType(HMODULE, LPWSTR type, LONG_PTR list)
{
    ((std::vector<ULONG_PTR> *)list)->push_back(IS_INTRESOURCE(type) ? (ULONG_PTR)type : 0);
    return TRUE;
}

BOOL CALLBACK CollectId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list)
{
    ((std::vector<ULONG_PTR> *)list)->push_back(IS_INTRESOURCE(name) ? (ULONG_PTR)name : 0);
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list)
{
    ((std::vector<LANGID> *)list)->push_back(language);
    return TRUE;
}

}  // namespace

std::wstring ProgramPath()
{
    return BinaryFolder() + L"\\VarnelKVM.exe";
}

HMODULE ProgramAsData()
{
    // Kept for the whole run: every test reads the same file.
    static HMODULE module = LoadLibraryExW(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

std::vector<ULONG_PTR> ResourceTypes(HMODULE module)
{
    std::vector<ULONG_PTR> types;
    EnumResourceTypesW(module, CollectType, (LONG_PTR)&types);
    return types;
}

std::vector<ULONG_PTR> ResourceIds(HMODULE module, LPCWSTR type)
{
    std::vector<ULONG_PTR> ids;
    EnumResourceNamesW(module, type, CollectId, (LONG_PTR)&ids);
    return ids;
}

std::vector<LANGID> ResourceLanguages(HMODULE module, LPCWSTR type, LPCWSTR name)
{
    std::vector<LANGID> languages;
    EnumResourceLanguagesW(module, type, name, CollectLanguage, (LONG_PTR)&languages);
    return languages;
}

bool ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, LANGID language, std::vector<BYTE> *data)
{
    // FindResourceExW may settle for a related language; ask for exactly this one.
    bool carried = false;
    for (LANGID present : ResourceLanguages(module, type, name))
        carried = carried || present == language;
    if (!carried)
        return false;
    HRSRC found = FindResourceExW(module, type, name, language);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE *bytes = loaded ? (const BYTE *)LockResource(loaded) : nullptr;
    if (bytes == nullptr)
        return false;
    data->assign(bytes, bytes + SizeofResource(module, found));
    return true;
}

std::map<UINT, std::wstring> ReadStringTable(HMODULE module, LANGID language)
{
    std::map<UINT, std::wstring> strings;
    for (ULONG_PTR block : ResourceIds(module, RT_STRING)) {
        std::vector<BYTE> data;
        std::vector<std::wstring> entries;
        if (block == 0 || !ResourceBytes(module, RT_STRING, MAKEINTRESOURCEW(block), language, &data) ||
            !ParseStringBlock(data, &entries))
            continue;
        for (UINT index = 0; index < entries.size(); ++index) {
            if (!entries[index].empty())
                strings[(UINT)(block - 1) * 16 + index] = entries[index];
        }
    }
    return strings;
}

bool ParseMenuTemplate(const std::vector<BYTE> &data, std::vector<MenuEntry> *entries)
{
    Cursor cursor(data);
    WORD version = cursor.word();
    WORD headerSize = cursor.word();
    if (!cursor.ok || version != 0)
        return false;
    cursor.at += headerSize;
    entries->clear();
    return ParseMenuLevel(cursor, entries, 0) && cursor.ok;
}

bool ParseDialogTemplate(const std::vector<BYTE> &data, DialogTemplate *dialog)
{
    Cursor cursor(data);
    WORD version = cursor.word();
    WORD signature = cursor.word();
    if (version != 1 || signature != 0xFFFF)
        return false;
    cursor.dword();  // help id
    dialog->exStyle = cursor.dword();
    dialog->style = cursor.dword();
    WORD count = cursor.word();
    dialog->x = (short)cursor.word();
    dialog->y = (short)cursor.word();
    dialog->cx = (short)cursor.word();
    dialog->cy = (short)cursor.word();
    dialog->hasMenu = ReadNameOrOrdinal(cursor).present;
    dialog->hasClass = ReadNameOrOrdinal(cursor).present;
    dialog->title = cursor.string();
    if (dialog->style & (DS_SETFONT | DS_SHELLFONT)) {
        dialog->pointSize = cursor.word();
        dialog->weight = cursor.word();
        dialog->italic = cursor.byte();
        dialog->charset = cursor.byte();
        dialog->face = cursor.string();
    }
    dialog->controls.clear();
    for (WORD index = 0; index < count && cursor.ok; ++index) {
        DialogControl control;
        cursor.alignDword();
        cursor.dword();  // help id
        control.exStyle = cursor.dword();
        control.style = cursor.dword();
        control.x = (short)cursor.word();
        control.y = (short)cursor.word();
        control.cx = (short)cursor.word();
        control.cy = (short)cursor.word();
        control.id = cursor.dword();
        NameOrOrdinal className = ReadNameOrOrdinal(cursor);
        control.className = className.ordinal ? PredefinedClassName(className.ordinal) : className.text;
        NameOrOrdinal text = ReadNameOrOrdinal(cursor);
        control.text = text.text;
        control.textOrdinal = text.ordinal;
        control.extraBytes = cursor.word();
        cursor.at += control.extraBytes;
        dialog->controls.push_back(control);
    }
    return cursor.ok && cursor.at <= data.size();
}

bool ParseIconGroup(const std::vector<BYTE> &data, std::vector<IconGroupEntry> *entries)
{
    Cursor cursor(data);
    WORD reserved = cursor.word();
    WORD type = cursor.word();
    WORD count = cursor.word();
    if (!cursor.ok || reserved != 0 || type != 1)
        return false;
    entries->clear();
    for (WORD index = 0; index < count && cursor.ok; ++index) {
        IconGroupEntry entry;
        entry.width = cursor.byte();
        entry.height = cursor.byte();
        entry.colorCount = cursor.byte();
        cursor.byte();  // reserved
        entry.planes = cursor.word();
        entry.bitCount = cursor.word();
        entry.bytes = cursor.dword();
        entry.iconId = cursor.word();
        entries->push_back(entry);
    }
    return cursor.ok;
}
