// The Options dialog driven through its controls, as the user clicks them:
// what it shows at opening, how the two hotkey groups answer clicks, what OK
// writes and restarts, and that Cancel leaves every setting as it was.
#include "DialogDriver.h"
#include "Wait.h"
#include "Registry.h"
#include "dialogs/Dialogs.h"
#include "shell/Shell.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

USHORT const FIRMWARE_4 = 0x0400;
USHORT const FIRMWARE_3 = 0x0301;
DWORD const THREE_KEYS = 0xFFFFFFFF;
// Every control whose state the tables look at: both hotkey groups, then the rest.
int const WATCHED[] = {1002, 1007, 1004, 1005, 1003, 1010, 1011, 1012, 1013, 1014,
                       1006, 1008, 1015, 1016, 1017, 32781};

class OptionsTest : public ::testing::Test {
protected:
    CleanRegistry registry;

    void SetUp() override
    {
        appState = AppState();
        appState.instance = GetModuleHandleW(nullptr);
        appState.osVersion.dwMajorVersion = 6;
        appState.osVersion.dwMinorVersion = 1;
        LoadUiString(IDS_PRODUCT_NAME, appState.windowTitle);
        switchFirmware(FIRMWARE_4);
    }

    void TearDown() override { StopThreadTimer(&appState.sequenceTimerId); }

    void switchFirmware(USHORT version)
    {
        appState.deviceAttributes.ProductID = 0x5A01;
        appState.deviceAttributes.VersionNumber = version;
    }

    // Opens Options as the tray command does and runs `script` in it; the
    // script ends it. False when no dialog came up or the script left it open.
    bool options(const std::function<void(HWND)> &script)
    {
        DialogRun run = DriveModalDialog([] { ShowOptionsDialog(nullptr); }, script);
        return run.appeared && run.closedByScript;
    }

    // "id:state" of every watched control that is not plain (unchecked, enabled, visible).
    static std::vector<std::string> States(HWND dialog)
    {
        std::vector<std::string> states;
        for (int control : WATCHED) {
            std::string state = ControlState(dialog, control);
            if (!state.empty())
                states.push_back(std::to_string(control) + ":" + state);
        }
        return states;
    }

    // Every value of the settings key as "name=value".
    static std::vector<std::string> SettingsWritten()
    {
        std::vector<std::string> values;
        for (const std::wstring &name : RegistryValueNames(HKEY_CURRENT_USER, SETTINGS_KEY)) {
            auto value = ReadRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, name.c_str());
            values.push_back(std::string(name.begin(), name.end()) + "=" +
                             (value ? std::to_string((long)(LONG)*value) : "?"));
        }
        std::sort(values.begin(), values.end());
        return values;
    }
};

typedef std::vector<std::string> StateList;

// One monitor here: "Select My Primary Monitor" stays disabled in every row.
TEST_F(OptionsTest, AtOpeningTheControlsShowTheStoredSettings)
{
    struct Row {
        const char *name;
        USHORT firmware;
        DWORD enableKeys, activeKey, enableOptimize, activeKeyOptimize, noAudio, noButton;
        StateList expected;
    } const rows[] = {
        {"defaults, firmware 4", FIRMWARE_4, 1, 17, 1, 145, 0, 0,
         {"1002:checked", "1007:checked", "1010:checked", "1011:disabled", "1013:checked", "1006:checked",
          "1008:disabled", "1015:checked", "1016:hidden", "1017:hidden"}},
        {"switching off: the optimize group offers every key", FIRMWARE_4, 0, 144, 1, 17, 0, 0,
         {"1007:disabled", "1004:checked,disabled", "1005:disabled", "1003:disabled", "1010:checked",
          "1011:checked", "1006:checked", "1008:disabled", "1015:checked", "1016:hidden", "1017:hidden"}},
        {"optimize off, three keys, an unknown optimize key", FIRMWARE_4, 1, THREE_KEYS, 0, 99, 0, 0,
         {"1002:checked", "1003:checked", "1011:disabled", "1012:disabled", "1013:disabled",
          "1014:checked,disabled", "1006:checked", "1008:disabled", "1015:checked", "1016:hidden",
          "1017:hidden"}},
        {"firmware 3: no optimize group", FIRMWARE_3, 1, 145, 1, 145, 0, 0,
         {"1002:checked", "1005:checked", "1010:missing", "1011:missing", "1012:missing", "1013:missing",
          "1014:missing", "1006:checked", "1008:missing", "1015:checked", "1016:hidden", "1017:hidden"}},
        {"no audio: no ALT note", FIRMWARE_3, 1, 17, 1, 145, 1, 0,
         {"1002:checked", "1007:checked", "1010:missing", "1011:missing", "1012:missing", "1013:missing",
          "1014:missing", "1006:checked", "1008:missing", "1015:checked", "1016:hidden", "1017:hidden",
          "32781:hidden"}},
        {"the variant that switches on exit and shutdown", FIRMWARE_4, 1, 17, 1, 145, 1, 1,
         {"1002:checked", "1007:checked", "1010:checked", "1011:disabled", "1013:checked", "1006:checked",
          "1008:disabled", "1015:checked", "1017:checked", "32781:hidden"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        switchFirmware(row.firmware);
        appState.enableKeys = row.enableKeys;
        appState.activeKey = row.activeKey;
        appState.enableKeysOptimize = row.enableOptimize;
        appState.activeKeyOptimize = row.activeKeyOptimize;
        appState.noAudio = row.noAudio;
        appState.noButton = row.noButton;
        appState.switchOnShutdown = 1;
        StateList seen;
        EXPECT_TRUE(options([&](HWND dialog) {
            seen = States(dialog);
            Click(dialog, IDCANCEL);
        }));
        EXPECT_EQ(seen, row.expected);
    }
}

// The optimize group never offers the switching key: picking a switching key
// moves the optimize selection off it; optimize clicks leave switching alone.
TEST_F(OptionsTest, ClickingASwitchingKeyTakesItFromTheOptimizeGroup)
{
    struct Row {
        const char *name;
        DWORD activeKey, activeKeyOptimize;
        std::vector<int> clicks;
        StateList expected;   // of the two radio groups only
    } const rows[] = {
        {"Scroll Lock taken: Control - Control instead", 17, 145, {1005},
         {"1005:checked", "1011:checked", "1013:disabled"}},
        {"Control - Control taken: Scroll Lock instead", 145, 17, {1007},
         {"1007:checked", "1011:disabled", "1013:checked"}},
        {"NumLock taken: Scroll Lock instead", 17, 144, {1004}, {"1004:checked", "1012:disabled", "1013:checked"}},
        {"three keys taken: Scroll Lock instead", 17, THREE_KEYS, {1003},
         {"1003:checked", "1013:checked", "1014:disabled"}},
        {"another key: the selection stays, the old key is offered again", 17, 145, {1004},
         {"1004:checked", "1012:disabled", "1013:checked"}},
        {"an optimize click changes no switching key", 17, 145, {1012},
         {"1007:checked", "1011:disabled", "1012:checked"}},
        {"an enable check box puts both groups back to the stored keys", 17, 145, {1004, 1014, 1010, 1010},
         {"1007:checked", "1011:disabled", "1013:checked"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        appState.activeKey = row.activeKey;
        appState.activeKeyOptimize = row.activeKeyOptimize;
        StateList seen;
        EXPECT_TRUE(options([&](HWND dialog) {
            for (int control : row.clicks)
                EXPECT_TRUE(Click(dialog, control)) << "cannot click " << control;
            for (const std::string &state : States(dialog)) {
                int control = std::stoi(state);
                if (control >= 1003 && control <= 1014 && control != 1006 && control != 1008 && control != 1009 &&
                    control != 1010 && control != 1002)
                    seen.push_back(state);
            }
            Click(dialog, IDCANCEL);
        }));
        EXPECT_EQ(seen, row.expected);
    }
}

// OK stores the radio choices and the check boxes, and writes every setting.
TEST_F(OptionsTest, OkWritesTheSettingsInBothLayouts)
{
    struct Row {
        const char *name;
        USHORT firmware;
        DWORD noAudio, noButton;
        std::vector<int> clicks;
        std::vector<std::string> expected;
        // A device notice or a report changes the switch's identity while the dialog is open.
        std::function<void()> whileOpen = [] {};
    } const rows[] = {
        {"firmware 4: three keys, NumLock to optimize, no start-up", FIRMWARE_4, 0, 0, {1003, 1012, 1015},
         {"ActiveKey=-1", "ActiveKey_Optimize=144", "EnableKeys=1", "EnableKeys_Optimize=1", "RunOnStartupKey=0"}},
        {"firmware 4: both hotkeys off", FIRMWARE_4, 0, 0, {1002, 1010},
         {"ActiveKey=17", "ActiveKey_Optimize=145", "EnableKeys=0", "EnableKeys_Optimize=0", "RunOnStartupKey=1"}},
        {"firmware 3: switching off leaves the optimize settings as they were", FIRMWARE_3, 0, 0, {1005, 1002},
         {"ActiveKey=17", "ActiveKey_Optimize=145", "EnableKeys=0", "EnableKeys_Optimize=1", "RunOnStartupKey=1"}},
        {"the switch-on-exit variant", FIRMWARE_3, 1, 1, {1004, 1016, 1017},
         {"ActiveKey=144", "ActiveKey_Optimize=145", "EnableKeys=1", "EnableKeys_Optimize=1", "RunOnStartupKey=1",
          "kestrelOnExit=1", "kestrelOnShutdown=0"}},
        {"no audio alone: no switch-on values", FIRMWARE_3, 1, 0, {},
         {"ActiveKey=17", "ActiveKey_Optimize=145", "EnableKeys=1", "EnableKeys_Optimize=1", "RunOnStartupKey=1"}},
        {"opened for firmware 3, then firmware 4 is met", FIRMWARE_3, 0, 0, {},
         {"ActiveKey=17", "ActiveKey_Optimize=145", "EnableKeys=1", "EnableKeys_Optimize=1", "RunOnStartupKey=1"},
         [this] { switchFirmware(FIRMWARE_4); }},
        {"opened for firmware 4, then the switch is gone", FIRMWARE_4, 0, 0, {1003, 1012},
         {"ActiveKey=-1", "ActiveKey_Optimize=144", "EnableKeys=1", "EnableKeys_Optimize=1", "RunOnStartupKey=1"},
         [this] { switchFirmware(0); }},
        {"opened without the switch-on boxes, then a no-audio switch makes the variant", FIRMWARE_3, 0, 1, {},
         {"ActiveKey=17", "ActiveKey_Optimize=145", "EnableKeys=1", "EnableKeys_Optimize=1", "RunOnStartupKey=1"},
         [] { appState.noAudio = 1; }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CleanRegistry::RemoveAll();
        appState = AppState();
        SetUp();
        switchFirmware(row.firmware);
        appState.noAudio = row.noAudio;
        appState.noButton = row.noButton;
        appState.switchOnShutdown = 1;
        EXPECT_TRUE(options([&](HWND dialog) {
            row.whileOpen();
            for (int control : row.clicks)
                EXPECT_TRUE(Click(dialog, control)) << "cannot click " << control;
            Click(dialog, IDOK);
        }));
        EXPECT_EQ(SettingsWritten(), row.expected);
    }
}

// Cancel, Escape and the close box leave every setting as it was at opening; OK
// keeps the clicks. Before OK none is in effect: an exit then must not act on it.
TEST_F(OptionsTest, CancelLeavesEverySettingAsItWas)
{
    struct Row {
        const char *name;
        std::function<void(HWND)> close;
        DWORD runOnStartup, switchOnExit, switchOnShutdown, enableKeys;
    } const rows[] = {
        {"Cancel", [](HWND dialog) { Click(dialog, IDCANCEL); }, 1, 0, 1, 1},
        {"Escape", [](HWND dialog) { PostMessageW(GetDlgItem(dialog, IDOK), WM_KEYDOWN, VK_ESCAPE, 0); }, 1, 0, 1, 1},
        {"close box", [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }, 1, 0, 1, 1},
        {"OK", [](HWND dialog) { Click(dialog, IDOK); }, 0, 1, 0, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CleanRegistry::RemoveAll();
        appState = AppState();
        SetUp();
        appState.noAudio = appState.noButton = 1;
        appState.switchOnShutdown = 1;
        DialogRun run = DriveModalDialog([] { ShowOptionsDialog(nullptr); }, [&](HWND dialog) {
            for (int control : {1015, 1016, 1017, 1002})
                EXPECT_TRUE(Click(dialog, control)) << "cannot click " << control;
            EXPECT_EQ((std::vector<DWORD>{appState.runOnStartup, appState.switchOnExit, appState.switchOnShutdown}),
                      (std::vector<DWORD>{1, 0, 1})) << "in effect before OK";
            row.close(dialog);
        });
        EXPECT_TRUE(run.appeared && run.closedByScript);
        EXPECT_EQ(OpenOptionsDialog(), nullptr) << "a closed dialog still counts as open";
        EXPECT_EQ(appState.runOnStartup, row.runOnStartup);
        EXPECT_EQ(appState.switchOnExit, row.switchOnExit);
        EXPECT_EQ(appState.switchOnShutdown, row.switchOnShutdown);
        EXPECT_EQ(appState.enableKeys, row.enableKeys);
        EXPECT_EQ(RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_KEY), row.enableKeys == 0) << "written by OK only";
    }
}

// The times the sequence-window timer fires within `ms`, as the thread sees them.
std::vector<DWORD> SequenceTicks(DWORD ms)
{
    std::vector<DWORD> ticks;
    DWORD const start = GetTickCount();
    // The whole time passes: the ticks are counted, not waited for.
    (void)WaitUntil("the time to pass", [&] {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            // Not told apart by lParam: Wine passes a handle of its own for TimerProc there.
            if (message.message == WM_TIMER && message.wParam == appState.sequenceTimerId)
                ticks.push_back(GetTickCount() - start);
            else
                DispatchMessageW(&message);
        }
        return false;
    }, ms);
    return ticks;
}

// OK with switching on starts a fresh 500 ms window, also over a running
// one (a new timer takes its place); with switching off the timer stops.
TEST_F(OptionsTest, OkRestartsOrStopsTheSequenceWindowTimer)
{
    UINT_PTR const before = appState.sequenceTimerId = StartThreadTimer(SEQUENCE_TIMER, 500);
    EXPECT_TRUE(options([](HWND dialog) { Click(dialog, IDOK); }));
    ASSERT_NE(appState.sequenceTimerId, TIMER_NOT_RUNNING);
    EXPECT_NE(appState.sequenceTimerId, before) << "the running window was kept, not restarted";
    std::vector<DWORD> ticks = SequenceTicks(1300);
    ASSERT_GE(ticks.size(), 3u);
    EXPECT_NEAR((double)(ticks[2] - ticks[1]), 500.0, 120.0);

    UINT_PTR const running = appState.sequenceTimerId;
    EXPECT_TRUE(options([](HWND dialog) {
        Click(dialog, 1002);
        Click(dialog, IDOK);
    }));
    EXPECT_EQ(appState.sequenceTimerId, TIMER_NOT_RUNNING);
    appState.sequenceTimerId = running;
    EXPECT_TRUE(SequenceTicks(700).empty()) << "the stopped timer still fires";
    appState.sequenceTimerId = TIMER_NOT_RUNNING;
}

}  // namespace
