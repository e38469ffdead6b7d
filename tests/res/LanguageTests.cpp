// Choosing the user-interface language from the system's settings, and
// loading a string in it from the applet's own tables (linked into this test
// program, as into the applet).
#include "shell/Shell.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <iterator>

namespace {

LANGID const NO_UI_LANGUAGE = 0;   // GetUserDefaultUILanguage missing or answering 0

struct LanguageCase {
    const char *name;
    LANGID system, user, ui;
    LANGID expected;
    bool englishFallback;
};

const LanguageCase LANGUAGE_CASES[] = {
    // The user's display language wins when it differs from the system default.
    {"French UI on a US English system", 0x0409, 0x0409, 0x040C, 12, false},
    {"German UI on a Japanese system", 0x0411, 0x0411, 0x0407, 7, false},
    // UI language equal to the system default: the user locale decides if it
    // shares the system's primary language.
    {"British user on a US system: English table, English menu", 0x0409, 0x0809, 0x0409, 1033, true},
    {"US user on a German system keeps German", 0x0407, 0x0409, 0x0407, 7, false},
    {"Taiwanese user on a PRC system", 0x0804, 0x0404, 0x0804, 1028, false},
    {"PRC user on a Taiwanese system", 0x0404, 0x0804, 0x0404, 2052, false},
    // Chinese by sublanguage: only the PRC gets the simplified table.
    {"Chinese (PRC)", 0x0409, 0x0409, 0x0804, 2052, false},
    {"Chinese (Taiwan)", 0x0409, 0x0409, 0x0404, 1028, false},
    {"Chinese (Hong Kong)", 0x0409, 0x0409, 0x0C04, 1028, false},
    {"Chinese (Singapore)", 0x0409, 0x0409, 0x1004, 1028, false},
    {"Chinese (Macao)", 0x0409, 0x0409, 0x1404, 1028, false},
    // The seven other tables by primary language, whatever the country.
    {"German (Austria)", 0x0C07, 0x0C07, 0x0C07, 7, false},
    {"Spanish (modern sort)", 0x0C0A, 0x0C0A, 0x0C0A, 10, false},
    {"French (Belgium)", 0x080C, 0x080C, 0x080C, 12, false},
    {"Italian (Switzerland)", 0x0810, 0x0810, 0x0810, 16, false},
    {"Japanese", 0x0411, 0x0411, 0x0411, 17, false},
    {"Korean", 0x0412, 0x0412, 0x0412, 18, false},
    {"Dutch (Belgium)", 0x0813, 0x0813, 0x0813, 19, false},
    // English and every untranslated language: the English table and menu 130.
    {"US English", 0x0409, 0x0409, 0x0409, 1033, true},
    {"Swedish", 0x041D, 0x041D, 0x041D, 1033, true},
    {"Swedish UI on a German system", 0x0407, 0x0407, 0x041D, 1033, true},
    {"Portuguese (Brazil)", 0x0416, 0x0416, 0x0416, 1033, true},
    // Without GetUserDefaultUILanguage the system and user defaults decide alone.
    {"no UI language, same locales", 0x0412, 0x0412, NO_UI_LANGUAGE, 18, false},
    {"no UI language, user in a variant of the system language", 0x0407, 0x0807, NO_UI_LANGUAGE, 7, false},
    {"no UI language, user in another language", 0x040C, 0x0409, NO_UI_LANGUAGE, 12, false},
    {"no UI language, English system with a French user", 0x0409, 0x040C, NO_UI_LANGUAGE, 1033, true},
};

TEST(ChooseUiLanguage, FromSystemUserAndUiLanguages)
{
    for (const LanguageCase &row : LANGUAGE_CASES) {
        SCOPED_TRACE(row.name);
        bool englishFallback = !row.englishFallback;
        EXPECT_EQ(ChooseUiLanguage(row.system, row.user, row.ui, &englishFallback), row.expected);
        EXPECT_EQ(englishFallback, row.englishFallback);
    }
}

// Runs SelectUiLanguage on this machine: whatever it picks must be one of the
// ten tables, and only the English table may come with the English menu.
TEST(SelectUiLanguage, PicksATableThisProgramCarries)
{
    appState = AppState();
    SelectUiLanguage();
    const LANGID tables[] = {7, 10, 12, 16, 17, 18, 19, 1028, 1033, 2052};
    EXPECT_NE(std::find(std::begin(tables), std::end(tables), appState.uiLanguage), std::end(tables))
        << appState.uiLanguage;
    if (appState.englishFallback) {
        EXPECT_EQ(appState.uiLanguage, 1033);
    }
    wchar_t product[UI_STRING_CHARS] = {};
    EXPECT_TRUE(LoadUiString(138, product));
    EXPECT_STREQ(product, L"Kestrel");
}

struct LoadCase {
    const char *name;
    LANGID language;
    UINT id;
    const wchar_t *expected;   // null: the load fails and the target keeps its text
};

const wchar_t *const UNTOUCHED = nullptr;

const LoadCase LOAD_CASES[] = {
    {"English product title", 1033, 138, L"Kestrel"},
    {"English class name", 1033, 109, L"Morvax"},
    {"first string of a block", 1033, 112, L"Enable Device Connection Sounds"},
    {"last string of a table", 1033, 139, L"Kestrel Not Attached"},
    {"a line break survives", 1033, 122,
     L"Pressing ALT while entering the key sequence will switch control\n(video and input) only."},
    {"French 109 is the product title", 12, 109, L"Kestrel"},
    {"German 109 is the class name", 7, 109, L"Morvax"},
    {"Simplified Chinese Cancel", 2052, 120, L"\u53D6\u6D88"},
    {"Japanese Exit", 17, 118, L"\u7D42\u4E86"},
    {"Japanese has no 130", 17, 130, UNTOUCHED},
    {"German has no 134", 7, 134, UNTOUCHED},
    {"Spanish has no 134", 10, 134, UNTOUCHED},
    {"French has no 134", 12, 134, UNTOUCHED},
    {"Italian has no 134", 16, 134, UNTOUCHED},
    {"Japanese has no 134", 17, 134, UNTOUCHED},
    {"Korean has no 134", 18, 134, UNTOUCHED},
    {"Dutch has no 134", 19, 134, UNTOUCHED},
    {"Traditional Chinese has no 134", 1028, 134, UNTOUCHED},
    {"Simplified Chinese has no 134", 2052, 134, UNTOUCHED},
    {"English has 134", 1033, 134, L"Automatically switch when My Computer shuts down"},
    {"135 is in a block but not in the table", 1033, 135, UNTOUCHED},
    {"no block at all", 1033, 200, UNTOUCHED},
    {"no block below the table", 1033, 5, UNTOUCHED},
    {"a language without a table", 0x041D, 138, UNTOUCHED},
};

TEST(LoadUiString, InTheChosenLanguageOrNotAtAll)
{
    for (const LoadCase &row : LOAD_CASES) {
        SCOPED_TRACE(row.name);
        appState = AppState();
        appState.uiLanguage = row.language;
        wchar_t target[UI_STRING_CHARS] = L"previous text";
        EXPECT_EQ(LoadUiString(row.id, target), row.expected != UNTOUCHED);
        EXPECT_STREQ(target, row.expected != UNTOUCHED ? row.expected : L"previous text");
        // The returning form gives an empty text for a string that is not there.
        EXPECT_STREQ(UiString(row.id).text, row.expected != UNTOUCHED ? row.expected : L"");
    }
    appState = AppState();
}

// Every string of every table fits the room the program gives a string, and
// a smaller target is filled without writing past its end.
TEST(LoadUiString, FitsItsRoom)
{
    const LANGID tables[] = {7, 10, 12, 16, 17, 18, 19, 1028, 1033, 2052};
    for (LANGID table : tables) {
        appState = AppState();
        appState.uiLanguage = table;
        for (UINT id = 100; id < 160; ++id) {
            wchar_t wide[4 * UI_STRING_CHARS] = {};
            if (LoadUiString(id, wide)) {
                EXPECT_LT(wcslen(wide), UI_STRING_CHARS - 1) << "string " << id << " of table " << table;
            }
        }
    }
    appState = AppState();
    appState.uiLanguage = 1033;
    wchar_t small[5] = {L'x', L'x', L'x', L'x', L'x'};
    EXPECT_TRUE(LoadUiString(138, small, 4));
    EXPECT_STREQ(small, L"Kes");
    EXPECT_EQ(small[4], L'x');
    appState = AppState();
}

}  // namespace
