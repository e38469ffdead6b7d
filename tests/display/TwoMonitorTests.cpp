// Two monitors, on a desktop of this test's own (wine-run-on-two-monitors):
// Xvfb's Xinerama gives Wine \\.\DISPLAY1, 1024x768, and \\.\DISPLAY2,
// 800x600, both with their top left corner at 0,0 (Xvfb cannot place its
// screens side by side), so the second lies inside the first.
#include "AppletProcess.h"
#include "DebugListener.h"
#include "DisplayTestSupport.h"
#include "FrameSurface.h"
#include "Registry.h"
#include "SimulatedSwitch.h"
#include "Wait.h"
#include "display/Display.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

USHORT const DISPLAY_FIRMWARE = 0x0400;
const wchar_t FIRST[] = L"\\\\.\\DISPLAY1";
const wchar_t SECOND[] = L"\\\\.\\DISPLAY2";
RECT const FIRST_AREA = {0, 0, 1024, 768};
RECT const SECOND_AREA = {0, 0, 800, 600};

struct Monitor {
    std::wstring device;
    RECT area;
    RECT work;
};

BOOL CALLBACK CollectMonitor(HMONITOR monitor, HDC, RECT *, LPARAM list)
{
    MONITORINFOEXW info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    ((std::vector<Monitor> *)list)->push_back({info.szDevice, info.rcMonitor, info.rcWork});
    return TRUE;
}

std::vector<Monitor> Monitors()
{
    std::vector<Monitor> monitors;
    EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, (LPARAM)&monitors);
    return monitors;
}

bool SameRect(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The prompt centred in the given work area, among the process's prompts.
HWND PromptCentredIn(DWORD processId, const RECT &work)
{
    for (HWND prompt : PromptWindows(processId)) {
        RECT area = {};
        GetWindowRect(prompt, &area);
        int width = area.right - area.left, height = area.bottom - area.top;
        if (area.left == work.left + ((work.right - work.left) - width) / 2 &&
            area.top == work.top + ((work.bottom - work.top) - height) / 2)
            return prompt;
    }
    return nullptr;
}

class TwoMonitors : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<Monitor> monitors = Monitors();
        ASSERT_EQ(monitors.size(), 2u) << "this test runs through wine-run-on-two-monitors";
        ASSERT_EQ(monitors[0].device, FIRST);
        ASSERT_TRUE(SameRect(monitors[0].area, FIRST_AREA));
        ASSERT_EQ(monitors[1].device, SECOND);
        ASSERT_TRUE(SameRect(monitors[1].area, SECOND_AREA));
        first = monitors[0];
        second = monitors[1];
        switchId = simulator.add(SwitchInterface(0x5A04, DISPLAY_FIRMWARE, 8));
    }

    // Start-up is over, its prompts shown if any, and its reports and lines
    // are in when this returns.
    void start(AppletProcess &applet)
    {
        ASSERT_TRUE(applet.start());
        ASSERT_NE(applet.waitForWindow(), nullptr);
        ASSERT_TRUE(applet.waitForStartUp(debug));
        ASSERT_TRUE(simulator.hasClient(applet.pid())) << "the applet did not load the stand-in DLLs";
        ASSERT_TRUE(simulator.catchUp());
        ASSERT_TRUE(debug.catchUp());
    }

    CleanRegistry registry;
    DebugListener debug;
    SimulatedSwitch simulator;
    int switchId = -1;
    Monitor first, second;
};

// A prompt on each monitor; OK on one closes both and stores its monitor and
// the count. The next start does not ask; a start with another number of
// monitors than the one stored (as when a third is plugged in) asks again.
TEST_F(TwoMonitors, APromptOnEachAndOkOnOneStoresItsMonitorUntilTheMonitorsChange)
{
    {
        AppletProcess applet;
        start(applet);
        ASSERT_TRUE(WaitForPrompts(applet.pid(), 2, WAIT_MS));
        HWND onFirst = PromptCentredIn(applet.pid(), first.work);
        HWND onSecond = PromptCentredIn(applet.pid(), second.work);
        ASSERT_NE(onFirst, nullptr);
        ASSERT_NE(onSecond, nullptr);
        ASSERT_NE(onFirst, onSecond);
        PostMessageW(onFirst, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitForPrompts(applet.pid(), 0, WAIT_MS));
        EXPECT_EQ(StoredValue(L"DefaultDisplay"), TextBytes(FIRST));
        EXPECT_EQ(StoredValue(L"NumDisplays"), TextBytes(L"2"));
    }
    {
        AppletProcess applet;
        start(applet);
        EXPECT_TRUE(PromptWindows(applet.pid()).empty()) << "asked again with the same monitors";
    }
    StoreChoice(L"NumDisplays", L"3");
    {
        AppletProcess applet;
        start(applet);
        EXPECT_TRUE(WaitForPrompts(applet.pid(), 2, WAIT_MS)) << "not asked with another number of monitors";
    }
}

// The user drags the second monitor's prompt to where only the first monitor
// is, and presses OK there: the first one is stored.
TEST_F(TwoMonitors, APromptMovedOntoTheOtherMonitorStoresThatOne)
{
    AppletProcess applet;
    start(applet);
    ASSERT_TRUE(WaitForPrompts(applet.pid(), 2, WAIT_MS));
    HWND onSecond = PromptCentredIn(applet.pid(), second.work);
    ASSERT_NE(onSecond, nullptr);
    // Right of the second monitor's 800 pixels: on the first monitor only.
    SetWindowPos(onSecond, nullptr, 820, 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT moved = {};
    GetWindowRect(onSecond, &moved);
    ASSERT_GE(moved.left, SECOND_AREA.right);
    PostMessageW(onSecond, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitForPrompts(applet.pid(), 0, WAIT_MS));
    EXPECT_EQ(StoredValue(L"DefaultDisplay"), TextBytes(FIRST));
}

// The switch is told the size of the monitor that is on it, the second one
// included (not the size of the primary monitor); a name in another letter
// case names no monitor.
TEST_F(TwoMonitors, TheResolutionReportIsTheChosenMonitorsOwnSize)
{
    StoreChoice(L"NumDisplays", L"2");
    AppletProcess applet;
    start(applet);
    struct Row {
        const char *name;
        std::wstring stored;
        std::string resolution;
    };
    std::vector<Row> const rows = {
        {"the second in lower case", L"\\\\.\\display2", "03 03 00 00 00 00 00 00"},
        {"the second", SECOND, ResolutionReportText(800, 600)},
        {"the first", FIRST, ResolutionReportText(1024, 768)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        StoreChoice(L"DefaultDisplay", row.stored);
        ASSERT_TRUE(simulator.catchUp());
        simulator.clearReports();
        applet.send(WM_COMMAND, OPTIMIZE_DISPLAY_COMMAND);
        ASSERT_TRUE(simulator.waitForReports(2, WAIT_MS, switchId));
        std::vector<std::string> reports = HexReports(simulator, switchId);
        EXPECT_EQ(reports[0], row.resolution);
        EXPECT_EQ(reports[1], OPTIMIZE_BORDER_REPORT);
        applet.send(TURN_BORDER_OFF);
    }
}

// With two monitors and none of them chosen, no loop draws, yet the border
// counts as on until it is turned off.
TEST_F(TwoMonitors, WithNoMonitorChosenNothingIsDrawnButTheBorderIsReportedOn)
{
    StoreChoice(L"NumDisplays", L"2");
    StoreChoice(L"DefaultDisplay", L"\\\\.\\display1");
    AppletProcess applet;
    start(applet);
    simulator.clearReports();
    applet.post(TURN_BORDER_ON);
    applet.post(TURN_BORDER_ON);
    ASSERT_TRUE(simulator.waitForReports(2, WAIT_MS, switchId));
    // Nothing is drawn: no loop says so in the time one takes to start drawing.
    debug.waitForQuiet(1000);
    EXPECT_EQ(HexReports(simulator, switchId), (std::vector<std::string>{BORDER_ON_REPORT, BORDER_ON_REPORT}));
    EXPECT_EQ(CountOf(debug.linesFrom(applet.pid()), DRAWING_LINE), 0);
}

// The loop's own drawing, on a memory surface the size of the first monitor:
// the frame goes round the chosen monitor only.
TEST(TwoMonitorFrame, TheFrameGoesRoundTheChosenMonitorOnly)
{
    ASSERT_EQ(GetSystemMetrics(SM_CMONITORS), 2) << "this test runs through wine-run-on-two-monitors";
    CleanRegistry registry;
    struct Row {
        const char *name;
        const wchar_t *stored;   // null: nothing stored
        bool draws;
        RECT frame;
    };
    Row const rows[] = {
        {"the second", SECOND, true, SECOND_AREA},
        {"the first", FIRST, true, FIRST_AREA},
        {"nothing stored", nullptr, false, {}},
        {"the first in lower case", L"\\\\.\\display1", false, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CleanRegistry::RemoveAll();
        if (row.stored != nullptr)
            StoreChoice(L"DefaultDisplay", row.stored);
        FrameSurface surface(FIRST_AREA.right, FIRST_AREA.bottom);
        LoopOutcome outcome = DrawBorderOnSurface(surface, row.draws ? 3000 : 500);
        EXPECT_TRUE(outcome.ended);
        EXPECT_EQ(outcome.drewSomething, row.draws);
        // The enumeration stops at the monitor drawn on and goes through them all otherwise.
        EXPECT_EQ(outcome.result, row.draws ? FALSE : TRUE);
        if (row.draws) {
            EXPECT_EQ(FrameMismatches(surface, row.frame), "");
        }
    }
}

}  // namespace
