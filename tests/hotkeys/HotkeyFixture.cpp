#include "HotkeyFixture.h"

#include <algorithm>

std::string const SWITCH_LINE = "SWITCH!!!\n";
std::string const VIDEO_LINE = "VIDSW!!!\n";
std::string const OPTIMIZE_LINE = "Optimize Hotkey Hit\n";
size_t const SWITCH_REPORT_BYTES = 8;
DWORD const REPORT_TIMEOUT_MS = 5000;

const char *SentName(Sent sent)
{
    switch (sent) {
    case SENT_NOTHING: return "nothing";
    case SENT_ALL: return "switch all";
    case SENT_VIDEO: return "switch video";
    }
    return "?";
}

std::vector<BYTE> ExpectedSwitchReport(Sent sent, DWORD muteState)
{
    BYTE const command = sent == SENT_ALL ? SWITCH_ALL : sent == SENT_VIDEO ? SWITCH_VIDEO : SWITCH_NONE;
    std::vector<BYTE> report(SWITCH_REPORT_BYTES, 0);
    report[0] = 1;
    report[1] = (BYTE)(command * 2 | (muteState & 1));
    return report;
}

static SimulatedSwitch *testSwitch = nullptr;

SimulatedSwitch &TestSwitch()
{
    if (testSwitch == nullptr) {
        testSwitch = new SimulatedSwitch();
        testSwitch->add(SwitchInterface(0x5A01, 0x0300));
    }
    return *testSwitch;
}

// The switch's serving thread is ended with the tests, not left to the
// process's exit: Wine 8 sometimes crashes the whole process (SIGSEGV in its
// own thread teardown) when it has to kill a thread waiting in the server.
class TestSwitchEnvironment : public testing::Environment {
public:
    void TearDown() override
    {
        delete testSwitch;
        testSwitch = nullptr;
    }
};
[[maybe_unused]] static testing::Environment *const testSwitchEnvironment =
    testing::AddGlobalTestEnvironment(new TestSwitchEnvironment);

// The applet's code reaches the simulated switch only through the stand-in DLLs.
static bool StandInsLoaded()
{
    for (const wchar_t *name : {L"setupapi.dll", L"hid.dll"}) {
        HMODULE module = GetModuleHandleW(name);
        if (module == nullptr || GetProcAddress(module, "SimSwitchStandIn") == nullptr)
            return false;
    }
    return true;
}

void HotkeyFixture::SetUp()
{
    ASSERT_TRUE(StandInsLoaded()) << "run with tests/simswitch/wine-run-with-stand-ins";
    ASSERT_TRUE(TestSwitch().running());
    ReleaseModifiers();
    appState = AppState();
    // As start-up reads it: it picks how the switch is matched among the HID interfaces.
    GetVersionExW((OSVERSIONINFOW *)&appState.osVersion);
    // The border already shows, so a completed optimize sequence ("Optimize
    // Hotkey Hit") goes no further: OptimizeDisplay then neither draws, nor
    // writes to the switch, nor probes it (which would read firmware 3 back).
    appState.borderOn = 1;
    // As start-up leaves them with both sequences enabled.
    appState.sequenceTimerId = StartThreadTimer(SEQUENCE_TIMER, SEQUENCE_TIMER);
    appState.optimizeTimerId = StartThreadTimer(OPTIMIZE_TIMER, OPTIMIZE_TIMER);
    ASSERT_NE(appState.sequenceTimerId, 0u);
    ASSERT_NE(appState.optimizeTimerId, 0u);
}

void HotkeyFixture::TearDown()
{
    StopThreadTimer(&appState.sequenceTimerId);
    StopThreadTimer(&appState.optimizeTimerId);
    StopThreadTimer(&appState.altDelayTimerId);
    ReleaseModifiers();
}

void HotkeyFixture::setFirmwareMajor(BYTE major)
{
    appState.deviceAttributes.VersionNumber = MAKEWORD(0, major);
    appState.deviceAttributes.ProductID = major != 0 ? 0x5A03 : 0;
}

void HotkeyFixture::beginRow()
{
    EXPECT_TRUE(TestSwitch().catchUp());
    TestSwitch().clearReports();
    enumerationsAtRow_ = TestSwitch().hidEnumerations();
    lines_.mark();
    rowLinesRead_ = false;
}

const std::vector<std::string> &HotkeyFixture::rowLines()
{
    if (!rowLinesRead_) {
        rowLines_ = lines_.sinceMark();
        rowLinesRead_ = true;
    }
    return rowLines_;
}

void HotkeyFixture::expectSent(Sent expected)
{
    SCOPED_TRACE(std::string("expected to send: ") + SentName(expected));
    const std::vector<std::string> &lines = rowLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), SWITCH_LINE), expected == SENT_ALL ? 1 : 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), VIDEO_LINE), expected == SENT_VIDEO ? 1 : 0);

    SimulatedSwitch &simulated = TestSwitch();
    if (expected == SENT_NOTHING) {
        // The switch is looked for on the main thread before anything is written.
        EXPECT_EQ(simulated.hidEnumerations(), enumerationsAtRow_) << "the switch was looked for";
        EXPECT_TRUE(simulated.writes().empty());
        return;
    }
    ASSERT_TRUE(simulated.waitForReports(1, REPORT_TIMEOUT_MS)) << "nothing reached the switch";
    // The applet's code writes in this process: what it wrote is in once the switch catches up.
    ASSERT_TRUE(simulated.catchUp());
    std::vector<SimReport> reports = simulated.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(HexBytes(reports[0].bytes), HexBytes(ExpectedSwitchReport(expected, appState.muteState)));
}

void HotkeyFixture::expectOptimized(int times)
{
    const std::vector<std::string> &lines = rowLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), OPTIMIZE_LINE), times);
}
