// The sequences against real thread timers: the 500 ms and 517 ms windows, and
// the 513 ms ALT delay that waits for the user to let go of ALT.
#include "HotkeyFixture.h"
#include "Wait.h"

namespace {

DWORD const CONTROL = VK_CONTROL;
DWORD const SHIFT = VK_SHIFT;
DWORD const KEY_A = 'A';
DWORD const THREE_KEYS = 0xFFFFFFFF;

// Timers never fire early; how late they may be on a busy machine.
DWORD const EARLY_MARGIN_MS = 20;
DWORD const LATE_MARGIN_MS = 400;
// A gap well inside a window, and one pump long enough for any tick.
DWORD const INSIDE_WINDOW_MS = 300;
DWORD const TICK_TIMEOUT_MS = 3000;

void Release(DWORD key)
{
    OnHotkeyEvent(nullptr, 0, key, 0);
}

DWORD Since(DWORD start)
{
    return GetTickCount() - start;
}

bool AltDelayEnded()
{
    return appState.altDelayTimerId == TIMER_NOT_RUNNING;
}

class HotkeyTiming : public HotkeyFixture {};

TEST_F(HotkeyTiming, TheSecondControlCountsOnlyWithinTheWindow)
{
    appState.activeKey = CONTROL;
    beginRow();
    Release(CONTROL);
    PumpMessagesFor(INSIDE_WINDOW_MS);
    ASSERT_EQ(appState.switchKeyState, 1) << "the window ended early";
    Release(CONTROL);
    expectSent(SENT_ALL);

    // Too late: the window brings the state back to 0 about 500 ms after the first Control.
    beginRow();
    DWORD const first = GetTickCount();
    Release(CONTROL);
    ASSERT_TRUE(PumpUntil("the window to end", [] { return appState.switchKeyState == 0; }, TICK_TIMEOUT_MS));
    DWORD const windowLength = Since(first);
    EXPECT_GE(windowLength, SEQUENCE_TIMER - EARLY_MARGIN_MS);
    EXPECT_LE(windowLength, SEQUENCE_TIMER + LATE_MARGIN_MS);
    Release(CONTROL);
    EXPECT_EQ(appState.switchKeyState, 1) << "the late Control only starts a new sequence";
    expectSent(SENT_NOTHING);
}

TEST_F(HotkeyTiming, EachAdvancingReleaseRestartsTheWindow)
{
    // 600 ms from the first Control to Shift: too long for one window, but
    // the second Control gave the sequence a new one.
    appState.activeKey = THREE_KEYS;
    beginRow();
    Release(CONTROL);
    PumpMessagesFor(INSIDE_WINDOW_MS);
    Release(CONTROL);
    ASSERT_EQ(appState.switchKeyState, 2);
    PumpMessagesFor(INSIDE_WINDOW_MS);
    ASSERT_EQ(appState.switchKeyState, 2) << "the window was not restarted by the second Control";
    Release(SHIFT);
    expectSent(SENT_ALL);

    // A release that is ignored gives no new window.
    appState.activeKey = CONTROL;
    beginRow();
    DWORD const first = GetTickCount();
    Release(CONTROL);
    PumpMessagesFor(INSIDE_WINDOW_MS);
    Release(KEY_A);
    ASSERT_TRUE(PumpUntil("the window to end", [] { return appState.switchKeyState == 0; }, TICK_TIMEOUT_MS));
    EXPECT_LE(Since(first), SEQUENCE_TIMER + LATE_MARGIN_MS);
    Release(CONTROL);
    expectSent(SENT_NOTHING);
}

// The windows are periodic: once a sequence has timed out they go on ticking,
// each tick putting the state back to 0, with no key to restart them.
TEST_F(HotkeyTiming, TheWindowsKeepTicking)
{
    setFirmwareMajor(DISPLAY_FIRMWARE_MAJOR);
    appState.activeKey = CONTROL;
    appState.activeKeyOptimize = CONTROL;
    Release(CONTROL);
    UINT_PTR const sequenceTimer = appState.sequenceTimerId;
    UINT_PTR const optimizeTimer = appState.optimizeTimerId;
    ASSERT_EQ(appState.switchKeyState, 1);
    ASSERT_EQ(appState.optimizeKeyState, 1);

    for (int tick = 1; tick <= 3; ++tick) {
        SCOPED_TRACE("tick " + std::to_string(tick));
        DWORD const start = GetTickCount();
        ASSERT_TRUE(PumpUntil("both windows to close",
                              [] { return appState.switchKeyState == 0 && appState.optimizeKeyState == 0; },
                                      TICK_TIMEOUT_MS));
        EXPECT_LE(Since(start), OPTIMIZE_TIMER + LATE_MARGIN_MS);
        EXPECT_EQ(appState.sequenceTimerId, sequenceTimer);
        EXPECT_EQ(appState.optimizeTimerId, optimizeTimer);
        // As if left mid-sequence: only a tick brings it back.
        appState.switchKeyState = 2;
        appState.optimizeKeyState = 3;
    }
}

TEST_F(HotkeyTiming, TheOptimizeWindowIs517Milliseconds)
{
    setFirmwareMajor(DISPLAY_FIRMWARE_MAJOR);
    appState.enableKeys = 0;
    beginRow();
    Release(VK_SCROLL);
    PumpMessagesFor(INSIDE_WINDOW_MS);
    Release(VK_SCROLL);
    expectOptimized(1);

    beginRow();
    DWORD const first = GetTickCount();
    Release(VK_SCROLL);
    ASSERT_TRUE(PumpUntil("the window to end", [] { return appState.optimizeKeyState == 0; }, TICK_TIMEOUT_MS));
    EXPECT_GE(Since(first), OPTIMIZE_TIMER - EARLY_MARGIN_MS);
    EXPECT_LE(Since(first), OPTIMIZE_TIMER + LATE_MARGIN_MS);
    Release(VK_SCROLL);
    expectOptimized(0);
}

// Control, Control with ALT held: nothing goes to the switch while ALT stays
// down; the ALT delay asks again every 513 ms; the first tick that finds ALT
// up switches video and input.
TEST_F(HotkeyTiming, TwoKeysWithAltHeldSwitchVideoAtTheFirstTickWithAltUp)
{
    appState.activeKey = CONTROL;
    beginRow();
    HeldKey alt(VK_LMENU);
    Release(CONTROL);
    Release(CONTROL);
    ASSERT_EQ(appState.switchKeyState, 1);
    ASSERT_NE(appState.altDelayTimerId, TIMER_NOT_RUNNING);
    EXPECT_EQ(appState.sequenceTimerId, TIMER_NOT_RUNNING) << "the window waits with the sequence";

    // Each tick with ALT still down starts a new delay timer.
    int ticks = 0;
    UINT_PTR seen = appState.altDelayTimerId;
    // The whole time passes: the ticks are counted, not waited for.
    (void)PumpUntil("the time to pass", [&] {
        if (appState.altDelayTimerId != seen) {
            seen = appState.altDelayTimerId;
            ++ticks;
        }
        return false;
    }, 2 * ALT_DELAY_PERIOD + ALT_DELAY_PERIOD / 2);
    EXPECT_GE(ticks, 2);
    EXPECT_EQ(appState.switchKeyState, 1);
    EXPECT_NE(appState.altDelayTimerId, TIMER_NOT_RUNNING);
    expectSent(SENT_NOTHING);

    beginRow();
    alt.release();
    DWORD const released = GetTickCount();
    ASSERT_TRUE(PumpUntil("the window to end", [] { return appState.switchKeyState == 0; }, TICK_TIMEOUT_MS));
    EXPECT_LE(Since(released), ALT_DELAY_PERIOD + LATE_MARGIN_MS);
    EXPECT_EQ(appState.videoOnly, 0u);
    EXPECT_EQ(appState.altDelayTimerId, TIMER_NOT_RUNNING) << "the ALT delay is one-shot";
    expectSent(SENT_VIDEO);
}

// Control, Control, Shift with ALT held waits in state 3 for a release with
// ALT up; the ALT delay does nothing there.
TEST_F(HotkeyTiming, ThreeKeysWithAltHeldWaitForAReleaseWithAltUp)
{
    appState.activeKey = THREE_KEYS;
    beginRow();
    {
        HeldKey alt(VK_RMENU);
        Release(CONTROL);
        Release(CONTROL);
        Release(SHIFT);
        ASSERT_EQ(appState.switchKeyState, 3);
        ASSERT_TRUE(PumpUntil("the ALT delay's end", AltDelayEnded, TICK_TIMEOUT_MS));
        EXPECT_EQ(appState.switchKeyState, 3);
        PumpMessagesFor(ALT_DELAY_PERIOD + 100);
        EXPECT_EQ(appState.switchKeyState, 3) << "no window and no delay runs in state 3";
    }
    expectSent(SENT_NOTHING);

    beginRow();
    Release(VK_MENU);   // the hook reports the ALT release itself
    EXPECT_EQ(appState.switchKeyState, 0);
    expectSent(SENT_VIDEO);
}

// An ALT delay left over from an ALT-held Shift finds the three-key sequence
// started again in state 1: it replays the stored key, -1, which cancels.
TEST_F(HotkeyTiming, AnAltDelayTickInStateOneWithThreeKeysCancels)
{
    appState.activeKey = THREE_KEYS;
    beginRow();
    {
        HeldKey alt(VK_LMENU);
        Release(CONTROL);
        Release(CONTROL);
        Release(SHIFT);
    }
    ASSERT_EQ(appState.switchKeyState, 3);
    PumpMessagesFor(INSIDE_WINDOW_MS);
    ASSERT_NE(appState.altDelayTimerId, TIMER_NOT_RUNNING) << "the ALT delay ticked too early";
    Release(KEY_A);
    Release(CONTROL);
    DWORD const restarted = GetTickCount();
    ASSERT_EQ(appState.switchKeyState, 1);
    // The hook reported the ALT bit: a window tick would leave this flag set,
    // only the replayed -1 clears it.
    OnAltStateChange(0x20000000);

    ASSERT_TRUE(PumpUntil("the ALT delay's end", AltDelayEnded, TICK_TIMEOUT_MS));
    ASSERT_LT(Since(restarted), (DWORD)SEQUENCE_TIMER) << "the window ended before the ALT delay: inconclusive";
    EXPECT_EQ(appState.switchKeyState, 0);
    EXPECT_EQ(appState.videoOnly, 0u);
    expectSent(SENT_NOTHING);
}

}  // namespace
