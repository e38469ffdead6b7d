// The built applet's own resources, read from VarnelKVM.exe as a data file,
// so tests compare what the applet shows with what it carries rather than
// with texts and images written into the tests.
//   ExeResources::icon        - an icon group at the size LoadIconW picks
//   ExeResources::menuItems   - sub-menu 0 of a menu in one language
//   ExeResources::string      - a string-table entry in one language
#pragma once

#include "MenuSpy.h"
#include "ShellTray.h"
#include "StringTable.h"

#include <optional>
#include <string>

class ExeResources {
public:
    ExeResources();                         // VarnelKVM.exe beside the test
    ~ExeResources();
    ExeResources(const ExeResources &) = delete;
    ExeResources &operator=(const ExeResources &) = delete;

    bool loaded() const { return module_ != nullptr; }
    IconImage icon(WORD iconId) const;
    std::optional<MenuItems> menuItems(WORD menuId, LANGID language) const;
    std::optional<std::wstring> string(WORD stringId, LANGID language) const;

private:
    HMODULE module_ = nullptr;
};
