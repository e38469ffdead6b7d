// The two hotkey sequences row by row: each row puts the recognizer in a state,
// holds the ALT keys it names on the desktop, hands one key release to
// OnHotkeyEvent and checks the next state, the timers and what the switch got.
#include "HotkeyFixture.h"

namespace {

DWORD const THREE_KEYS = 0xFFFFFFFF;
DWORD const CONTROL = VK_CONTROL;
DWORD const SHIFT = VK_SHIFT;
DWORD const ALT = VK_MENU;
DWORD const SCROLL = VK_SCROLL;
DWORD const NUMLOCK = VK_NUMLOCK;
DWORD const KEY_A = 'A';
DWORD const KEY_Q = 'Q';

// A failing row prints as its name: every row type here has one.
template <typename Row>
auto operator<<(std::ostream &out, const Row &row) -> decltype(out << row.name)
{
    return out << row.name;
}

// The recognizer is handed one key release while the named ALT keys are down.
void ReleaseWithAltHeld(DWORD key, AltHeld alt)
{
    AltKeys held(alt);
    OnHotkeyEvent(nullptr, 0, key, 0);
}

// ---------------------------------------------------------------------------
// The switching sequence.

struct SwitchRow {
    const char *name;
    DWORD activeKey;
    BYTE state;
    DWORD videoOnly;
    bool windowRunning;     // the sequence window before the release
    bool altDelayRunning;   // the ALT delay before the release
    DWORD key;
    AltHeld alt;
    BYTE nextState;
    DWORD nextVideoOnly;
    TimerChange window;
    TimerChange altDelay;
    Sent sent;
};

bool const RUNNING = true;
bool const IDLE = false;

SwitchRow const switchRows[] = {
    // name                                                  A  state vo  window  altDelay  key  ALT  -> state vo  window  altDelay  sent
    {"0: Control starts the sequence", CONTROL, 0, 0, RUNNING, IDLE, CONTROL, ALT_UP, 1, 0, TIMER_RESTARTED, TIMER_KEPT, SENT_NOTHING},
    {"0: NumLock starts its two-key sequence", NUMLOCK, 0, 0, RUNNING, IDLE, NUMLOCK, ALT_UP, 1, 0, TIMER_RESTARTED, TIMER_KEPT, SENT_NOTHING},
    {"0: any stored key is used as it is", KEY_Q, 0, 0, RUNNING, IDLE, KEY_Q, ALT_UP, 1, 0, TIMER_RESTARTED, TIMER_KEPT, SENT_NOTHING},
    {"0: the three-key form starts with Control", THREE_KEYS, 0, 0, RUNNING, IDLE, CONTROL, ALT_UP, 1, 0, TIMER_RESTARTED, TIMER_KEPT, SENT_NOTHING},
    {"0: a stopped window is started", CONTROL, 0, 0, IDLE, IDLE, CONTROL, ALT_UP, 1, 0, TIMER_RESTARTED, TIMER_KEPT, SENT_NOTHING},
    {"0: Control with ALT held starts it too", CONTROL, 0, 0, RUNNING, IDLE, CONTROL, LEFT_ALT, 1, 0, TIMER_RESTARTED, TIMER_KEPT, SENT_NOTHING},
    {"0: another key does nothing", CONTROL, 0, 1, RUNNING, IDLE, SHIFT, ALT_UP, 0, 1, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},
    {"0: -1 itself is not a key", THREE_KEYS, 0, 1, RUNNING, IDLE, THREE_KEYS, ALT_UP, 0, 1, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},

    {"1, three keys: the second Control", THREE_KEYS, 1, 0, RUNNING, IDLE, CONTROL, ALT_UP, 2, 0, TIMER_RESTARTED, TIMER_KEPT, SENT_NOTHING},
    {"1, three keys: the second Control with ALT held", THREE_KEYS, 1, 1, RUNNING, IDLE, CONTROL, LEFT_ALT, 2, 1, TIMER_RESTARTED, TIMER_KEPT, SENT_NOTHING},
    {"1, three keys: another key cancels", THREE_KEYS, 1, 1, RUNNING, IDLE, KEY_A, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},
    {"1, three keys: an ALT release cancels", THREE_KEYS, 1, 1, RUNNING, IDLE, ALT, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},
    {"1, three keys: Shift too early cancels", THREE_KEYS, 1, 1, RUNNING, IDLE, SHIFT, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},
    {"1, three keys: the replayed -1 cancels", THREE_KEYS, 1, 1, RUNNING, IDLE, THREE_KEYS, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},

    {"1: Control again switches everything", CONTROL, 1, 0, RUNNING, IDLE, CONTROL, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_ALL},
    {"1: Scroll Lock again switches everything", SCROLL, 1, 0, RUNNING, IDLE, SCROLL, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_ALL},
    {"1: any stored key again switches", KEY_Q, 1, 0, RUNNING, IDLE, KEY_Q, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_ALL},
    {"1: with the ALT bit seen, video only", CONTROL, 1, 1, RUNNING, IDLE, CONTROL, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_VIDEO},
    {"1: left ALT held: wait for ALT", CONTROL, 1, 0, RUNNING, IDLE, CONTROL, LEFT_ALT, 1, 0, TIMER_STOPPED, TIMER_RESTARTED, SENT_NOTHING},
    {"1: right ALT held: wait for ALT", CONTROL, 1, 1, RUNNING, IDLE, CONTROL, RIGHT_ALT, 1, 1, TIMER_STOPPED, TIMER_RESTARTED, SENT_NOTHING},
    {"1: ALT still held: the delay starts afresh", CONTROL, 1, 1, IDLE, RUNNING, CONTROL, LEFT_ALT, 1, 1, TIMER_KEPT, TIMER_RESTARTED, SENT_NOTHING},
    {"1: other keys in between are ignored", CONTROL, 1, 1, RUNNING, IDLE, KEY_A, ALT_UP, 1, 1, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},
    {"1: Shift is just another key", CONTROL, 1, 0, RUNNING, IDLE, SHIFT, LEFT_ALT, 1, 0, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},

    {"2: Shift with ALT up switches everything", THREE_KEYS, 2, 0, RUNNING, IDLE, SHIFT, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_ALL},
    {"2: Shift with the ALT bit seen, video only", THREE_KEYS, 2, 1, RUNNING, IDLE, SHIFT, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_VIDEO},
    {"2: Shift with left ALT held waits in 3", THREE_KEYS, 2, 0, RUNNING, IDLE, SHIFT, LEFT_ALT, 3, 0, TIMER_STOPPED, TIMER_RESTARTED, SENT_NOTHING},
    {"2: Shift with right ALT held waits in 3", THREE_KEYS, 2, 0, RUNNING, IDLE, SHIFT, RIGHT_ALT, 3, 0, TIMER_STOPPED, TIMER_RESTARTED, SENT_NOTHING},
    {"2: an ALT release is ignored", THREE_KEYS, 2, 1, RUNNING, IDLE, ALT, ALT_UP, 2, 1, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},
    {"2: a third Control cancels", THREE_KEYS, 2, 1, RUNNING, IDLE, CONTROL, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},
    {"2: another key cancels", THREE_KEYS, 2, 1, RUNNING, IDLE, KEY_A, LEFT_ALT, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},

    {"3: Shift with ALT up switches video", THREE_KEYS, 3, 0, IDLE, IDLE, SHIFT, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_VIDEO},
    {"3: Control with ALT up switches video", THREE_KEYS, 3, 0, IDLE, IDLE, CONTROL, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_VIDEO},
    {"3: the ALT release itself switches video", THREE_KEYS, 3, 0, IDLE, RUNNING, ALT, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_VIDEO},
    {"3: Shift with ALT still held waits again", THREE_KEYS, 3, 0, IDLE, RUNNING, SHIFT, LEFT_ALT, 3, 0, TIMER_KEPT, TIMER_RESTARTED, SENT_NOTHING},
    {"3: Control with right ALT held waits again", THREE_KEYS, 3, 0, RUNNING, IDLE, CONTROL, RIGHT_ALT, 3, 0, TIMER_STOPPED, TIMER_RESTARTED, SENT_NOTHING},
    {"3: one ALT of two released waits again", THREE_KEYS, 3, 0, IDLE, IDLE, ALT, RIGHT_ALT, 3, 0, TIMER_KEPT, TIMER_RESTARTED, SENT_NOTHING},
    {"3: another key cancels", THREE_KEYS, 3, 1, IDLE, RUNNING, KEY_A, ALT_UP, 0, 0, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},
};

class SwitchSequence : public HotkeyFixture, public ::testing::WithParamInterface<SwitchRow> {};

TEST_P(SwitchSequence, OneRelease)
{
    SwitchRow const &row = GetParam();
    appState.activeKey = row.activeKey;
    appState.switchKeyState = row.state;
    appState.videoOnly = row.videoOnly;
    // No display firmware: the optimize sequence stays out of the way.
    if (!row.windowRunning)
        StopThreadTimer(&appState.sequenceTimerId);
    if (row.altDelayRunning)
        appState.altDelayTimerId = StartThreadTimer(ALT_DELAY_TIMER, ALT_DELAY_PERIOD);
    UINT_PTR const windowBefore = appState.sequenceTimerId;
    UINT_PTR const altDelayBefore = appState.altDelayTimerId;

    beginRow();
    ReleaseWithAltHeld(row.key, row.alt);

    EXPECT_EQ(appState.switchKeyState, row.nextState);
    EXPECT_EQ(appState.videoOnly, row.nextVideoOnly);
    CheckTimer("sequence window", windowBefore, appState.sequenceTimerId, row.window);
    CheckTimer("ALT delay", altDelayBefore, appState.altDelayTimerId, row.altDelay);
    expectSent(row.sent);
}

INSTANTIATE_TEST_SUITE_P(Rows, SwitchSequence, ::testing::ValuesIn(switchRows), RowName<SwitchRow>);

// ---------------------------------------------------------------------------
// The optimize-display sequence (display firmware, switching sequence off).

struct OptimizeRow {
    const char *name;
    DWORD activeKeyOptimize;
    BYTE state;
    bool windowRunning;
    DWORD key;
    AltHeld alt;
    BYTE nextState;
    TimerChange window;
    bool optimized;
};

OptimizeRow const optimizeRows[] = {
    // name                                               B  state window key  ALT -> state window optimized
    {"0: Scroll Lock starts the sequence", SCROLL, 0, RUNNING, SCROLL, ALT_UP, 1, TIMER_RESTARTED, false},
    {"0: the three-key form starts with Control", THREE_KEYS, 0, RUNNING, CONTROL, ALT_UP, 1, TIMER_RESTARTED, false},
    {"0: a stopped window is started", SCROLL, 0, IDLE, SCROLL, LEFT_ALT, 1, TIMER_RESTARTED, false},
    {"0: another key does nothing", SCROLL, 0, RUNNING, CONTROL, ALT_UP, 0, TIMER_KEPT, false},

    {"1, three keys: the second Control", THREE_KEYS, 1, RUNNING, CONTROL, ALT_UP, 2, TIMER_RESTARTED, false},
    {"1, three keys: another key goes back to 0", THREE_KEYS, 1, RUNNING, KEY_A, ALT_UP, 0, TIMER_KEPT, false},
    {"1, three keys: Shift too early goes back to 0", THREE_KEYS, 1, RUNNING, SHIFT, ALT_UP, 0, TIMER_KEPT, false},

    {"1: Scroll Lock again optimizes", SCROLL, 1, RUNNING, SCROLL, ALT_UP, 0, TIMER_KEPT, true},
    {"1: any stored key again optimizes", KEY_Q, 1, RUNNING, KEY_Q, ALT_UP, 0, TIMER_KEPT, true},
    {"1: left ALT held: stop the window and stay", SCROLL, 1, RUNNING, SCROLL, LEFT_ALT, 1, TIMER_STOPPED, false},
    {"1: right ALT held: stop the window and stay", SCROLL, 1, RUNNING, SCROLL, RIGHT_ALT, 1, TIMER_STOPPED, false},
    {"1: ALT held with the window already stopped", SCROLL, 1, IDLE, SCROLL, LEFT_ALT, 1, TIMER_KEPT, false},
    {"1: after an ALT-held release, ALT up optimizes", SCROLL, 1, IDLE, SCROLL, ALT_UP, 0, TIMER_KEPT, true},
    {"1: other keys in between are ignored", SCROLL, 1, RUNNING, KEY_A, ALT_UP, 1, TIMER_KEPT, false},

    {"2: Shift optimizes", THREE_KEYS, 2, RUNNING, SHIFT, ALT_UP, 0, TIMER_KEPT, true},
    {"2: Shift with ALT held waits in 3", THREE_KEYS, 2, RUNNING, SHIFT, LEFT_ALT, 3, TIMER_STOPPED, false},
    {"2: an ALT release is ignored", THREE_KEYS, 2, RUNNING, ALT, ALT_UP, 2, TIMER_KEPT, false},
    {"2: a third Control goes back to 0", THREE_KEYS, 2, RUNNING, CONTROL, ALT_UP, 0, TIMER_KEPT, false},

    {"3: Shift with ALT up optimizes", THREE_KEYS, 3, IDLE, SHIFT, ALT_UP, 0, TIMER_KEPT, true},
    {"3: Control with ALT up optimizes", THREE_KEYS, 3, IDLE, CONTROL, ALT_UP, 0, TIMER_KEPT, true},
    {"3: the ALT release optimizes", THREE_KEYS, 3, IDLE, ALT, ALT_UP, 0, TIMER_KEPT, true},
    {"3: ALT still held stays in 3", THREE_KEYS, 3, RUNNING, CONTROL, RIGHT_ALT, 3, TIMER_STOPPED, false},
    {"3: another key goes back to 0", THREE_KEYS, 3, IDLE, KEY_A, ALT_UP, 0, TIMER_KEPT, false},
};

class OptimizeSequence : public HotkeyFixture, public ::testing::WithParamInterface<OptimizeRow> {};

TEST_P(OptimizeSequence, OneRelease)
{
    OptimizeRow const &row = GetParam();
    setFirmwareMajor(DISPLAY_FIRMWARE_MAJOR);
    appState.enableKeys = 0;
    appState.activeKeyOptimize = row.activeKeyOptimize;
    appState.optimizeKeyState = row.state;
    // The optimize sequence never reads or changes the video-only flag.
    appState.videoOnly = 1;
    if (!row.windowRunning)
        StopThreadTimer(&appState.optimizeTimerId);
    UINT_PTR const windowBefore = appState.optimizeTimerId;
    UINT_PTR const sequenceBefore = appState.sequenceTimerId;

    beginRow();
    ReleaseWithAltHeld(row.key, row.alt);

    EXPECT_EQ(appState.optimizeKeyState, row.nextState);
    EXPECT_EQ(appState.videoOnly, 1u);
    CheckTimer("optimize window", windowBefore, appState.optimizeTimerId, row.window);
    CheckTimer("sequence window", sequenceBefore, appState.sequenceTimerId, TIMER_KEPT);
    EXPECT_EQ(appState.altDelayTimerId, TIMER_NOT_RUNNING) << "the optimize sequence never waits for ALT";
    expectOptimized(row.optimized ? 1 : 0);
    expectSent(SENT_NOTHING);
}

INSTANTIATE_TEST_SUITE_P(Rows, OptimizeSequence, ::testing::ValuesIn(optimizeRows), RowName<OptimizeRow>);

// ---------------------------------------------------------------------------
// Which sequences see a release: the settings, the firmware gate, and the
// release that completes a switch.

struct GateRow {
    const char *name;
    BYTE firmwareMajor;
    DWORD enableKeys;
    DWORD enableKeysOptimize;
    DWORD activeKey;
    DWORD activeKeyOptimize;
    BYTE switchState;
    BYTE optimizeState;
    DWORD key;
    AltHeld alt;
    BYTE nextSwitchState;
    BYTE nextOptimizeState;
    Sent sent;
    bool optimized;
};

GateRow const gateRows[] = {
    // name                              fw  eK eKO   A   B   s  o   key  ALT  -> s  o   sent  optimized
    {"firmware 4: both sequences advance", 4, 1, 1, SCROLL, SCROLL, 0, 0, SCROLL, ALT_UP, 1, 1, SENT_NOTHING, false},
    {"firmware 3: the optimize sequence is not consulted", 3, 1, 1, CONTROL, SCROLL, 0, 1, SCROLL, ALT_UP, 0, 1, SENT_NOTHING, false},
    {"firmware 5: the optimize sequence is not consulted", 5, 1, 1, CONTROL, SCROLL, 0, 1, SCROLL, ALT_UP, 0, 1, SENT_NOTHING, false},
    {"no switch found: the optimize sequence is not consulted", 0, 1, 1, CONTROL, SCROLL, 0, 1, SCROLL, ALT_UP, 0, 1, SENT_NOTHING, false},
    {"optimize keys off: not consulted", 4, 1, 0, CONTROL, SCROLL, 0, 1, SCROLL, ALT_UP, 0, 1, SENT_NOTHING, false},
    {"switching keys off: not consulted", 4, 0, 1, CONTROL, THREE_KEYS, 1, 1, CONTROL, ALT_UP, 1, 2, SENT_NOTHING, false},
    {"both off: nothing moves", 4, 0, 0, CONTROL, CONTROL, 1, 1, CONTROL, ALT_UP, 1, 1, SENT_NOTHING, false},
    {"the completing release is not seen by the optimize sequence", 4, 1, 1, CONTROL, THREE_KEYS, 1, 1, CONTROL, ALT_UP, 0, 1, SENT_ALL, false},
    {"the same key completes the switch, not the optimize", 4, 1, 1, SCROLL, SCROLL, 1, 1, SCROLL, ALT_UP, 0, 1, SENT_ALL, false},
    {"a release that starts an ALT wait is seen by both", 4, 1, 1, CONTROL, THREE_KEYS, 1, 1, CONTROL, LEFT_ALT, 1, 2, SENT_NOTHING, false},
    {"a cancelling release is seen by both", 4, 1, 1, THREE_KEYS, SCROLL, 1, 1, SCROLL, ALT_UP, 0, 0, SENT_NOTHING, true},
    {"an ignored release is seen by both", 4, 1, 1, CONTROL, SCROLL, 1, 1, SCROLL, ALT_UP, 1, 0, SENT_NOTHING, true},
    {"an advancing release is seen by both", 4, 1, 1, THREE_KEYS, THREE_KEYS, 1, 1, CONTROL, ALT_UP, 2, 2, SENT_NOTHING, false},
};

class WhoSeesARelease : public HotkeyFixture, public ::testing::WithParamInterface<GateRow> {};

TEST_P(WhoSeesARelease, OneRelease)
{
    GateRow const &row = GetParam();
    setFirmwareMajor(row.firmwareMajor);
    appState.enableKeys = row.enableKeys;
    appState.enableKeysOptimize = row.enableKeysOptimize;
    appState.activeKey = row.activeKey;
    appState.activeKeyOptimize = row.activeKeyOptimize;
    appState.switchKeyState = row.switchState;
    appState.optimizeKeyState = row.optimizeState;

    beginRow();
    ReleaseWithAltHeld(row.key, row.alt);

    EXPECT_EQ(appState.switchKeyState, row.nextSwitchState);
    EXPECT_EQ(appState.optimizeKeyState, row.nextOptimizeState);
    expectSent(row.sent);
    expectOptimized(row.optimized ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, WhoSeesARelease, ::testing::ValuesIn(gateRows), RowName<GateRow>);

// ---------------------------------------------------------------------------
// The three timer branches, entered as TimerProc is by a tick of the recorded id.

enum TickOf { SEQUENCE_TICK, OPTIMIZE_TICK, ALT_DELAY_TICK };

struct TickRow {
    const char *name;
    TickOf tick;
    DWORD activeKey;
    BYTE switchState;
    BYTE optimizeState;
    DWORD videoOnly;
    AltHeld alt;
    BYTE nextSwitchState;
    BYTE nextOptimizeState;
    DWORD nextVideoOnly;
    TimerChange window;
    TimerChange altDelay;
    Sent sent;
};

TickRow const tickRows[] = {
    // name                                        tick   A   s  o  vo  ALT -> s  o  vo  window  altDelay  sent
    {"sequence window: back to 0, keeps ticking", SEQUENCE_TICK, THREE_KEYS, 2, 1, 1, ALT_UP, 0, 1, 1, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},
    {"sequence window in state 3", SEQUENCE_TICK, THREE_KEYS, 3, 3, 0, LEFT_ALT, 0, 3, 0, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},
    {"optimize window: back to 0, keeps ticking", OPTIMIZE_TICK, CONTROL, 1, 2, 1, ALT_UP, 1, 0, 1, TIMER_KEPT, TIMER_KEPT, SENT_NOTHING},
    {"ALT delay, 1: ALT up switches video", ALT_DELAY_TICK, CONTROL, 1, 0, 0, ALT_UP, 0, 0, 0, TIMER_KEPT, TIMER_STOPPED, SENT_VIDEO},
    {"ALT delay, 1: the stored key is replayed", ALT_DELAY_TICK, SCROLL, 1, 0, 0, ALT_UP, 0, 0, 0, TIMER_KEPT, TIMER_STOPPED, SENT_VIDEO},
    {"ALT delay, 1: ALT still held: ask again later", ALT_DELAY_TICK, CONTROL, 1, 0, 0, LEFT_ALT, 1, 0, 1, TIMER_STOPPED, TIMER_RESTARTED, SENT_NOTHING},
    {"ALT delay, 1: right ALT still held", ALT_DELAY_TICK, CONTROL, 1, 0, 0, RIGHT_ALT, 1, 0, 1, TIMER_STOPPED, TIMER_RESTARTED, SENT_NOTHING},
    {"ALT delay, 1, three keys: -1 cancels", ALT_DELAY_TICK, THREE_KEYS, 1, 0, 1, ALT_UP, 0, 0, 0, TIMER_KEPT, TIMER_STOPPED, SENT_NOTHING},
    {"ALT delay, 2: as if Shift were released", ALT_DELAY_TICK, THREE_KEYS, 2, 0, 0, ALT_UP, 0, 0, 0, TIMER_KEPT, TIMER_STOPPED, SENT_ALL},
    {"ALT delay, 2, ALT held: on to 3", ALT_DELAY_TICK, THREE_KEYS, 2, 0, 0, LEFT_ALT, 3, 0, 0, TIMER_STOPPED, TIMER_RESTARTED, SENT_NOTHING},
    {"ALT delay, 3: nothing", ALT_DELAY_TICK, THREE_KEYS, 3, 0, 0, ALT_UP, 3, 0, 0, TIMER_KEPT, TIMER_STOPPED, SENT_NOTHING},
    {"ALT delay, 0: nothing", ALT_DELAY_TICK, CONTROL, 0, 0, 0, ALT_UP, 0, 0, 0, TIMER_KEPT, TIMER_STOPPED, SENT_NOTHING},
};

class TimerBranches : public HotkeyFixture, public ::testing::WithParamInterface<TickRow> {};

TEST_P(TimerBranches, OneTick)
{
    TickRow const &row = GetParam();
    appState.activeKey = row.activeKey;
    appState.switchKeyState = row.switchState;
    appState.optimizeKeyState = row.optimizeState;
    appState.videoOnly = row.videoOnly;
    appState.altDelayTimerId = StartThreadTimer(ALT_DELAY_TIMER, ALT_DELAY_PERIOD);
    UINT_PTR const windowBefore = appState.sequenceTimerId;
    UINT_PTR const optimizeBefore = appState.optimizeTimerId;
    UINT_PTR const altDelayBefore = appState.altDelayTimerId;
    UINT_PTR const ticking[] = {windowBefore, optimizeBefore, altDelayBefore};

    beginRow();
    {
        AltKeys held(row.alt);
        TimerProc(nullptr, WM_TIMER, ticking[row.tick], GetTickCount());
    }

    EXPECT_EQ(appState.switchKeyState, row.nextSwitchState);
    EXPECT_EQ(appState.optimizeKeyState, row.nextOptimizeState);
    EXPECT_EQ(appState.videoOnly, row.nextVideoOnly);
    CheckTimer("sequence window", windowBefore, appState.sequenceTimerId, row.window);
    CheckTimer("optimize window", optimizeBefore, appState.optimizeTimerId, TIMER_KEPT);
    CheckTimer("ALT delay", altDelayBefore, appState.altDelayTimerId, row.altDelay);
    expectSent(row.sent);
}

INSTANTIATE_TEST_SUITE_P(Rows, TimerBranches, ::testing::ValuesIn(tickRows), RowName<TickRow>);

// ---------------------------------------------------------------------------
// Before a video-only switch hands the keyboard over, an ALT still down here
// is released (the left one first); a full switch leaves the keys alone.

struct ReleaseRow {
    const char *name;
    DWORD videoOnly;
    AltHeld heldDuringSend;   // pressed while the switch is being told
    bool leftDownAfter;
    bool rightDownAfter;
    Sent sent;
};

ReleaseRow const releaseRows[] = {
    {"video only, no ALT down: nothing is released", 1, ALT_UP, false, false, SENT_VIDEO},
    {"video only, left ALT down: released", 1, LEFT_ALT, false, false, SENT_VIDEO},
    {"video only, right ALT down: released", 1, RIGHT_ALT, false, false, SENT_VIDEO},
    {"video only, both down: only the left is released", 1, BOTH_ALTS, false, true, SENT_VIDEO},
    {"switch all, left ALT down: left alone", 0, LEFT_ALT, true, false, SENT_ALL},
    {"switch all, right ALT down: left alone", 0, RIGHT_ALT, false, true, SENT_ALL},
};

class AltReleaseAfterVideoSwitch : public HotkeyFixture, public ::testing::WithParamInterface<ReleaseRow> {};

TEST_P(AltReleaseAfterVideoSwitch, CompletingRelease)
{
    ReleaseRow const &row = GetParam();
    appState.activeKey = CONTROL;
    appState.switchKeyState = 1;
    appState.videoOnly = row.videoOnly;

    // ALT goes down after the recognizer found it up and before it looks
    // again: the user pressing it while the switch is being told.
    std::unique_ptr<AltKeys> pressedLate;
    OnOwnDebugLine atSwitch(row.sent == SENT_VIDEO ? "VIDSW!!!\n" : "SWITCH!!!\n",
                            [&] { pressedLate.reset(new AltKeys(row.heldDuringSend)); });
    beginRow();
    OnHotkeyEvent(nullptr, 0, CONTROL, 0);

    EXPECT_EQ(atSwitch.hits(), 1);
    EXPECT_EQ(KeyIsDown(VK_LMENU), row.leftDownAfter);
    EXPECT_EQ(KeyIsDown(VK_RMENU), row.rightDownAfter);
    EXPECT_EQ(appState.videoOnly, 0u);
    expectSent(row.sent);
}

INSTANTIATE_TEST_SUITE_P(Rows, AltReleaseAfterVideoSwitch, ::testing::ValuesIn(releaseRows), RowName<ReleaseRow>);

// ---------------------------------------------------------------------------
// The ALT bit the hook reports decides a completed sequence until the next report.

TEST_F(HotkeyFixture, TheLastAltStateReportDecidesUntilTheNext)
{
    appState.activeKey = CONTROL;
    beginRow();
    MainWndProc(nullptr, WM_HOOK_ALTSTATE, VK_MENU, 0x20000000);
    EXPECT_EQ(appState.videoOnly, 1u);
    // ALT is up by the time the releases are handled: still video only.
    EXPECT_EQ(MainWndProc(nullptr, WM_HOOK_KEYUP, CONTROL, 0xC01D0001), 0);
    EXPECT_EQ(MainWndProc(nullptr, WM_HOOK_KEYUP, CONTROL, 0xC01D0001), 0);
    EXPECT_EQ(appState.videoOnly, 0u) << "a video-only switch clears the flag";
    expectSent(SENT_VIDEO);

    MainWndProc(nullptr, WM_HOOK_ALTSTATE, VK_MENU, 0x20000000);
    MainWndProc(nullptr, WM_HOOK_ALTSTATE, 'A', 0);
    EXPECT_EQ(appState.videoOnly, 0u);
    beginRow();
    MainWndProc(nullptr, WM_HOOK_KEYUP, CONTROL, 0xC01D0001);
    MainWndProc(nullptr, WM_HOOK_KEYUP, CONTROL, 0xC01D0001);
    expectSent(SENT_ALL);
    EXPECT_EQ(appState.videoOnly, 0u);
}

}  // namespace
