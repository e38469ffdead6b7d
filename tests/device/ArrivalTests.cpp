// The switch plugged in while the applet runs: the reports it is greeted
// with, the watcher that starts after it, and the notices that are not the
// switch at all, as the simulated switch and the debug output see them.
#include "AppletSwitchRig.h"

#include <dbt.h>

#include <cwctype>
#include <functional>

namespace {

const char SWITCH_NONE_UNMUTED[] = "01 00 00 00 00 00 00 00";
const char RESOLUTION[] = "03 03 <resolution>";
const char BORDER_SHOWN[] = "03 04 01 00 00 00 00 00";

// The reports as hex, the resolution report's size left out: which monitor
// is on the switch, and so its size, is the display settings' business.
std::vector<std::string> GreetingOf(const SimulatedSwitch &simulator, int id)
{
    std::vector<std::string> hex = HexReports(simulator, id);
    for (std::string &report : hex) {
        if (report.compare(0, 6, "03 03 ") == 0)
            report = RESOLUTION;
    }
    return hex;
}

SimInterface UpperCasePath(SimInterface description)
{
    for (wchar_t &c : description.devicePath)
        c = towupper(c);
    return description;
}

class ArrivalTest : public AppletSwitchTest {};

TEST_F(ArrivalTest, EachKindOfSwitchIsGreetedAndGetsAWatcher)
{
    struct Row {
        const char *name;
        SimInterface switchInterface;
        std::vector<std::string> greeting;
    } rows[] = {
        {"row 1, lower case path", SwitchInterface(0x5A01, 0x0400), {SWITCH_NONE_UNMUTED}},
        {"row 1, upper case path", UpperCasePath(SwitchInterface(0x5A01, 0x0400)), {SWITCH_NONE_UNMUTED}},
        {"row 2, firmware 4", SwitchInterface(0x5A02, 0x0400), {SWITCH_NONE_UNMUTED}},
        {"row 3, firmware 4", SwitchInterface(0x5A03, 0x0401), {SWITCH_NONE_UNMUTED, RESOLUTION, BORDER_SHOWN}},
        {"row 4, firmware 4", SwitchInterface(0x5A04, 0x0400), {SWITCH_NONE_UNMUTED, RESOLUTION, BORDER_SHOWN}},
        {"row 3, firmware 3", SwitchInterface(0x5A03, 0x0310), {SWITCH_NONE_UNMUTED}},
        {"row 5, no-audio variant", SwitchInterface(0x5A05, 0x0400), {SWITCH_NONE_UNMUTED}},
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        int id = simulator.add(Unplugged(row.switchInterface));
        AppletProcess applet;
        startApplet(applet);
        debug.clear();

        // The applet greets the switch as it handles the arrival notice,
        // which plug() sends and waits for.
        DWORD plugged = GetTickCount();
        simulator.plug(id);
        ASSERT_TRUE(simulator.catchUp());
        EXPECT_EQ(GreetingOf(simulator, id), row.greeting);
        ASSERT_TRUE(waitForCount(applet, WATCHER_STARTS, 1));
        DWORD watcherAfter = GetTickCount() - plugged;
        EXPECT_GE(watcherAfter + 20, WATCHER_DELAY_MS) << "the watcher waits for the switch to settle";
        // The watcher keeps its own handle open while it reads.
        EXPECT_TRUE(simulator.waitForOpenCount(id, 1));
        EXPECT_EQ(countOf(applet, WATCHER_STARTS), 1);

        applet.terminate();
        simulator.unplug(id, SIM_NOTIFY_NONE);
        simulator.clearReports();
    }
}

TEST_F(ArrivalTest, WhileTheBorderShowsAReturningSwitchGetsTheResolutionOnly)
{
    int id = simulator.add(Unplugged(SwitchInterface(0x5A03, 0x0400)));
    AppletProcess applet;
    startApplet(applet);
    simulator.plug(id);
    ASSERT_TRUE(simulator.waitForReports(3, WAIT_MS, id));
    simulator.unplug(id);
    ASSERT_TRUE(simulator.catchUp());
    simulator.clearReports();

    // Back within the border's 59 seconds.
    simulator.plug(id);
    ASSERT_TRUE(simulator.catchUp());
    EXPECT_EQ(GreetingOf(simulator, id), (std::vector<std::string>{SWITCH_NONE_UNMUTED, RESOLUTION}));
}

TEST_F(ArrivalTest, TwoArrivalsWithinTheDelayStartOneWatcher)
{
    int first = simulator.add(Unplugged(SwitchInterface(0x5A01, 0x0301)));
    int second = simulator.add(Unplugged(SwitchInterface(0x5A02, 0x0301)));
    AppletProcess applet;
    startApplet(applet);
    debug.clear();
    simulator.plug(first);
    Sleep(200);
    simulator.plug(second);
    ASSERT_TRUE(waitForCount(applet, WATCHER_STARTS, 1));
    // Nothing more comes: long enough for a second start timer, had the first
    // one not been replaced.
    Sleep(2 * WATCHER_DELAY_MS);
    EXPECT_EQ(countOf(applet, WATCHER_STARTS), 1);
    EXPECT_EQ(simulator.openCount(first) + simulator.openCount(second), 2) << "one watcher holds both interfaces";
}

// A notice the test sends as the system would, with the record it carries.
template <typename Record>
void SendDeviceNotice(HWND window, WPARAM event, const Record &record)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_DEVICECHANGE, event, (LPARAM)&record, SMTO_BLOCK, 5000, &result);
}

TEST_F(ArrivalTest, OtherDevicesOnlyRefreshTheIcon)
{
    // The switch is attached all along; every notice below concerns something else.
    int id = simulator.add(SwitchInterface(0x5A04, 0x0400));
    int mouse = simulator.add(Unplugged(HidInterface(L"vid_046d&pid_c52b&mi_00", 0x046D, 0xC52B)));
    int secondCollection = simulator.add(Unplugged(HidInterface(L"vid_7e51&pid_5a04&col02", 0x7E51, 0x5A04)));
    AppletProcess applet;
    startApplet(applet);
    // Attached at start-up: its watcher starts as after an arrival, and
    // looks the switch up on its own thread once it holds it open.
    ASSERT_TRUE(waitForCount(applet, WATCHER_STARTS, 1));
    ASSERT_TRUE(simulator.waitForOpenCount(id, 1));
    debug.clear();

    DEV_BROADCAST_VOLUME volume = {sizeof(volume), DBT_DEVTYP_VOLUME, 0, 1 << 4, 0};
    struct {
        DWORD size, deviceType, reserved;
        wchar_t name[8];
    } port = {sizeof(port), DBT_DEVTYP_PORT, 0, L"COM3"};
    struct Row {
        const char *name;
        std::function<void()> notice;
    } rows[] = {
        {"a volume", [&] { SendDeviceNotice(applet.window(), DBT_DEVICEARRIVAL, volume); }},
        {"a port", [&] { SendDeviceNotice(applet.window(), DBT_DEVICEARRIVAL, port); }},
        {"a mouse", [&] { simulator.plug(mouse, SIM_NOTIFY_INTERFACE); }},
        {"the switch's second collection", [&] { simulator.plug(secondCollection, SIM_NOTIFY_INTERFACE); }},
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        simulator.clearReports();
        LONG enumerations = simulator.hidEnumerations();
        row.notice();
        ASSERT_TRUE(WaitUntil("the icon refresh to look for the switch",
                              [&] { return simulator.hidEnumerations() > enumerations; }));
        ASSERT_TRUE(simulator.catchUp());
        EXPECT_TRUE(simulator.writes().empty());
        // The icon refresh looks for the switch once.
        EXPECT_EQ(simulator.hidEnumerations() - enumerations, 1);
    }
    // Nothing more comes: long enough for a watcher any of them had started.
    Sleep(2 * WATCHER_DELAY_MS);
    EXPECT_EQ(countOf(applet, WATCHER_STARTS), 0);
    EXPECT_TRUE(applet.running());
    EXPECT_EQ(simulator.openCount(id), 1) << "the watcher of start-up goes on with its one handle";
}

}  // namespace
