// The border and Optimize Display in the running applet, judged by what the
// simulated switch receives and by the applet's debug lines (Wine shows
// nothing drawn on the screen's device context, so the frame itself is
// checked in process, on a memory surface).
#include "AppletProcess.h"
#include "DebugListener.h"
#include "DisplayTestSupport.h"
#include "Registry.h"
#include "SimulatedSwitch.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

USHORT const DISPLAY_FIRMWARE = 0x0400;
USHORT const PLAIN_FIRMWARE = 0x0301;
// A border goes off within one pass of its loop; a second is plenty.
DWORD const GOING_OFF_WITHIN_MS = 1000;
const char NO_RESOLUTION_REPORT[] = "03 03 00 00 00 00 00 00";

class BorderTest : public ::testing::Test {
protected:
    // The choice is asked for only when nothing is stored for this many
    // monitors: these tests store the count, so no prompt comes up.
    void startApplet(AppletProcess &applet, USHORT firmware = DISPLAY_FIRMWARE)
    {
        StoreChoice(L"NumDisplays", std::to_wstring(GetSystemMetrics(SM_CMONITORS)));
        switchId = simulator.add(SwitchInterface(0x5A04, firmware, 8));
        ASSERT_TRUE(applet.start());
        ASSERT_NE(applet.waitForWindow(), nullptr);
        ASSERT_TRUE(applet.waitForStartUp(debug));
        ASSERT_TRUE(simulator.hasClient(applet.pid())) << "the applet did not load the stand-in DLLs";
        ASSERT_TRUE(simulator.catchUp());
        ASSERT_TRUE(debug.catchUp());
        simulator.clearReports();
        debug.clear();
    }

    // The reports so far, once the switch has caught up with what the applet wrote.
    std::vector<std::string> reportsNow()
    {
        EXPECT_TRUE(simulator.catchUp());
        return HexReports(simulator, switchId);
    }

    // The applet's lines so far, once the listener has caught up.
    std::vector<std::string> linesNow(AppletProcess &applet)
    {
        EXPECT_TRUE(debug.catchUp());
        return debug.linesFrom(applet.pid());
    }

    // Loops that said "Drawing border" and have not yet said they are going off.
    int loopsRunning(AppletProcess &applet)
    {
        std::vector<std::string> lines = linesNow(applet);
        return CountOf(lines, DRAWING_LINE) - CountOf(lines, GOING_OFF_LINE);
    }

    // Waits until `drawn` loops have said "Drawing border" and `running` of
    // them have not gone off. Each loop's thread runs at the lowest priority
    // and sets up DirectDraw first, so on a busy machine its line can come
    // many seconds after the request.
    testing::AssertionResult waitForLoops(AppletProcess &applet, int drawn, int running, DWORD timeoutMs = 90000)
    {
        int drawing = 0, goneOff = 0;
        return WaitUntil(
            std::to_string(drawn) + " loops drawn, " + std::to_string(running) + " of them still drawing",
            [&] {
                std::vector<std::string> lines = debug.linesFrom(applet.pid());
                drawing = CountOf(lines, DRAWING_LINE);
                goneOff = CountOf(lines, GOING_OFF_LINE);
                return drawing == drawn && drawing - goneOff == running;
            },
            timeoutMs, [&] { return std::to_string(drawing) + " drawn, " + std::to_string(goneOff) + " gone off"; });
    }

    CleanRegistry registry;
    DebugListener debug;
    SimulatedSwitch simulator;
    int switchId = -1;
};

struct RequestRow {
    const char *name;
    USHORT firmware;
    UINT message;
    WPARAM wParam;
    std::vector<std::string> reports;
    const char *line;          // a line the request writes, or null
    bool draws;
};

TEST_F(BorderTest, EachRequestSendsItsReports)
{
    std::vector<RequestRow> const rows = {
        {"border on", DISPLAY_FIRMWARE, TURN_BORDER_ON, 0, {BORDER_ON_REPORT}, "Got WM_TURN_BORDER_ON Event \n", true},
        {"Optimize Display", DISPLAY_FIRMWARE, WM_COMMAND, OPTIMIZE_DISPLAY_COMMAND,
         {NO_RESOLUTION_REPORT, OPTIMIZE_BORDER_REPORT}, "User wants to Optimize Display\n", true},
        {"display change", DISPLAY_FIRMWARE, WM_DISPLAYCHANGE, 32, {NO_RESOLUTION_REPORT, BORDER_ON_REPORT},
         "Display just changed\n", true},
        {"border off while off", DISPLAY_FIRMWARE, TURN_BORDER_OFF, 0, {BORDER_OFF_REPORT}, nullptr, false},
        {"firmware 3: border on", PLAIN_FIRMWARE, TURN_BORDER_ON, 0, {}, nullptr, false},
        {"firmware 3: border off", PLAIN_FIRMWARE, TURN_BORDER_OFF, 0, {}, nullptr, false},
        {"firmware 3: display change", PLAIN_FIRMWARE, WM_DISPLAYCHANGE, 32, {}, nullptr, false},
    };
    for (const RequestRow &row : rows) {
        SCOPED_TRACE(row.name);
        AppletProcess applet;
        startApplet(applet, row.firmware);
        EXPECT_EQ(applet.send(row.message, row.wParam, 0), 0);
        if (!row.reports.empty()) {
            ASSERT_TRUE(simulator.waitForReports(row.reports.size(), WAIT_MS, switchId));
        }
        if (row.draws) {
            ASSERT_TRUE(debug.waitForLine(applet.pid(), DRAWING_LINE, WAIT_MS));
        }
        // Nothing more comes: no loop, or no second one, says it draws in the
        // time one takes to start.
        debug.waitForQuiet(500);
        EXPECT_EQ(reportsNow(), row.reports);
        std::vector<std::string> lines = linesNow(applet);
        if (row.line != nullptr) {
            EXPECT_EQ(CountOf(lines, row.line), 1);
        }
        EXPECT_EQ(CountOf(lines, DRAWING_LINE), row.draws ? 1 : 0);
        simulator.unplug(switchId, SIM_NOTIFY_NONE);
        debug.clear();
    }
}

TEST_F(BorderTest, BorderOnWhileOnReportsAgainWithoutASecondLoopAndOffEndsItAtOnce)
{
    AppletProcess applet;
    startApplet(applet);
    applet.post(TURN_BORDER_ON);
    ASSERT_TRUE(debug.waitForLine(applet.pid(), DRAWING_LINE, WAIT_MS));
    applet.post(TURN_BORDER_ON);
    ASSERT_TRUE(simulator.waitForReports(2, WAIT_MS, switchId));
    // Nothing more comes: no second loop starts drawing.
    debug.waitForQuiet(500);
    EXPECT_EQ(loopsRunning(applet), 1);

    // Optimize Display while the border shows does nothing at all.
    applet.send(WM_COMMAND, OPTIMIZE_DISPLAY_COMMAND);
    EXPECT_EQ(reportsNow(), (std::vector<std::string>{BORDER_ON_REPORT, BORDER_ON_REPORT}));

    DWORD offAt = GetTickCount();
    applet.post(TURN_BORDER_OFF);
    ASSERT_TRUE(debug.waitForLine(applet.pid(), GOING_OFF_LINE, WAIT_MS));
    EXPECT_LT(GetTickCount() - offAt, GOING_OFF_WITHIN_MS);
    // The loop can tell of its end before the main thread has told the switch.
    EXPECT_TRUE(simulator.waitForReports(3, WAIT_MS, switchId));
    EXPECT_EQ(reportsNow(), (std::vector<std::string>{BORDER_ON_REPORT, BORDER_ON_REPORT, BORDER_OFF_REPORT}));
    EXPECT_EQ(loopsRunning(applet), 0);
    // DirectDraw's answer is written once per loop, whatever it was.
    EXPECT_EQ(CountStartingWith(linesNow(applet), RETURN_WAS_PREFIX), 1);
}

TEST_F(BorderTest, SlashOOptimizesAtStartUpAndTheBorderStaysUntilTurnedOff)
{
    StoreChoice(L"NumDisplays", std::to_wstring(GetSystemMetrics(SM_CMONITORS)));
    switchId = simulator.add(SwitchInterface(0x5A04, DISPLAY_FIRMWARE, 8));
    AppletProcess applet(L"/o");
    ASSERT_TRUE(applet.start());
    ASSERT_NE(applet.waitForWindow(), nullptr);
    ASSERT_TRUE(debug.waitForLine(applet.pid(), DRAWING_LINE, WAIT_MS));
    ASSERT_TRUE(simulator.waitForReports(2, WAIT_MS, switchId));
    // The switch report of start-up (the mute state) may come after these two.
    std::vector<std::string> reports = reportsNow();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports[0], NO_RESOLUTION_REPORT);
    EXPECT_EQ(reports[1], OPTIMIZE_BORDER_REPORT);

    // Started before its stop event existed, the loop still obeys it
    // afterwards; nothing ends it meanwhile.
    Sleep(1500);
    EXPECT_EQ(loopsRunning(applet), 1);
    applet.post(TURN_BORDER_OFF);
    ASSERT_TRUE(debug.waitForLine(applet.pid(), GOING_OFF_LINE, WAIT_MS));
    EXPECT_EQ(loopsRunning(applet), 0);
}

// Twenty quick on, off, on requests: every loop but the last one ends, and
// that one ends when the border is turned off. (Each loop sets up DirectDraw
// first, which under Wine without a graphics card takes most of a second of
// processor time: twenty-one loops make the point at a bearable cost.)
TEST_F(BorderTest, QuickRequestsLeaveExactlyOneLoopDrawing)
{
    int const ROUNDS = 20;
    AppletProcess applet;
    startApplet(applet);
    for (int round = 0; round < ROUNDS; ++round) {
        applet.post(TURN_BORDER_ON);
        applet.post(TURN_BORDER_OFF);
        applet.post(TURN_BORDER_ON);
    }
    ASSERT_TRUE(simulator.waitForReports(3 * ROUNDS, 30000, switchId));
    EXPECT_TRUE(waitForLoops(applet, ROUNDS + 1, 1)) << "one loop per border started, and one left drawing";
    // Nothing more comes: no loop beyond one per border started.
    debug.waitForQuiet(500);
    std::vector<std::string> lines = linesNow(applet);
    EXPECT_EQ(CountOf(lines, DRAWING_LINE), ROUNDS + 1) << "one loop per border started";
    EXPECT_EQ(loopsRunning(applet), 1);

    applet.post(TURN_BORDER_OFF);
    ASSERT_TRUE(simulator.waitForReports(3 * ROUNDS + 1, WAIT_MS, switchId));
    EXPECT_TRUE(waitForLoops(applet, ROUNDS + 1, 0, WAIT_MS));
    EXPECT_EQ(loopsRunning(applet), 0);
}

// While the border shows, a display change or the switch coming back draws it anew round the monitor as
// it is now, one loop taking the other's place. Closing then wipes the frame and tells the switch the
// border is off, before the exit's own switch report.
TEST_F(BorderTest, TheShowingBorderIsDrawnAnewAfterChangesAndEndedAtExit)
{
    SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoAudioKestrel", 1);
    SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoButtonKestrel", 1);
    SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnExit", 1);
    AppletProcess applet;
    startApplet(applet);
    applet.post(TURN_BORDER_ON);
    ASSERT_TRUE(debug.waitForLine(applet.pid(), DRAWING_LINE, WAIT_MS));
    applet.send(WM_DISPLAYCHANGE, 32);
    // Its reports reach the switch before the switch goes away. Under Wine the
    // new loop's DirectDraw set-up can hold the display settings, which the
    // resolution report reads, for seconds on a busy machine.
    ASSERT_TRUE(simulator.waitForReports(3, 30000, switchId));
    simulator.unplug(switchId);
    simulator.plug(switchId);
    // Border on; resolution and border; the greeting and the resolution.
    ASSERT_TRUE(simulator.waitForReports(5, WAIT_MS, switchId));
    EXPECT_TRUE(waitForLoops(applet, 3, 1)) << "three loops drawn in turn, one left drawing";
    debug.waitForQuiet(500);  // nothing more comes: no fourth loop
    EXPECT_EQ(CountOf(linesNow(applet), DRAWING_LINE), 3);
    EXPECT_EQ(loopsRunning(applet), 1);

    simulator.clearReports();
    applet.post(WM_COMMAND, 105);
    ASSERT_TRUE(applet.waitForExit(WAIT_MS));
    EXPECT_EQ(reportsNow(), (std::vector<std::string>{BORDER_OFF_REPORT, "01 06 00 00 00 00 00 00"}));
    EXPECT_EQ(loopsRunning(applet), 0) << "the frame was left on the screen";
}

// Wine loads no DirectDraw into the applet while this lives (Wine takes a
// program's DLL overrides from this key when the program starts).
class NoDirectDrawForTheApplet {
public:
    NoDirectDrawForTheApplet()
    {
        RemoveKey();
        SetRegistryValue(HKEY_CURRENT_USER, OVERRIDES_KEY, L"ddraw", REG_SZ, L"", sizeof(wchar_t));
    }
    ~NoDirectDrawForTheApplet() { RemoveKey(); }

private:
    static void RemoveKey() { DeleteRegistryTree(HKEY_CURRENT_USER, OVERRIDES_KEY); }
    static constexpr const wchar_t *OVERRIDES_KEY = L"Software\\Wine\\AppDefaults\\VarnelKVM.exe\\DllOverrides";
};

// Without DirectDraw the border is drawn and stops on request all the same,
// paced by a sleep instead of the monitor.
TEST_F(BorderTest, WithoutDirectDrawTheBorderStillDrawsAndStops)
{
    NoDirectDrawForTheApplet noDirectDraw;
    AppletProcess applet;
    startApplet(applet);

    applet.post(TURN_BORDER_ON);
    ASSERT_TRUE(debug.waitForLine(applet.pid(), DRAWING_LINE, WAIT_MS));
    // Nothing ends the loop meanwhile.
    Sleep(500);
    EXPECT_EQ(loopsRunning(applet), 1);
    DWORD offAt = GetTickCount();
    applet.post(TURN_BORDER_OFF);
    ASSERT_TRUE(debug.waitForLine(applet.pid(), GOING_OFF_LINE, WAIT_MS));
    EXPECT_LT(GetTickCount() - offAt, GOING_OFF_WITHIN_MS);
    std::vector<std::string> lines = linesNow(applet);
    EXPECT_EQ(CountStartingWith(lines, RETURN_WAS_PREFIX), 0) << "DirectDraw was loaded after all";
    EXPECT_TRUE(applet.running());
}

TEST_F(BorderTest, ResolutionReportFollowsTheStoredChoiceAndKeepsTheLastMatch)
{
    MONITORINFOEXW primary = {};
    primary.cbSize = sizeof(primary);
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &primary);
    std::string primaryResolution = ResolutionReportText(primary.rcMonitor.right - primary.rcMonitor.left,
                                                         primary.rcMonitor.bottom - primary.rcMonitor.top);
    std::wstring lowerCase = primary.szDevice;
    for (wchar_t &c : lowerCase)
        c = towlower(c);

    struct Row {
        const char *name;
        std::wstring stored;   // empty: nothing stored
        std::string resolution;
    };
    std::vector<Row> const rows = {
        {"nothing stored yet", L"", NO_RESOLUTION_REPORT},
        {"the name in other letter case", lowerCase, NO_RESOLUTION_REPORT},
        {"the primary monitor's name", primary.szDevice, primaryResolution},
        {"a monitor that is gone: the last match stays", L"\\\\.\\DISPLAY9", primaryResolution},
        {"nothing stored any more: the last match stays", L"", primaryResolution},
    };
    AppletProcess applet;
    startApplet(applet);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.stored.empty())
            ForgetChoice();
        else
            StoreChoice(L"DefaultDisplay", row.stored);
        ASSERT_TRUE(simulator.catchUp());
        simulator.clearReports();
        applet.send(WM_COMMAND, OPTIMIZE_DISPLAY_COMMAND);
        ASSERT_TRUE(simulator.waitForReports(2, WAIT_MS, switchId));
        std::vector<std::string> reports = reportsNow();
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(reports[0], row.resolution);
        applet.send(TURN_BORDER_OFF);
        // A busy machine can deliver the off report after the next row's quiet.
        ASSERT_TRUE(simulator.waitForReports(3, WAIT_MS, switchId)) << "no border-off report";
    }
}

// The first start with a display switch asks which monitor is on it. OK is
// pressed while another program has stopped answering: the applet neither
// waits for that program nor hands other programs the prompts' message, and
// stores the monitor under the prompt. The next start does not ask again.
TEST_F(BorderTest, OkInTheStartUpPromptStoresTheMonitorWithoutWaitingForOtherPrograms)
{
    MONITORINFOEXW primary = {};
    primary.cbSize = sizeof(primary);
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &primary);
    switchId = simulator.add(SwitchInterface(0x5A04, DISPLAY_FIRMWARE, 8));
    Bystander hung(true);
    Bystander listening(false);
    {
        AppletProcess applet;
        ASSERT_TRUE(applet.start());
        ASSERT_NE(applet.waitForWindow(), nullptr);
        ASSERT_TRUE(WaitForPrompts(applet.pid(), GetSystemMetrics(SM_CMONITORS), WAIT_MS));
        ASSERT_TRUE(applet.waitForStartUp(debug));
        ASSERT_TRUE(simulator.catchUp());
        simulator.clearReports();
        PostMessageW(PromptWindows(applet.pid()).front(), WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitForPrompts(applet.pid(), 0, WAIT_MS));
        EXPECT_TRUE(WaitUntil("the choice stored", [] { return !StoredValue(L"NumDisplays").empty(); }));
        // A message posted now is handled only if the main thread is not
        // waiting for the program that has stopped answering.
        applet.post(TURN_BORDER_ON);
        EXPECT_TRUE(simulator.waitForReports(1, 3000, switchId)) << "the applet is stuck";
        EXPECT_EQ(StoredValue(L"DefaultDisplay"), TextBytes(primary.szDevice));
        EXPECT_EQ(StoredValue(L"NumDisplays"), TextBytes(std::to_wstring(GetSystemMetrics(SM_CMONITORS))));
        EXPECT_EQ(listening.closeMessagesSeen(), 0) << "another program was sent the prompts' message";
    }
    AppletProcess again;
    ASSERT_TRUE(again.start());
    ASSERT_NE(again.waitForWindow(), nullptr);
    ASSERT_TRUE(again.waitForStartUp(debug));
    EXPECT_TRUE(PromptWindows(again.pid()).empty());
}

}  // namespace
