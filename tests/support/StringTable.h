// The string table as Windows keeps it: RT_STRING blocks of sixteen counted
// strings, block n holding the ids (n - 1) * 16 to n * 16 - 1.
#pragma once

#include <windows.h>
#include <optional>
#include <string>
#include <vector>

// Sixteen strings, an empty one for an id the block does not carry; false
// when the block is shorter than its length words say.
bool ParseStringBlock(const std::vector<BYTE> &data, std::vector<std::wstring> *entries);
// Empty when the module has no such string in that language.
std::optional<std::wstring> StringResource(HMODULE module, UINT id, LANGID language);
