// The tray icon as the shell sees it: what the applet adds at start-up, which
// image it shows with and without a switch, and that it comes back when the
// shell restarts.
#include "Wait.h"
#include "MenuSpy.h"
#include "TrayHarness.h"

#include <gtest/gtest.h>

namespace {

UINT const WM_TRAY_NOTIFY = 0x832A;
UINT const TRAY_ICON_ID = 1;
UINT const TRAY_FLAGS = NIF_MESSAGE | NIF_ICON | NIF_TIP;
WORD const MENU_EXIT = 105;
USHORT const FIRMWARE_4_0 = 0x0400;

const char *MessageName(DWORD message)
{
    switch (message) {
    case NIM_ADD: return "NIM_ADD";
    case NIM_MODIFY: return "NIM_MODIFY";
    case NIM_DELETE: return "NIM_DELETE";
    }
    return "other";
}

// The record the applet hands the shell every time: its window, id 1,
// message, icon and tip, the callback message and the product name.
void ExpectTheAppletsIcon(const TrayHarness &tray, const TrayNotification &notification, DWORD message, WORD icon)
{
    SCOPED_TRACE(MessageName(notification.message));
    EXPECT_EQ(notification.message, message);
    EXPECT_EQ(notification.window, tray.applet->window());
    EXPECT_EQ(notification.id, TRAY_ICON_ID);
    EXPECT_EQ(notification.flags, TRAY_FLAGS);
    EXPECT_EQ(notification.callbackMessage, WM_TRAY_NOTIFY);
    EXPECT_EQ(Utf8(notification.tip), "Kestrel");
    EXPECT_EQ(tray.iconShown(notification), icon);
}

class TrayIconTest : public ::testing::Test {
protected:
    std::unique_ptr<TrayHarness> scene;

    // A new desktop for the next start: shell, switch and registry as new.
    void freshScene()
    {
        scene.reset();
        scene.reset(new TrayHarness);
        ASSERT_TRUE(scene->ready()) << "the stand-in shell or the applet's icons are missing";
    }

    void SetUp() override { freshScene(); }

    // The shell restarts: exactly one NIM_ADD of the applet's icon follows.
    void expectAddedAgainOnRestart(WORD icon)
    {
        scene->shell.clear();
        scene->shell.restart();
        ASSERT_TRUE(scene->shell.isTheShell());
        ASSERT_TRUE(scene->shell.waitForCount(scene->applet->window(), 1)) << "the icon was not added again";
        // The announcement is a sent message: once the applet answers one
        // sent after it, everything it told the tray about it is here.
        ASSERT_TRUE(scene->applet->reachedMessageLoop());
        std::vector<TrayNotification> notifications = scene->notifications();
        ASSERT_EQ(notifications.size(), 1u);
        ExpectTheAppletsIcon(*scene, notifications[0], NIM_ADD, icon);
    }
};

// The start-up probe decides the icon; either way it is added once. A
// restarted shell has forgotten every icon: the applet adds its own again,
// each time the shell announces itself.
TEST_F(TrayIconTest, StartUpAddsTheIconOnceAsTheSwitchIsAndARestartedShellGetsItBack)
{
    struct Row {
        const char *name;
        USHORT productId;       // 0: no switch
        WORD icon;
    } const rows[] = {
        {"no switch", 0, NOT_ATTACHED_ICON},
        {"switch 5A01", 0x5A01, ATTACHED_ICON},
        {"no-audio switch 5A06", 0x5A06, ATTACHED_ICON},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        freshScene();
        if (row.productId != 0)
            scene->addSwitch(row.productId, FIRMWARE_4_0);
        ASSERT_TRUE(scene->startApplet()) << "no icon reached the shell";
        // The applet has answered a message sent after its icon came: the
        // tray, answering the applet meanwhile, has heard all it said before.
        ASSERT_TRUE(scene->applet->reachedMessageLoop());
        std::vector<TrayNotification> notifications = scene->notifications();
        ASSERT_EQ(notifications.size(), 1u);
        ExpectTheAppletsIcon(*scene, notifications[0], NIM_ADD, row.icon);
        for (int restart = 1; restart <= 2; ++restart) {
            SCOPED_TRACE(testing::Message() << "restart " << restart);
            expectAddedAgainOnRestart(row.icon);
        }
    }
}

TEST_F(TrayIconTest, TheIconFollowsTheSwitchGoingAndComing)
{
    int id = scene->addSwitch(0x5A01, FIRMWARE_4_0);
    ASSERT_TRUE(scene->startApplet());
    ASSERT_EQ(scene->iconShown(scene->notifications().back()), ATTACHED_ICON);

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        scene->shell.clear();
        ASSERT_TRUE(scene->unplugSwitch(id)) << "the icon did not turn to not attached";
        ASSERT_TRUE(scene->plugSwitch(id)) << "the icon did not turn to attached";
        // Every change is a modification of the same icon, to one of the two images.
        for (const TrayNotification &notification : scene->notifications()) {
            WORD shown = scene->iconShown(notification);
            EXPECT_NE(shown, 0) << "an image that is neither of the applet's tray icons";
            ExpectTheAppletsIcon(*scene, notification, NIM_MODIFY, shown);
        }
    }
}

// The icon put back is the one of the moment, not the one of start-up.
TEST_F(TrayIconTest, ARestartedShellGetsTheIconAsItIsNow)
{
    int id = scene->addSwitch(0x5A01, FIRMWARE_4_0);
    ASSERT_TRUE(scene->startApplet());
    struct Step {
        const char *name;
        bool switchPlugged;
        WORD icon;
    } const steps[] = {
        {"switch removed", false, NOT_ATTACHED_ICON},
        {"switch back", true, ATTACHED_ICON},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_TRUE(step.switchPlugged ? scene->plugSwitch(id) : scene->unplugSwitch(id));
        expectAddedAgainOnRestart(step.icon);
    }
}

// The icon's removal is a call into the shell, during which the applet
// answers messages sent to it: a display change then must not put up a
// border that nothing would take away, nor tell the switch it shows.
TEST_F(TrayIconTest, ExitTakesTheIconAway)
{
    for (bool displayChangesMeanwhile : {false, true}) {
        SCOPED_TRACE(displayChangesMeanwhile ? "the display changes while the icon goes" : "plain exit");
        freshScene();
        int id = scene->addSwitch(0x5A04, FIRMWARE_4_0);
        ASSERT_TRUE(scene->startApplet());
        if (displayChangesMeanwhile) {
            scene->shell.whileNotified = [](const TrayNotification &notification) {
                if (notification.message == NIM_DELETE)
                    SendMessageW(notification.window, WM_DISPLAYCHANGE, 32, MAKELPARAM(1280, 1024));
            };
        }
        ASSERT_TRUE(scene->sim.catchUp());
        scene->sim.clearReports();
        scene->applet->post(WM_COMMAND, MENU_EXIT, 0);
        ASSERT_TRUE(scene->shell.waitForCount(scene->applet->window(), 2)) << "the icon was not deleted";
        std::vector<TrayNotification> notifications = scene->notifications();
        EXPECT_EQ(notifications[1].message, (DWORD)NIM_DELETE);
        EXPECT_EQ(notifications[1].id, TRAY_ICON_ID);
        EXPECT_TRUE(scene->applet->waitForExit(10000));
        ASSERT_TRUE(scene->sim.catchUp());
        EXPECT_TRUE(scene->sim.reports(id).empty()) << "the switch heard from a closing applet";
    }
}

}  // namespace
