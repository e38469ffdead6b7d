// The tray menu on a French system: menu 129 as the applet carries it in
// French, and Optimize Display in the applet's French string 127 even though
// the menu itself carries it in English. Runs with LC_ALL=fr_FR.UTF-8 (see
// CMakeLists.txt); the expected texts are read from the built applet.
#include "Wait.h"
#include "MenuSpy.h"
#include "TrayHarness.h"
#include "TrayMenuExpectations.h"

#include <gtest/gtest.h>

namespace {

LANGID const FRENCH_SYSTEM = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);
LANGID const FRENCH_TABLE = MAKELANGID(LANG_FRENCH, SUBLANG_NEUTRAL);
UINT const OPTIMIZE_DISPLAY_ITEM = 32783;
USHORT const FIRMWARE_4_0 = 0x0400;

class TrayFrenchTest : public ::testing::Test {
protected:
    TrayHarness scene;
    TrayMenuWords french;

    void SetUp() override
    {
        ASSERT_EQ(GetUserDefaultUILanguage(), FRENCH_SYSTEM)
            << "run with LC_ALL=fr_FR.UTF-8 in the environment, as ctest does";
        ASSERT_TRUE(scene.ready()) << "the stand-in shell or the applet's icons are missing";
        std::optional<TrayMenuWords> carried = TranslatedTrayMenu(scene.resources, FRENCH_TABLE);
        ASSERT_TRUE(carried.has_value()) << "the applet carries no French menu 129 or string 127";
        french = *carried;
    }
};

TEST_F(TrayFrenchTest, TheMenuIsTheFrenchOneWithOptimizeDisplayInFrench)
{
    // Otherwise the test could not tell whether the item's text was replaced.
    std::optional<MenuItems> carried = scene.resources.menuItems(129, FRENCH_TABLE);
    ASSERT_TRUE(carried.has_value());
    for (const MenuItem &item : *carried) {
        if (item.id == OPTIMIZE_DISPLAY_ITEM) {
            ASSERT_NE(item.text, french.texts[MenuSlot::OptimizeDisplay]);
        }
    }

    scene.addSwitch(0x5A03, FIRMWARE_4_0);
    ASSERT_TRUE(scene.startApplet());
    MenuSpy spy(scene.applet->window());
    ASSERT_TRUE(spy.installed());

    std::optional<MenuItems> menu = spy.openTrayMenu();
    ASSERT_TRUE(menu.has_value()) << "no popup opened";
    EXPECT_EQ(DescribeMenu(*menu), ExpectedTrayMenu(MenuLayoutFor(false, true), french, true));
}

TEST_F(TrayFrenchTest, AfterTheSwitchGoesAndComesBackTheFrenchMenuIsAsAtFirst)
{
    int id = scene.addSwitch(0x5A03, FIRMWARE_4_0);
    ASSERT_TRUE(scene.startApplet());
    MenuSpy spy(scene.applet->window());
    ASSERT_TRUE(spy.installed());

    std::vector<std::string> const withSwitch = ExpectedTrayMenu(MenuLayoutFor(false, true), french, true);
    std::optional<MenuItems> menu = spy.openTrayMenu();
    ASSERT_TRUE(menu.has_value()) << "no popup opened";
    EXPECT_EQ(DescribeMenu(*menu), withSwitch);

    ASSERT_TRUE(scene.unplugSwitch(id));
    menu = spy.openTrayMenu();
    ASSERT_TRUE(menu.has_value()) << "no popup opened";
    EXPECT_EQ(DescribeMenu(*menu), ExpectedTrayMenu(MenuLayoutFor(false, false), french, false));

    ASSERT_TRUE(scene.plugSwitch(id));
    menu = spy.openTrayMenu();
    ASSERT_TRUE(menu.has_value()) << "no popup opened";
    EXPECT_EQ(DescribeMenu(*menu), withSwitch);
}

TEST_F(TrayFrenchTest, WithoutASwitchTheFrenchSwitchingItemsAreGrey)
{
    ASSERT_TRUE(scene.startApplet());
    MenuSpy spy(scene.applet->window());
    std::optional<MenuItems> menu = spy.openTrayMenu();
    ASSERT_TRUE(menu.has_value()) << "no popup opened";
    EXPECT_EQ(DescribeMenu(*menu), ExpectedTrayMenu(MenuLayoutFor(false, false), french, false));
}

}  // namespace
