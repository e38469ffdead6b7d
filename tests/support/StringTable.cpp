#include "StringTable.h"

bool ParseStringBlock(const std::vector<BYTE> &data, std::vector<std::wstring> *entries)
{
    entries->clear();
    size_t at = 0;
    auto word = [&](WORD *value) {
        if (at + sizeof(WORD) > data.size())
            return false;
        *value = (WORD)(data[at] | data[at + 1] << 8);
        at += sizeof(WORD);
        return true;
    };
    for (int index = 0; index < 16; ++index) {
        WORD length = 0;
        if (!word(&length))
            return false;
        std::wstring text;
        for (WORD unit = 0, character = 0; unit < length; ++unit) {
            if (!word(&character))
                return false;
            text += (wchar_t)character;
        }
        entries->push_back(text);
    }
    return true;
}

std::optional<std::wstring> StringResource(HMODULE module, UINT id, LANGID language)
{
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const BYTE *bytes = loaded != nullptr ? (const BYTE *)LockResource(loaded) : nullptr;
    if (bytes == nullptr)
        return std::nullopt;
    std::vector<std::wstring> entries;
    if (!ParseStringBlock(std::vector<BYTE>(bytes, bytes + SizeofResource(module, found)), &entries) ||
        entries[id % 16].empty())
        return std::nullopt;
    return entries[id % 16];
}
