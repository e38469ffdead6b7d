// The border's 59 seconds, on a desktop of this test's own so that it can run
// beside the other tests: when the border timer fires, the switch hears that
// the border is off, the loop ends and prompts still open close unanswered.
#include "AppletProcess.h"
#include "DebugListener.h"
#include "DisplayTestSupport.h"
#include "Registry.h"
#include "SimulatedSwitch.h"

#include <gtest/gtest.h>

namespace {

DWORD const BORDER_MS = 59000;
DWORD const TOLERANCE_MS = 1500;

TEST(BorderTimer, AfterFiftyNineSecondsTheBorderGoesOffAndOpenPromptsClose)
{
    CleanRegistry registry;
    DebugListener debug;
    SimulatedSwitch simulator;
    int switchId = simulator.add(SwitchInterface(0x5A04, 0x0400, 8));
    // A monitor named, but no count stored: the border has a monitor to go
    // round, and the start-up prompts are up and stay unanswered.
    StoreChoice(L"DefaultDisplay", L"\\\\.\\DISPLAY1");
    AppletProcess applet;
    ASSERT_TRUE(applet.start());
    ASSERT_NE(applet.waitForWindow(), nullptr);
    ASSERT_TRUE(WaitForPrompts(applet.pid(), GetSystemMetrics(SM_CMONITORS), 10000));
    ASSERT_TRUE(applet.waitForStartUp(debug));
    ASSERT_TRUE(simulator.catchUp());
    simulator.clearReports();

    applet.post(TURN_BORDER_ON);
    ASSERT_TRUE(simulator.waitForReports(1, 10000, switchId));
    ASSERT_TRUE(simulator.waitForReports(2, BORDER_MS + 10000, switchId));
    std::vector<SimReport> reports = simulator.reports(switchId);
    EXPECT_EQ(HexReports(simulator, switchId), (std::vector<std::string>{BORDER_ON_REPORT, BORDER_OFF_REPORT}));
    DWORD lasted = reports[1].tick - reports[0].tick;
    EXPECT_GT(lasted, BORDER_MS - TOLERANCE_MS);
    EXPECT_LT(lasted, BORDER_MS + TOLERANCE_MS);

    EXPECT_TRUE(debug.waitForLine(applet.pid(), GOING_OFF_LINE, 2000));
    std::vector<std::string> lines = debug.linesFrom(applet.pid());
    EXPECT_EQ(CountOf(lines, "Killing the border timer\n"), 1);
    EXPECT_EQ(CountOf(lines, DRAWING_LINE), 1);
    EXPECT_TRUE(WaitForPrompts(applet.pid(), 0, 5000));
    EXPECT_TRUE(StoredValue(L"NumDisplays").empty()) << "closing unanswered stores nothing";
}

}  // namespace
