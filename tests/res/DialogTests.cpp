// The dialog templates as compiled into VarnelKVM.exe: About 103, Options 131
// and 137, Primary Monitor 135. Size, styles, font, and every control in tab
// order with its class, style, place and template text, including the
// controls that start hidden or disabled.
#include "ResourceImage.h"

#include <gtest/gtest.h>
#include <set>

namespace {

DWORD const CHILD = WS_CHILD | WS_VISIBLE;
DWORD const DEFAULT_BUTTON = CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON;
DWORD const BUTTON = CHILD | WS_TABSTOP | BS_PUSHBUTTON;
DWORD const CHECK_BOX = CHILD | WS_TABSTOP | BS_AUTOCHECKBOX;
DWORD const HIDDEN_CHECK_BOX = WS_CHILD | WS_TABSTOP | BS_AUTOCHECKBOX;
DWORD const FIRST_RADIO = CHILD | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON;
DWORD const RADIO = CHILD | BS_AUTORADIOBUTTON;
DWORD const GROUP_BOX = CHILD | BS_GROUPBOX;
DWORD const TEXT = CHILD | WS_GROUP | SS_LEFT;
DWORD const ID_STATIC = 0xFFFFFFFF;    // control id -1
WORD const PROGRAM_ICON = 107;

struct ExpectedControl {
    DWORD id;
    const wchar_t *className;
    DWORD style;
    short x, y, cx, cy;
    const wchar_t *text;
    WORD iconId;             // the icon named as the text, else 0
};

struct ExpectedDialog {
    WORD id;
    DWORD style;
    short x, y, cx, cy;
    const wchar_t *caption;
    WORD weight;
    std::vector<ExpectedControl> controls;
};

const wchar_t *const ON_EXIT = L"Automatically switch when application is closed";
const wchar_t *const ON_SHUTDOWN = L"Automatically switch when My Computer shuts down";

const ExpectedDialog DIALOGS[] = {
    {103, 0x00C800C8, 22, 17, 247, 56, L"About", 0, {
        {2, L"Static", 0x50000003, 14, 9, 20, 20, L"", PROGRAM_ICON},
        {1000, L"Static", 0x50020080, 49, 10, 119, 8, L"", 0},
        {ID_STATIC, L"Static", 0x50020000, 49, 36, 166, 8, L"", 0},
        {1, L"Button", 0x50030001, 186, 6, 49, 15, L"", 0},
        {1001, L"Static", 0x50020080, 49, 23, 119, 8, L"", 0},
    }},
    {131, 0x80C800C8, 0, 0, 316, 222, L"Options", 400, {
        {1, L"Button", DEFAULT_BUTTON, 259, 201, 50, 14, L"", 0},
        {2, L"Button", BUTTON, 199, 201, 56, 14, L"", 0},
        {1002, L"Button", CHECK_BOX, 21, 20, 240, 10, L"", 0},
        {1007, L"Button", FIRST_RADIO, 31, 36, 230, 10, L"", 0},
        {1004, L"Button", RADIO, 31, 49, 230, 10, L"", 0},
        {1005, L"Button", RADIO, 31, 62, 230, 10, L"", 0},
        {1003, L"Button", RADIO, 31, 75, 230, 10, L"", 0},
        {1006, L"Button", CHECK_BOX, 7, 132, 197, 10, L"", 0},
        {1001, L"Button", GROUP_BOX, 7, 7, 302, 117, L"", 0},
        {32781, L"Static", TEXT, 26, 95, 276, 24, L"", 0},
        {1015, L"Button", CHECK_BOX, 7, 148, 189, 10, L"", 0},
        {1016, L"Button", HIDDEN_CHECK_BOX, 7, 164, 284, 10, L"", 0},
        {1017, L"Button", HIDDEN_CHECK_BOX, 7, 180, 290, 10, L"", 0},
    }},
    {135, 0x80C000C8, 0, 0, 186, 58, L"Primary Monitor", 0, {
        {1, L"Button", 0x50010001, 63, 30, 50, 14, L"", 0},
        {ID_STATIC, L"Static", 0x50020000, 13, 14, 161, 8, L"", 0},
    }},
    {137, 0x80C800C8, 0, 0, 316, 345, L"Options", 400, {
        {1, L"Button", DEFAULT_BUTTON, 259, 324, 50, 14, L"", 0},
        {2, L"Button", BUTTON, 199, 324, 56, 14, L"", 0},
        {1002, L"Button", CHECK_BOX, 21, 20, 240, 10, L"", 0},
        {1007, L"Button", FIRST_RADIO, 31, 36, 230, 10, L"", 0},
        {1004, L"Button", RADIO, 31, 49, 230, 10, L"", 0},
        {1005, L"Button", RADIO, 31, 62, 230, 10, L"", 0},
        {1003, L"Button", RADIO, 31, 75, 230, 10, L"", 0},
        {1006, L"Button", CHECK_BOX, 7, 256, 290, 10, L" ", 0},
        {1001, L"Button", GROUP_BOX, 7, 7, 302, 94, L"", 0},
        {32781, L"Static", TEXT, 17, 218, 276, 23, L"", 0},
        {1008, L"Button", BUTTON | WS_DISABLED, 7, 324, 123, 14, L"", 0},
        {1009, L"Button", GROUP_BOX, 7, 108, 302, 94, L"", 0},
        {1010, L"Button", CHECK_BOX, 20, 124, 240, 10, L"", 0},
        {1011, L"Button", FIRST_RADIO, 30, 140, 230, 10, L"", 0},
        {1012, L"Button", RADIO, 30, 153, 230, 10, L"", 0},
        {1013, L"Button", RADIO, 30, 166, 230, 10, L"", 0},
        {1014, L"Button", RADIO, 30, 179, 230, 10, L"", 0},
        {1015, L"Button", CHECK_BOX, 7, 273, 291, 10, L" ", 0},
        {1016, L"Button", HIDDEN_CHECK_BOX, 7, 290, 284, 10, ON_EXIT, 0},
        {1017, L"Button", HIDDEN_CHECK_BOX, 7, 307, 290, 10, ON_SHUTDOWN, 0},
    }},
};

TEST(DialogTemplates, OnlyTheFourInEnglish)
{
    ASSERT_NE(ProgramAsData(), nullptr) << "cannot load the applet as data";
    std::vector<ULONG_PTR> ids = ResourceIds(ProgramAsData(), RT_DIALOG);
    EXPECT_EQ(std::set<ULONG_PTR>(ids.begin(), ids.end()), (std::set<ULONG_PTR>{103, 131, 135, 137}));
    for (ULONG_PTR id : ids) {
        EXPECT_EQ(ResourceLanguages(ProgramAsData(), RT_DIALOG, MAKEINTRESOURCEW(id)),
                  std::vector<LANGID>{ENGLISH_US}) << "dialog " << id;
    }
}

TEST(DialogTemplates, LayoutStylesAndTabOrder)
{
    ASSERT_NE(ProgramAsData(), nullptr) << "cannot load the applet as data";
    for (const ExpectedDialog &expected : DIALOGS) {
        SCOPED_TRACE("dialog " + std::to_string(expected.id));
        std::vector<BYTE> data;
        DialogTemplate dialog;
        ASSERT_TRUE(ResourceBytes(ProgramAsData(), RT_DIALOG, MAKEINTRESOURCEW(expected.id), ENGLISH_US, &data));
        ASSERT_TRUE(ParseDialogTemplate(data, &dialog)) << "not a DIALOGEX template";

        EXPECT_EQ(dialog.style, expected.style);
        EXPECT_EQ(dialog.exStyle, 0u);
        EXPECT_EQ(dialog.x, expected.x);
        EXPECT_EQ(dialog.y, expected.y);
        EXPECT_EQ(dialog.cx, expected.cx);
        EXPECT_EQ(dialog.cy, expected.cy);
        EXPECT_FALSE(dialog.hasMenu);
        EXPECT_FALSE(dialog.hasClass);
        EXPECT_EQ(dialog.title, expected.caption);
        EXPECT_EQ(dialog.pointSize, 8);
        EXPECT_EQ(dialog.face, L"MS Shell Dlg");
        EXPECT_EQ(dialog.weight, expected.weight);
        EXPECT_EQ(dialog.italic, 0);

        ASSERT_EQ(dialog.controls.size(), expected.controls.size());
        for (size_t index = 0; index < dialog.controls.size(); ++index) {
            const DialogControl &control = dialog.controls[index];
            const ExpectedControl &want = expected.controls[index];
            SCOPED_TRACE("control " + std::to_string(index) + ", id " + std::to_string((int)want.id));
            EXPECT_EQ(control.id, want.id);
            EXPECT_EQ(_wcsicmp(control.className.c_str(), want.className), 0) << "class " << control.className;
            EXPECT_EQ(control.style, want.style) << std::hex << control.style << " instead of " << want.style;
            EXPECT_EQ(control.exStyle, 0u);
            EXPECT_EQ(control.x, want.x);
            EXPECT_EQ(control.y, want.y);
            EXPECT_EQ(control.cx, want.cx);
            EXPECT_EQ(control.cy, want.cy);
            EXPECT_EQ(control.text, want.text);
            EXPECT_EQ(control.textOrdinal, want.iconId);
            EXPECT_EQ(control.extraBytes, 0);
        }
    }
}

}  // namespace
