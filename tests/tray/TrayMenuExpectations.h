// The popup menus the user should get, as lines in DescribeMenu's form: the
// four layouts the variant and the switch's firmware call for, in either of
// the two tray menus (130, English; 129, the translated one).
//   MenuLayoutFor     - the layout for no-audio yes/no and firmware 4 yes/no
//   EnglishTrayMenu   - menu 130's identifiers and texts
//   TranslatedTrayMenu- menu 129 in one language, texts read from the applet
//   ExpectedTrayMenu  - a layout in a menu's words, greyed as the switch calls for
#pragma once

#include "ExeResources.h"
#include "MenuSpy.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

enum class MenuSlot { SwitchAll, SwitchAudio, SwitchVideo, Options, About, OptimizeDisplay, Exit, Separator };

using MenuLayout = std::vector<MenuSlot>;

// The items at each opening, by no-audio variant and firmware major 4.
inline MenuLayout MenuLayoutFor(bool noAudio, bool firmware4)
{
    using S = MenuSlot;
    if (!noAudio && firmware4)
        return {S::SwitchAll, S::Separator, S::SwitchAudio, S::SwitchVideo, S::Separator, S::Options,
                S::About,     S::Separator, S::OptimizeDisplay, S::Separator, S::Exit};
    if (!noAudio)
        return {S::SwitchAll, S::Separator, S::SwitchAudio, S::SwitchVideo, S::Separator,
                S::Options,   S::About,     S::Separator,   S::Exit};
    if (firmware4)
        return {S::SwitchAll, S::Separator, S::Options, S::About, S::Separator, S::OptimizeDisplay,
                S::Separator, S::Exit};
    return {S::SwitchAll, S::Separator, S::Options, S::About, S::Separator, S::Exit};
}

// One tray menu's identifiers and texts.
struct TrayMenuWords {
    std::map<MenuSlot, UINT> ids;
    std::map<MenuSlot, std::wstring> texts;
};

WORD const OPTIMIZE_DISPLAY_STRING = 127;

inline TrayMenuWords EnglishTrayMenu()
{
    using S = MenuSlot;
    TrayMenuWords words;
    words.ids = {{S::SwitchAll, 32784}, {S::SwitchAudio, 32785}, {S::SwitchVideo, 32786}, {S::Options, 32776},
                 {S::About, 104},       {S::OptimizeDisplay, 32783}, {S::Exit, 105}};
    words.texts = {{S::SwitchAll, L"Switch All"},   {S::SwitchAudio, L"Switch Audio"},
                   {S::SwitchVideo, L"Switch Video"}, {S::Options, L"Options..."},
                   {S::About, L"About..."},          {S::OptimizeDisplay, L"Optimize Display"},
                   {S::Exit, L"Exit"}};
    return words;
}

// Menu 129 as the applet carries it in `language`, with Optimize Display in
// that language's string 127; nothing when either is missing.
inline std::optional<TrayMenuWords> TranslatedTrayMenu(const ExeResources &resources, LANGID language)
{
    using S = MenuSlot;
    std::optional<MenuItems> carried = resources.menuItems(129, language);
    std::optional<std::wstring> optimize = resources.string(OPTIMIZE_DISPLAY_STRING, language);
    if (!carried || !optimize)
        return std::nullopt;
    TrayMenuWords words;
    words.ids = {{S::SwitchAll, 32773}, {S::SwitchAudio, 32779}, {S::SwitchVideo, 32780}, {S::Options, 32776},
                 {S::About, 104},       {S::OptimizeDisplay, 32783}, {S::Exit, 105}};
    for (const auto &slot : words.ids) {
        for (const MenuItem &item : *carried) {
            if (!item.separator && item.id == slot.second)
                words.texts[slot.first] = item.text;
        }
        if (words.texts.count(slot.first) == 0)
            return std::nullopt;
    }
    words.texts[S::OptimizeDisplay] = *optimize;
    return words;
}

// Switch All is the default item; the three switching items are grey while
// no switch has been found.
inline std::vector<std::string> ExpectedTrayMenu(const MenuLayout &layout, const TrayMenuWords &words,
                                                 bool switchFound)
{
    MenuItems items;
    for (MenuSlot slot : layout) {
        MenuItem item;
        if (slot == MenuSlot::Separator) {
            item.separator = true;
        } else {
            item.id = words.ids.at(slot);
            item.text = words.texts.at(slot);
            bool switching =
                slot == MenuSlot::SwitchAll || slot == MenuSlot::SwitchAudio || slot == MenuSlot::SwitchVideo;
            item.grayed = switching && !switchFound;
            item.isDefault = slot == MenuSlot::SwitchAll;
        }
        items.push_back(item);
    }
    return DescribeMenu(items);
}
