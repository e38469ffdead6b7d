// The popup built by ShowTrayMenu in this process, for switch states set
// straight into the applet's record: each opening must show the items the
// state of that moment calls for, however earlier openings went. Also the
// Optimize Display text in the applet's language whatever language the menu
// came in, and the menu search by command.
#include "MenuSpy.h"
#include "TrayMenuExpectations.h"
#include "shell/Shell.h"

#include <gtest/gtest.h>

namespace {

USHORT const FIRMWARE_4_0 = 0x0400;
USHORT const FIRMWARE_3_1 = 0x0301;
USHORT const NO_SWITCH = 0;
UINT const READ_PERIOD_MS = 20;
wchar_t const POPUP_MENU_CLASS[] = L"#32768";

// What the popup showed while ShowTrayMenu's menu loop ran.
MenuItems shownItems;
bool popupSeen = false;

BOOL CALLBACK FindOwnPopup(HWND window, LPARAM found)
{
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (wcscmp(className, POPUP_MENU_CLASS) == 0 && owner == GetCurrentProcessId() && IsWindowVisible(window)) {
        *(HWND *)found = window;
        return FALSE;
    }
    return TRUE;
}

// A thread timer runs inside the menu loop: it reads the popup once it is
// on screen and ends the menu, as a user pressing Escape would.
void CALLBACK ReadPopupAndClose(HWND, UINT, UINT_PTR, DWORD)
{
    HWND popup = nullptr;
    EnumWindows(FindOwnPopup, (LPARAM)&popup);
    if (popup == nullptr || popupSeen)
        return;
    shownItems = ReadMenuItems((HMENU)SendMessageW(popup, MN_GETHMENU, 0, 0));
    popupSeen = true;
    EndMenu();
}

class TrayMenuInProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        appState = AppState();
        appState.instance = GetModuleHandleW(nullptr);
        LoadUiString(IDS_CLASS_NAME, appState.className);
        LoadUiString(IDS_PRODUCT_NAME, appState.windowTitle);
        RegisterMainWindowClass(appState.instance);
        appState.mainWindow = CreateWindowExW(0, appState.className, appState.windowTitle,
                                              WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr,
                                              nullptr, appState.instance, nullptr);
        ASSERT_NE(appState.mainWindow, nullptr);
    }

    void TearDown() override
    {
        Shell_NotifyIconW(NIM_DELETE, &appState.trayIcon);
        appState.trayIcon.hWnd = nullptr;
        // Not through the window procedure: its exit sequence would end the test's message loop.
        SetWindowLongPtrW(appState.mainWindow, GWLP_WNDPROC, (LONG_PTR)DefWindowProcW);
        DestroyWindow(appState.mainWindow);
    }

    // The tray set-up as start-up does it, in the given language.
    void setUpTray(LANGID uiLanguage, bool englishFallback)
    {
        appState.uiLanguage = uiLanguage;
        appState.englishFallback = englishFallback;
        AddTrayIcon();
    }

    // A right click's menu for the switch the record now holds.
    std::optional<MenuItems> openMenu(USHORT productId, USHORT versionNumber)
    {
        appState.deviceAttributes = HIDD_ATTRIBUTES{};
        if (productId != NO_SWITCH) {
            appState.deviceAttributes.Size = sizeof(HIDD_ATTRIBUTES);
            appState.deviceAttributes.VendorID = 0x7E51;
            appState.deviceAttributes.ProductID = productId;
            appState.deviceAttributes.VersionNumber = versionNumber;
        }
        popupSeen = false;
        UINT_PTR timer = SetTimer(nullptr, 0, READ_PERIOD_MS, ReadPopupAndClose);
        OnTrayNotify(1, WM_RBUTTONUP);
        KillTimer(nullptr, timer);
        if (!popupSeen)
            return std::nullopt;
        return shownItems;
    }
};

TEST_F(TrayMenuInProcessTest, EachOpeningFollowsTheSwitchOfThatMoment)
{
    struct Opening {
        USHORT productId;
        USHORT version;
        bool noAudioAfter;   // the no-audio flag as a no-audio switch leaves it
    };
    struct Row {
        const char *name;
        std::vector<Opening> openings;
    } const rows[] = {
        {"firmware 4, gone, back",
         {{0x5A01, FIRMWARE_4_0, false}, {NO_SWITCH, 0, false}, {0x5A01, FIRMWARE_4_0, false}}},
        {"nothing, then firmware 4", {{NO_SWITCH, 0, false}, {0x5A03, FIRMWARE_4_0, false}}},
        {"firmware 3 and 4 by turns",
         {{0x5A02, FIRMWARE_3_1, false}, {0x5A04, FIRMWARE_4_0, false}, {0x5A02, FIRMWARE_3_1, false},
          {0x5A04, FIRMWARE_4_0, false}}},
        {"a no-audio switch comes, goes, and an audio one follows",
         {{0x5A01, FIRMWARE_4_0, false}, {0x5A05, FIRMWARE_4_0, true}, {NO_SWITCH, 0, true},
          {0x5A01, FIRMWARE_4_0, true}}},
    };
    TrayMenuWords const english = EnglishTrayMenu();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        appState.noAudio = 0;
        setUpTray(0x0409, true);
        int number = 0;
        for (const Opening &opening : row.openings) {
            SCOPED_TRACE(testing::Message() << "opening " << ++number);
            if (opening.noAudioAfter)
                appState.noAudio = 1;
            std::optional<MenuItems> menu = openMenu(opening.productId, opening.version);
            ASSERT_TRUE(menu.has_value()) << "no popup opened";
            bool found = opening.productId != NO_SWITCH;
            bool firmware4 = found && opening.version == FIRMWARE_4_0;
            EXPECT_EQ(DescribeMenu(*menu),
                      ExpectedTrayMenu(MenuLayoutFor(opening.noAudioAfter, firmware4), english, found));
        }
    }
}

// The menu comes in whatever language the system picks for it, while the
// Optimize Display item always reads in the applet's own language.
TEST_F(TrayMenuInProcessTest, OptimizeDisplayReadsInTheAppletsLanguage)
{
    struct Row {
        const char *name;
        LANGID uiLanguage;
    } const rows[] = {
        {"French", MAKELANGID(LANG_FRENCH, SUBLANG_NEUTRAL)},
        {"German", MAKELANGID(LANG_GERMAN, SUBLANG_NEUTRAL)},
        {"Japanese", MAKELANGID(LANG_JAPANESE, SUBLANG_NEUTRAL)},
        {"Chinese (Simplified)", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        setUpTray(row.uiLanguage, false);
        std::optional<MenuItems> menu = openMenu(0x5A01, FIRMWARE_4_0);
        ASSERT_TRUE(menu.has_value()) << "no popup opened";
        wchar_t loaded[UI_STRING_CHARS] = {};
        ASSERT_TRUE(LoadUiString(IDS_OPTIMIZE_DISPLAY, loaded));
        std::wstring expected = loaded;
        ASSERT_NE(expected, L"Optimize Display") << "the test needs a translated string 127";
        bool seen = false;
        for (const MenuItem &item : *menu) {
            if (item.id == IDM_OPTIMIZE_DISPLAY) {
                EXPECT_EQ(Utf8(item.text), Utf8(expected));
                seen = true;
            }
        }
        EXPECT_TRUE(seen) << "no Optimize Display item";
        // The menu loaded is 129 in the system's language, whose first item is Switch All's place.
        EXPECT_EQ(menu->front().id, (UINT)IDM_SWITCH_ALL);
    }
}

TEST_F(TrayMenuInProcessTest, FindMenuItemPositionSearchesFromTheEnd)
{
    EXPECT_EQ(FindMenuItemPosition(nullptr, 105), -1);
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 7, L"first");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, 9, L"other");
    AppendMenuW(menu, MF_STRING, 7, L"again");
    EXPECT_EQ(FindMenuItemPosition(menu, 7), 3) << "a repeated command is found at its last place";
    EXPECT_EQ(FindMenuItemPosition(menu, 9), 2);
    EXPECT_EQ(FindMenuItemPosition(menu, 8), -1);
    DestroyMenu(menu);
    EXPECT_EQ(FindMenuItemPosition(CreatePopupMenu(), 7), -1) << "an empty menu";
}

}  // namespace
