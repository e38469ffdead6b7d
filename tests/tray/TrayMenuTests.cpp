// The tray icon's popup menu as the user gets it from the real applet on an
// English system: the items each opening shows for the variant and the switch
// at hand, and what the shell's mouse notifications do.
#include "Wait.h"
#include "MenuSpy.h"
#include "TrayHarness.h"
#include "TrayMenuExpectations.h"

#include <gtest/gtest.h>

namespace {

USHORT const NO_SWITCH = 0;
USHORT const FIRMWARE_4_0 = 0x0400;
USHORT const FIRMWARE_3_1 = 0x0301;
WPARAM const TRAY_ICON_ID = 1;
BYTE const SWITCH_REPORT_ID = 1;
BYTE const SWITCH_ALL_COMMAND = 3;

class TrayMenuTest : public ::testing::Test {
protected:
    std::unique_ptr<TrayHarness> scene;

    void freshScene()
    {
        scene.reset();
        scene.reset(new TrayHarness);
        ASSERT_TRUE(scene->ready()) << "the stand-in shell or the applet's icons are missing";
    }

    void SetUp() override
    {
        // Menu 130 is the one for English and untranslated systems.
        ASSERT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()), LANG_ENGLISH)
            << "these tests expect an English system; run them without LC_ALL set to another language";
        freshScene();
    }

    // Switch-all reports the switch has accepted so far.
    size_t switchAllReports() const
    {
        size_t count = 0;
        for (const SimReport &report : scene->sim.reports()) {
            if (report.bytes.size() >= 2 && report.bytes[0] == SWITCH_REPORT_ID &&
                ((report.bytes[1] >> 1) & 3) == SWITCH_ALL_COMMAND)
                ++count;
        }
        return count;
    }
};

// The menus of the variant and the switch, reached by the registry's no-audio
// flag or by a no-audio switch, and by a switch with firmware 4 or another.
struct VariantRow {
    const char *name;
    USHORT productId;
    USHORT version;
    DWORD registryNoAudio;   // HKLM "NoAudioKestrel"
    bool noAudio;
    bool firmware4;
};
VariantRow const VARIANT_ROWS[] = {
    {"audio switch, firmware 4", 0x5A01, FIRMWARE_4_0, 0, false, true},
    {"audio switch, firmware 3", 0x5A03, FIRMWARE_3_1, 0, false, false},
    {"registry no-audio, firmware 4", 0x5A04, FIRMWARE_4_0, 1, true, true},
    {"registry no-audio, firmware 3", 0x5A02, FIRMWARE_3_1, 1, true, false},
    {"no-audio switch 5A05, firmware 4", 0x5A05, FIRMWARE_4_0, 0, true, true},
    {"no-audio switch 5A06, firmware 3", 0x5A06, FIRMWARE_3_1, 0, true, false},
    {"no switch", NO_SWITCH, 0, 0, false, false},
    {"no switch, registry no-audio", NO_SWITCH, 0, 1, true, false},
};

TEST_F(TrayMenuTest, TheFirstOpeningsShowTheItemsTheSwitchAndVariantCallFor)
{
    TrayMenuWords const english = EnglishTrayMenu();
    for (const VariantRow &row : VARIANT_ROWS) {
        SCOPED_TRACE(row.name);
        freshScene();
        if (row.registryNoAudio != 0)
            SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoAudioKestrel", row.registryNoAudio);
        if (row.productId != NO_SWITCH)
            scene->addSwitch(row.productId, row.version);
        ASSERT_TRUE(scene->startApplet());
        MenuSpy spy(scene->applet->window());
        ASSERT_TRUE(spy.installed());

        std::vector<std::string> const expected =
            ExpectedTrayMenu(MenuLayoutFor(row.noAudio, row.firmware4), english, row.productId != NO_SWITCH);
        for (int opening = 1; opening <= 2; ++opening) {
            SCOPED_TRACE(testing::Message() << "opening " << opening);
            std::optional<MenuItems> menu = spy.openTrayMenu();
            ASSERT_TRUE(menu.has_value()) << "no popup opened";
            EXPECT_EQ(DescribeMenu(*menu), expected);
        }
    }
}

// Each opening shows what the state calls for at that moment: without the
// switch the switching items are grey and Optimize Display is gone; with the
// switch back they are all as at first. The no-audio removal stays, as the
// flag does.
TEST_F(TrayMenuTest, AfterTheSwitchGoesAndComesBackTheMenuIsAsAtFirst)
{
    TrayMenuWords const english = EnglishTrayMenu();
    for (const VariantRow &row : VARIANT_ROWS) {
        if (row.productId == NO_SWITCH)
            continue;
        SCOPED_TRACE(row.name);
        freshScene();
        if (row.registryNoAudio != 0)
            SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoAudioKestrel", row.registryNoAudio);
        int id = scene->addSwitch(row.productId, row.version);
        ASSERT_TRUE(scene->startApplet());
        MenuSpy spy(scene->applet->window());
        ASSERT_TRUE(spy.installed());

        std::vector<std::string> const atStart =
            ExpectedTrayMenu(MenuLayoutFor(row.noAudio, row.firmware4), english, true);
        std::optional<MenuItems> menu = spy.openTrayMenu();
        ASSERT_TRUE(menu.has_value()) << "no popup opened";
        EXPECT_EQ(DescribeMenu(*menu), atStart);

        ASSERT_TRUE(scene->unplugSwitch(id));
        menu = spy.openTrayMenu();
        ASSERT_TRUE(menu.has_value()) << "no popup opened without the switch";
        EXPECT_EQ(DescribeMenu(*menu), ExpectedTrayMenu(MenuLayoutFor(row.noAudio, false), english, false))
            << "without the switch";

        ASSERT_TRUE(scene->plugSwitch(id));
        menu = spy.openTrayMenu();
        ASSERT_TRUE(menu.has_value()) << "no popup opened with the switch back";
        EXPECT_EQ(DescribeMenu(*menu), atStart) << "with the switch back";
    }
}

// A switch of firmware 4 that arrives after the first opening brings Optimize
// Display with it; one of another firmware taking its place takes it away.
TEST_F(TrayMenuTest, ASwitchArrivingLaterBringsItsItems)
{
    int display = scene->addSwitch(0x5A01, FIRMWARE_4_0);
    int older = scene->addSwitch(0x5A02, FIRMWARE_3_1);
    scene->sim.unplug(display, SIM_NOTIFY_NONE);
    scene->sim.unplug(older, SIM_NOTIFY_NONE);
    ASSERT_TRUE(scene->startApplet());
    MenuSpy spy(scene->applet->window());
    TrayMenuWords const english = EnglishTrayMenu();

    struct Step {
        const char *name;
        int plug;       // interface to plug before opening, or -1
        int unplug;     // interface to unplug before opening, or -1
        bool found;
        bool firmware4;
    } const steps[] = {
        {"nothing attached", -1, -1, false, false},
        {"firmware 4 arrives", display, -1, true, true},
        {"it goes", -1, display, false, false},
        {"firmware 3 arrives", older, -1, true, false},
        {"it goes", -1, older, false, false},
        {"firmware 4 again", display, -1, true, true},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.name);
        if (step.unplug >= 0) {
            ASSERT_TRUE(scene->unplugSwitch(step.unplug));
        }
        if (step.plug >= 0) {
            ASSERT_TRUE(scene->plugSwitch(step.plug));
        }
        std::optional<MenuItems> menu = spy.openTrayMenu();
        ASSERT_TRUE(menu.has_value()) << "no popup opened";
        EXPECT_EQ(DescribeMenu(*menu), ExpectedTrayMenu(MenuLayoutFor(false, step.firmware4), english, step.found));
    }
}

// A no-audio switch, once seen, marks the variant for the rest of the run:
// an audio switch arriving afterwards still gets the menu without audio.
TEST_F(TrayMenuTest, ANoAudioSwitchLeavesTheAudioItemsGoneForGood)
{
    int noAudioSwitch = scene->addSwitch(0x5A05, FIRMWARE_4_0);
    int audioSwitch = scene->addSwitch(0x5A01, FIRMWARE_4_0);
    scene->sim.unplug(noAudioSwitch, SIM_NOTIFY_NONE);
    ASSERT_TRUE(scene->startApplet());
    MenuSpy spy(scene->applet->window());
    TrayMenuWords const english = EnglishTrayMenu();

    std::optional<MenuItems> menu = spy.openTrayMenu();
    ASSERT_TRUE(menu.has_value());
    EXPECT_EQ(DescribeMenu(*menu), ExpectedTrayMenu(MenuLayoutFor(false, true), english, true));

    ASSERT_TRUE(scene->unplugSwitch(audioSwitch));
    ASSERT_TRUE(scene->plugSwitch(noAudioSwitch));
    ASSERT_TRUE(scene->unplugSwitch(noAudioSwitch));
    ASSERT_TRUE(scene->plugSwitch(audioSwitch));
    menu = spy.openTrayMenu();
    ASSERT_TRUE(menu.has_value());
    EXPECT_EQ(DescribeMenu(*menu), ExpectedTrayMenu(MenuLayoutFor(true, true), english, true));
}

// The shell's notifications for icons that are not the applet's, and mouse
// messages other than the right-button release, open no menu.
TEST_F(TrayMenuTest, OnlyARightClickOnIconOneOpensTheMenu)
{
    ASSERT_TRUE(scene->startApplet());
    MenuSpy spy(scene->applet->window());
    struct Row {
        WPARAM iconId;
        LPARAM mouseMessage;
    } const rows[] = {
        {0, WM_RBUTTONUP}, {2, WM_RBUTTONUP}, {2, WM_CONTEXTMENU}, {1, WM_RBUTTONDOWN},
        {1, WM_LBUTTONUP}, {1, WM_MOUSEMOVE},  {1, WM_RBUTTONDBLCLK},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "icon " << row.iconId << ", message 0x" << std::hex << row.mouseMessage);
        spy.notify(row.iconId, row.mouseMessage);
        ASSERT_TRUE(spy.sync());
        EXPECT_TRUE(spy.menusShown().empty());
    }
    // The same notifications for icon 1 do open it.
    for (LPARAM opening : {WM_RBUTTONUP, WM_CONTEXTMENU}) {
        SCOPED_TRACE(testing::Message() << "message 0x" << std::hex << opening);
        size_t before = spy.menusShown().size();
        spy.notify(TRAY_ICON_ID, opening);
        ASSERT_TRUE(spy.sync());
        EXPECT_EQ(spy.menusShown().size(), before + 1);
        EXPECT_TRUE(spy.closeMenu());
    }
}

// The menu's own loop goes on handling the shell's notifications: a second
// right click that arrives while the menu is open must leave that menu alone
// (it is rebuilt for each opening, and the one on screen must not be freed).
TEST_F(TrayMenuTest, ARightClickWhileTheMenuIsOpenLeavesItAlone)
{
    ASSERT_TRUE(scene->startApplet());
    MenuSpy spy(scene->applet->window());
    spy.notify(TRAY_ICON_ID, WM_RBUTTONUP);
    spy.notify(TRAY_ICON_ID, WM_RBUTTONUP);
    ASSERT_TRUE(spy.sync());
    EXPECT_EQ(spy.menusShown().size(), 1u);
    ASSERT_TRUE(spy.closeMenu());

    std::optional<MenuItems> menu = spy.openTrayMenu();
    ASSERT_TRUE(menu.has_value()) << "no popup opened after the first one closed";
    EXPECT_EQ(DescribeMenu(*menu), ExpectedTrayMenu(MenuLayoutFor(false, false), EnglishTrayMenu(), false));
    EXPECT_TRUE(scene->applet->running());
}

// A double click switches everything once, on the release that follows the
// double-click message; a release alone does nothing, and so does anything
// said about another icon.
TEST_F(TrayMenuTest, ADoubleClickSwitchesAllOnTheReleaseThatFollows)
{
    struct Notice {
        WPARAM iconId;
        LPARAM mouseMessage;
    };
    Notice const doubleClick = {1, WM_LBUTTONDBLCLK}, release = {1, WM_LBUTTONUP}, press = {1, WM_LBUTTONDOWN};
    Notice const otherDoubleClick = {2, WM_LBUTTONDBLCLK}, otherRelease = {2, WM_LBUTTONUP};
    struct Row {
        const char *name;
        std::vector<Notice> notices;
        size_t switchAll;
    } const rows[] = {
        {"release alone", {release}, 0},
        {"press and release", {press, release}, 0},
        {"double click without its release", {doubleClick}, 0},
        {"double click and release", {press, release, doubleClick, release}, 1},
        {"a second release switches no more", {doubleClick, release, release}, 1},
        {"two double clicks", {doubleClick, release, doubleClick, release}, 2},
        {"double click on another icon", {otherDoubleClick, release}, 0},
        {"release on another icon", {doubleClick, otherRelease}, 0},
        {"release on another icon leaves it pending", {doubleClick, otherRelease, release}, 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        freshScene();
        scene->addSwitch(0x5A01, FIRMWARE_4_0);
        ASSERT_TRUE(scene->startApplet());
        MenuSpy spy(scene->applet->window());
        ASSERT_TRUE(spy.installed());
        ASSERT_TRUE(scene->sim.catchUp());
        size_t before = switchAllReports();

        // Once the applet has taken the marker posted after them, it has
        // handled the notices, and the switch catches up with what it wrote.
        for (const Notice &notice : row.notices)
            spy.notify(notice.iconId, notice.mouseMessage);
        ASSERT_TRUE(spy.sync());
        ASSERT_TRUE(scene->sim.catchUp());
        EXPECT_EQ(switchAllReports() - before, row.switchAll);
        EXPECT_TRUE(spy.menusShown().empty());
    }
}

}  // namespace
