// The string table as compiled into VarnelKVM.exe: which ids each of the ten
// languages carries, the English texts, the product names, and translations
// that are really there and survived the trip through the resource compiler.
#include "ResourceImage.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <regex>
#include <set>

namespace {

LANGID const JAPANESE = 0x0011;
UINT const HIGHEST_ID_CHECKED = 400;

std::string Name(const TableLanguage &language)
{
    return std::string(language.name) + " (" + std::to_string(language.id) + ")";
}

// Every language has 103 to 133, 138 and 139; Japanese lacks 130 and only
// English has 134 (the Options dialog then shows those check boxes unlabelled).
bool Carries(LANGID language, UINT id)
{
    if (id >= 103 && id <= 133)
        return !(language == JAPANESE && id == 130);
    if (id == 134)
        return language == ENGLISH_US;
    return id == 138 || id == 139;
}

struct EnglishText {
    UINT id;
    const wchar_t *text;
};

const EnglishText ENGLISH_TEXTS[] = {
    {103, L"Vireo"},
    {104, L"About"},
    {105, L"Software Version"},
    {106, L"Firmware Version"},
    {107, L"Vireo Not Attached"},
    {108, L"Options..."},
    {109, L"Morvax"},
    {110, L"Hotkey Sequence"},
    {111, L"Enable Hotkey Switching"},
    {112, L"Enable Device Connection Sounds"},
    {113, L"Control - Control"},
    {114, L"NumLock/Clear - NumLock/Clear"},
    {115, L"Scroll Lock - Scroll Lock"},
    {116, L"Control - Control - Shift"},
    {117, L"Switch Host"},
    {118, L"Exit"},
    {119, L"OK"},
    {120, L"Cancel"},
    {122, L"Pressing ALT while entering the key sequence will switch control\n(video and input) only."},
    {123, L"Halcyon"},
    {124, L"Halcyon Not Attached"},
    {125, L"Morvax"},
    {126, L"Select My Primary Monitor"},
    {127, L"Optimize Display"},
    {128, L"Enable Optimize Display Key Sequence"},
    {129, L"Optimize Display Key Sequence"},
    {130, L"Automatically switch when application is closed"},
    {131, L"Primary Monitor"},
    {132, L"This Is My Primary Monitor Connected To The KVM"},
    {133, L"Run on System Startup"},
    {134, L"Automatically switch when My Computer shuts down"},
    {138, L"Kestrel"},
    {139, L"Kestrel Not Attached"},
};

// Texts a translation rightly shares with English: product names, the
// copyright line, and words that are the same in that language.
bool MayEqualEnglish(LANGID language, UINT id)
{
    struct Shared {
        LANGID language;
        UINT id;
    };
    static const Shared SAME_WORD[] = {
        {0x000C, 108},                                                  // "Options..."
        {0x0007, 119}, {0x000C, 119}, {0x0010, 119}, {0x0011, 119}, {0x0013, 119},  // "OK"
        {0x0011, 114},                                                  // Japanese keyboards' "NumLock"
        {0x0012, 115}, {0x0013, 115}, {0x0404, 115}, {0x0804, 115},    // keys labelled in English
    };
    if (id == 103 || id == 109 || id == 121 || id == 123 || id == 125 || id == 138)
        return true;
    for (const Shared &shared : SAME_WORD) {
        if (shared.language == language && shared.id == id)
            return true;
    }
    return false;
}

class StringTable : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(ProgramAsData(), nullptr) << "cannot load the applet as data"; }
    HMODULE module() const { return ProgramAsData(); }
};

TEST_F(StringTable, EachLanguageCarriesExactlyItsIds)
{
    for (const TableLanguage &language : TABLE_LANGUAGES) {
        SCOPED_TRACE(Name(language));
        std::map<UINT, std::wstring> strings = ReadStringTable(module(), language.id);
        for (UINT id = 0; id <= HIGHEST_ID_CHECKED; ++id)
            EXPECT_EQ(strings.count(id) == 1, Carries(language.id, id)) << "string " << id;
    }
}

TEST_F(StringTable, BlocksExistInTheTenLanguagesAndNoOther)
{
    std::set<LANGID> expected;
    for (const TableLanguage &language : TABLE_LANGUAGES)
        expected.insert(language.id);
    std::vector<ULONG_PTR> blocks = ResourceIds(module(), RT_STRING);
    EXPECT_EQ(std::set<ULONG_PTR>(blocks.begin(), blocks.end()), (std::set<ULONG_PTR>{7, 8, 9}));
    for (ULONG_PTR block : blocks) {
        SCOPED_TRACE("block " + std::to_string(block));
        std::vector<LANGID> languages = ResourceLanguages(module(), RT_STRING, MAKEINTRESOURCEW(block));
        EXPECT_EQ(std::set<LANGID>(languages.begin(), languages.end()), expected);
    }
}

TEST_F(StringTable, EnglishTextsAreTheProductTexts)
{
    std::map<UINT, std::wstring> strings = ReadStringTable(module(), ENGLISH_US);
    for (const EnglishText &expected : ENGLISH_TEXTS) {
        SCOPED_TRACE("string " + std::to_string(expected.id));
        EXPECT_EQ(strings[expected.id], expected.text);
    }
    // The copyright line names the maker and the years.
    EXPECT_TRUE(std::regex_search(strings[121], std::wregex(L"^Copyright \u00A9 (19|20)[0-9]{2}(-(19|20)[0-9]{2})? Varnel")))
        << "string 121";
}

TEST_F(StringTable, ProductNamesAreTheSameInEveryLanguage)
{
    for (const TableLanguage &language : TABLE_LANGUAGES) {
        SCOPED_TRACE(Name(language));
        std::map<UINT, std::wstring> strings = ReadStringTable(module(), language.id);
        EXPECT_EQ(strings[103], L"Vireo");
        EXPECT_EQ(strings[123], L"Halcyon");
        EXPECT_EQ(strings[125], L"Morvax");
        EXPECT_EQ(strings[138], L"Kestrel");
        // French, Italian and Dutch name the class and the pipe after the product.
        bool productTitle = language.id == 0x000C || language.id == 0x0010 || language.id == 0x0013;
        EXPECT_EQ(strings[109], productTitle ? L"Kestrel" : L"Morvax");
        // The "not attached" lines keep the product word.
        EXPECT_NE(strings[107].find(L"Vireo"), std::wstring::npos) << "string 107";
        EXPECT_NE(strings[124].find(L"Halcyon"), std::wstring::npos) << "string 124";
        EXPECT_NE(strings[139].find(L"Kestrel"), std::wstring::npos) << "string 139";
        EXPECT_NE(strings[132].find(L"KVM"), std::wstring::npos) << "string 132";
    }
}

TEST_F(StringTable, EveryLanguageIsReallyTranslated)
{
    std::map<UINT, std::wstring> english = ReadStringTable(module(), ENGLISH_US);
    for (const TableLanguage &language : TABLE_LANGUAGES) {
        if (language.id == ENGLISH_US)
            continue;
        SCOPED_TRACE(Name(language));
        std::map<UINT, std::wstring> strings = ReadStringTable(module(), language.id);
        for (UINT id = 103; id <= 139; ++id) {
            if (!Carries(language.id, id))
                continue;
            EXPECT_FALSE(strings[id].empty()) << "string " << id << " missing";
            if (!MayEqualEnglish(language.id, id)) {
                EXPECT_NE(strings[id], english[id]) << "string " << id << " is still English";
            }
        }
        // The ALT note is laid out in two lines in every language.
        EXPECT_EQ(std::count(strings[122].begin(), strings[122].end(), L'\n'), 1) << "string 122";
    }
}

// Wrongly decoded UTF-8 leaves replacement characters, C1 controls or the
// "Ã"/"Â" pairs that UTF-8 bytes become when read as a Western code page.
TEST_F(StringTable, TextsSurviveTheResourceCompiler)
{
    for (const TableLanguage &language : TABLE_LANGUAGES) {
        SCOPED_TRACE(Name(language));
        for (const auto &entry : ReadStringTable(module(), language.id)) {
            for (wchar_t unit : entry.second) {
                bool broken = unit == 0xFFFD || (unit >= 0x80 && unit <= 0x9F) || unit == 0xC2 || unit == 0xC3;
                EXPECT_FALSE(broken) << "string " << entry.first << " holds U+" << std::hex << (unsigned)unit;
            }
        }
    }

    // The Asian tables are written in their own scripts.
    struct Script {
        LANGID language;
        wchar_t first, last;
    };
    const Script SCRIPTS[] = {
        {0x0011, 0x3040, 0x30FF},   // kana
        {0x0012, 0xAC00, 0xD7A3},   // hangul
        {0x0404, 0x4E00, 0x9FFF},   // CJK ideographs
        {0x0804, 0x4E00, 0x9FFF},
    };
    for (const Script &script : SCRIPTS) {
        std::map<UINT, std::wstring> strings = ReadStringTable(module(), script.language);
        for (UINT id : {104u, 108u, 120u}) {
            bool inScript = false;
            for (wchar_t unit : strings[id])
                inScript = inScript || (unit >= script.first && unit <= script.last);
            EXPECT_TRUE(inScript) << "language " << script.language << " string " << id;
        }
    }
}

}  // namespace
