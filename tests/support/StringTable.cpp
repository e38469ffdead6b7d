#include "StringTable.h"

bool ParseStringBlock(const std::vector<BYTE> &data, std::vector<std::wstring> *entries)
{
    entries->clear();
    size_t words = data.size() / sizeof(WORD), at = 0;
    auto word = [&](size_t index) { return (WORD)(data[2 * index] | data[2 * index + 1] << 8); };
    for (int index = 0; index < 16; ++index) {
        if (at >= words || at + 1 + word(at) > words)
            return false;
        std::wstring text;
        for (size_t unit = at + 1; unit <= at + word(at); ++unit)
            text += (wchar_t)word(unit);
        at += 1 + word(at);
        entries->push_back(text);
    }
    return true;
}

std::optional<std::wstring> StringResource(HMODULE module, UINT id, LANGID language)
{
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const BYTE *bytes = loaded != nullptr ? (const BYTE *)LockResource(loaded) : nullptr;
    std::vector<std::wstring> entries;
    if (bytes == nullptr || !ParseStringBlock({bytes, bytes + SizeofResource(module, found)}, &entries) ||
        entries[id % 16].empty())
        return std::nullopt;
    return entries[id % 16];
}
