// The menus as compiled into VarnelKVM.exe: the class menu 109 and the tray
// menu 129 in the ten languages, the English tray menu 130, their command
// identifiers in order and the texts the user reads.
#include "ResourceImage.h"

#include <gtest/gtest.h>
#include <set>

namespace {

struct ExpectedItem {
    WORD id;                 // 0: separator
    const wchar_t *english;
};

// The tray popups, position by position; the tray code finds items by these
// identifiers and removes the separator above an item by position.
const ExpectedItem TRAY_MENU_129[] = {
    {32773, L"Vireo All"}, {0, L""}, {32779, L"Vireo Audio"}, {32780, L"Vireo Video"}, {0, L""},
    {32776, L"Options..."}, {104, L"About..."}, {0, L""}, {32783, L"Optimize Display"}, {0, L""},
    {105, L"Exit"},
};
const ExpectedItem TRAY_MENU_130[] = {
    {32784, L"Switch All"}, {0, L""}, {32785, L"Switch Audio"}, {32786, L"Switch Video"}, {0, L""},
    {32776, L"Options..."}, {104, L"About..."}, {0, L""}, {32783, L"Optimize Display"}, {0, L""},
    {105, L"Exit"},
};

std::string Name(const TableLanguage &language)
{
    return std::string(language.name) + " (" + std::to_string(language.id) + ")";
}

class Menus : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(ProgramAsData(), nullptr) << "cannot load the applet as data"; }

    // The parsed menu, or an empty list (with a failure) when it is missing.
    std::vector<MenuEntry> menu(WORD id, LANGID language)
    {
        std::vector<BYTE> data;
        std::vector<MenuEntry> entries;
        EXPECT_TRUE(ResourceBytes(ProgramAsData(), RT_MENU, MAKEINTRESOURCEW(id), language, &data))
            << "menu " << id << " missing";
        EXPECT_TRUE(data.empty() || ParseMenuTemplate(data, &entries)) << "menu " << id << " does not parse";
        // The system must accept the template as it is.
        if (!data.empty()) {
            HMENU loaded = LoadMenuIndirectW(data.data());
            EXPECT_NE(loaded, nullptr) << "LoadMenuIndirectW refuses menu " << id;
            if (loaded != nullptr) {
                EXPECT_EQ(GetMenuItemCount(loaded), (int)entries.size());
                DestroyMenu(loaded);
            }
        }
        return entries;
    }

    // Checks a tray popup item by item; compares texts when `english` is set.
    void expectTrayPopup(const std::vector<MenuEntry> &entries, const ExpectedItem (&expected)[11], bool english)
    {
        ASSERT_EQ(entries.size(), 1u) << "the tray menu is one popup";
        EXPECT_TRUE(entries[0].flags & MF_POPUP);
        const std::vector<MenuEntry> &items = entries[0].children;
        ASSERT_EQ(items.size(), 11u);
        for (size_t position = 0; position < items.size(); ++position) {
            SCOPED_TRACE("position " + std::to_string(position));
            EXPECT_EQ(items[position].id, expected[position].id);
            EXPECT_EQ(items[position].flags & (MF_POPUP | MF_GRAYED | MF_DISABLED | MF_CHECKED), 0);
            if (expected[position].id == 0) {
                EXPECT_TRUE(items[position].text.empty()) << "a separator";
            } else if (english) {
                EXPECT_EQ(items[position].text, expected[position].english);
            } else {
                EXPECT_FALSE(items[position].text.empty());
            }
        }
    }
};

TEST_F(Menus, InventoryAndLanguages)
{
    std::vector<ULONG_PTR> ids = ResourceIds(ProgramAsData(), RT_MENU);
    EXPECT_EQ(std::set<ULONG_PTR>(ids.begin(), ids.end()), (std::set<ULONG_PTR>{109, 129, 130}));

    std::set<LANGID> ten;
    for (const TableLanguage &language : TABLE_LANGUAGES)
        ten.insert(language.id);
    for (WORD id : {109, 129}) {
        std::vector<LANGID> languages = ResourceLanguages(ProgramAsData(), RT_MENU, MAKEINTRESOURCEW(id));
        EXPECT_EQ(std::set<LANGID>(languages.begin(), languages.end()), ten) << "menu " << id;
    }
    EXPECT_EQ(ResourceLanguages(ProgramAsData(), RT_MENU, MAKEINTRESOURCEW(130)), std::vector<LANGID>{ENGLISH_US});
}

TEST_F(Menus, ClassMenuHasFileExitAndHelpAbout)
{
    for (const TableLanguage &language : TABLE_LANGUAGES) {
        SCOPED_TRACE(Name(language));
        std::vector<MenuEntry> entries = menu(109, language.id);
        ASSERT_EQ(entries.size(), 2u);
        for (const MenuEntry &popup : entries) {
            EXPECT_TRUE(popup.flags & MF_POPUP);
            EXPECT_NE(popup.text.find(L'&'), std::wstring::npos) << "popup without an access key";
            ASSERT_EQ(popup.children.size(), 1u);
            EXPECT_NE(popup.children[0].text.find(L'&'), std::wstring::npos) << "item without an access key";
        }
        EXPECT_EQ(entries[0].children[0].id, 105);
        EXPECT_EQ(entries[1].children[0].id, 104);
        if (language.id == ENGLISH_US) {
            EXPECT_EQ(entries[0].text, L"&File");
            EXPECT_EQ(entries[0].children[0].text, L"E&xit");
            EXPECT_EQ(entries[1].text, L"&Help");
            EXPECT_EQ(entries[1].children[0].text, L"&About ...");
        }
    }
}

TEST_F(Menus, TrayMenu129InEveryLanguage)
{
    std::vector<MenuEntry> english = menu(129, ENGLISH_US);
    for (const TableLanguage &language : TABLE_LANGUAGES) {
        SCOPED_TRACE(Name(language));
        std::vector<MenuEntry> entries = menu(129, language.id);
        expectTrayPopup(entries, TRAY_MENU_129, language.id == ENGLISH_US);
        if (entries.size() != 1 || entries[0].children.size() != 11)
            continue;
        const std::vector<MenuEntry> &items = entries[0].children;

        // The switching items name the product first, then what they switch.
        for (size_t position : {0, 2, 3})
            EXPECT_EQ(items[position].text.rfind(L"Vireo ", 0), 0u) << "position " << position;
        // Replaced by string 127 at run time, so left alone in every language.
        EXPECT_EQ(items[8].text, L"Optimize Display");

        // The menu uses the same words as the dialogs: Options (108), Exit (118).
        std::map<UINT, std::wstring> strings = ReadStringTable(ProgramAsData(), language.id);
        EXPECT_EQ(items[5].text, strings[108]);
        EXPECT_EQ(items[10].text, strings[118]);
        if (language.id != ENGLISH_US && english.size() == 1 && english[0].children.size() == 11) {
            EXPECT_NE(items[0].text, english[0].children[0].text) << "\"Vireo All\" untranslated";
            EXPECT_NE(items[6].text, english[0].children[6].text) << "\"About...\" untranslated";
        }
    }
}

TEST_F(Menus, EnglishTrayMenu130)
{
    expectTrayPopup(menu(130, ENGLISH_US), TRAY_MENU_130, true);
}

}  // namespace
