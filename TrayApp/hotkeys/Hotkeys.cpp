// The hotkey recognizer: key releases from the hook drive two small state
// machines, one that switches the computers and one that optimizes the display.
//   OnHotkeyEvent          - one key release: both sequences, then the switch
//   OnAltStateChange       - the hook saw the ALT context bit change
//   OnSequenceTimer        - the switching window ran out: back to the start
//   OnOptimizeTimer        - the optimize window ran out: back to the start
//   OnAltDelayTimer        - ask again whether the user has let go of ALT
//   IsAltDown              - either ALT key held right now
//   StepSwitchSequence     - one release through the switching sequence
//   StepOptimizeSequence   - one release through the optimize sequence
//   RunSwitchAction        - the completed switching sequence moves the switch
#include "Hotkeys.h"
#include "../shell/Shell.h"
#include "../device/Device.h"
#include "../display/Display.h"

// The high bit of GetAsyncKeyState: the key is down now.
static SHORT const KEY_DOWN_NOW = (SHORT)0x8000;

static bool KeyDownNow(int virtualKey)
{
    return (GetAsyncKeyState(virtualKey) & KEY_DOWN_NOW) != 0;
}

// The right key is asked first; the left only while the right is up. The state
// is read live: it is the keyboard as it is now, not as it was when the hook
// saw the release.
static bool IsAltDown()
{
    return KeyDownNow(VK_RMENU) || KeyDownNow(VK_LMENU);
}

static bool IsShiftControlOrAlt(DWORD key)
{
    return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU;
}

static void RestartSequenceWindow()
{
    RestartThreadTimer(&appState.sequenceTimerId, SEQUENCE_TIMER, SEQUENCE_TIMER_PERIOD);
}

// The user still holds ALT: the window must not end the sequence while we wait
// for ALT to go up, so it stops; the ALT-delay timer asks again.
static void StartAltWait()
{
    StopThreadTimer(&appState.sequenceTimerId);
    RestartThreadTimer(&appState.altDelayTimerId, ALT_DELAY_TIMER, ALT_DELAY_PERIOD);
}

// An ALT-held step: wait for ALT (false), or the sequence is complete (true).
static bool CompleteUnlessAltHeld()
{
    if (IsAltDown()) {
        StartAltWait();
        return false;
    }
    appState.switchKeyState = SEQUENCE_IDLE;
    return true;
}

static void CancelSwitchSequence()
{
    appState.videoOnly = 0;
    appState.switchKeyState = SEQUENCE_IDLE;
}

// True when this release completes the switching sequence.
static bool StepSwitchSequence(DWORD key)
{
    DWORD const active = appState.activeKey;
    bool const threeKey = active == THREE_KEY_SEQUENCE;
    DWORD const firstKey = threeKey ? (DWORD)VK_CONTROL : active;

    switch (appState.switchKeyState) {
    case SEQUENCE_IDLE:
        if (key == firstKey) {
            RestartSequenceWindow();
            appState.switchKeyState = SEQUENCE_FIRST_KEY;
        }
        return false;

    case SEQUENCE_FIRST_KEY:
        if (threeKey) {
            if (key == VK_CONTROL) {
                RestartSequenceWindow();
                appState.switchKeyState = SEQUENCE_TWO_CONTROLS;
            } else {
                CancelSwitchSequence();
            }
            return false;
        }
        // Other keys between the two releases of the key do not break a two-key sequence.
        if (key != active)
            return false;
        return CompleteUnlessAltHeld();

    case SEQUENCE_TWO_CONTROLS:
        if (key == VK_SHIFT) {
            // The state moves on before ALT is asked: an ALT-held Shift leaves it waiting.
            appState.switchKeyState = SEQUENCE_ALT_HELD;
            return CompleteUnlessAltHeld();
        }
        // Letting go of ALT on the way to Shift does not break the sequence.
        if (key == VK_MENU)
            return false;
        CancelSwitchSequence();
        return false;

    case SEQUENCE_ALT_HELD:
        if (!IsShiftControlOrAlt(key)) {
            CancelSwitchSequence();
            return false;
        }
        if (IsAltDown()) {
            StartAltWait();
            return false;
        }
        // ALT was held at Shift and is up now: video and input only.
        appState.videoOnly = 1;
        appState.switchKeyState = SEQUENCE_IDLE;
        return true;
    }
    return false;
}

static void RestartOptimizeWindow()
{
    RestartThreadTimer(&appState.optimizeTimerId, OPTIMIZE_TIMER, OPTIMIZE_TIMER_PERIOD);
}

static void RunOptimize()
{
    appState.optimizeKeyState = SEQUENCE_IDLE;
    DebugLine(L"Optimize Hotkey Hit\n");
    OptimizeDisplay();
}

// With ALT held the optimize sequence stays where it is, its window stopped, until
// the next release with ALT up; it never uses the ALT-delay timer.
static void OptimizeUnlessAltHeld()
{
    if (IsAltDown())
        StopThreadTimer(&appState.optimizeTimerId);
    else
        RunOptimize();
}

static void StepOptimizeSequence(DWORD key)
{
    DWORD const active = appState.activeKeyOptimize;
    bool const threeKey = active == THREE_KEY_SEQUENCE;
    DWORD const firstKey = threeKey ? (DWORD)VK_CONTROL : active;

    switch (appState.optimizeKeyState) {
    case SEQUENCE_IDLE:
        if (key == firstKey) {
            RestartOptimizeWindow();
            appState.optimizeKeyState = SEQUENCE_FIRST_KEY;
        }
        return;

    case SEQUENCE_FIRST_KEY:
        if (threeKey) {
            if (key == VK_CONTROL) {
                RestartOptimizeWindow();
                appState.optimizeKeyState = SEQUENCE_TWO_CONTROLS;
            } else {
                appState.optimizeKeyState = SEQUENCE_IDLE;
            }
            return;
        }
        if (key == active)
            OptimizeUnlessAltHeld();
        return;

    case SEQUENCE_TWO_CONTROLS:
        if (key == VK_SHIFT) {
            appState.optimizeKeyState = SEQUENCE_ALT_HELD;
            OptimizeUnlessAltHeld();
        } else if (key != VK_MENU) {
            appState.optimizeKeyState = SEQUENCE_IDLE;
        }
        return;

    case SEQUENCE_ALT_HELD:
        if (IsShiftControlOrAlt(key))
            OptimizeUnlessAltHeld();
        else
            appState.optimizeKeyState = SEQUENCE_IDLE;
        return;
    }
}

// Before a video-only switch hands the keyboard to the other computer, an ALT
// still down here is released, so that it does not stay stuck on this one.
// Here the left key is asked first. The right ALT is an extended key: released
// without that flag, Wine lets go of the left ALT instead and the right one
// stays down.
static void ReleaseHeldAlt()
{
    if (KeyDownNow(VK_LMENU))
        keybd_event(VK_LMENU, 0, KEYEVENTF_KEYUP, 0);
    else if (KeyDownNow(VK_RMENU))
        keybd_event(VK_RMENU, 0, KEYEVENTF_KEYUP | KEYEVENTF_EXTENDEDKEY, 0);
}

static void RunSwitchAction()
{
    if (appState.videoOnly != 0) {
        DebugLine(L"VIDSW!!!\n");
        SendSwitchCommand(SWITCH_VIDEO);
        appState.videoOnly = 0;
        ReleaseHeldAlt();
    } else {
        DebugLine(L"SWITCH!!!\n");
        SendSwitchCommand(SWITCH_ALL);
    }
}

void OnHotkeyEvent(HWND window, UINT message, WPARAM virtualKey, LPARAM keyData)
{
    DWORD const key = (DWORD)virtualKey;
    // Set when this release completes the switching sequence.
    bool completionMark = false;
    if (appState.enableKeys != 0)
        completionMark = StepSwitchSequence(key);

    // The release that completes a switch is not seen by the optimize sequence.
    if (!completionMark) {
        if (HasDisplayFirmware() && appState.enableKeysOptimize != 0)
            StepOptimizeSequence(key);
        return;
    }
    RunSwitchAction();
}

void OnAltStateChange(LPARAM altBit)
{
    appState.videoOnly = altBit != 0 ? 1 : 0;
}

void OnSequenceTimer()
{
    appState.switchKeyState = SEQUENCE_IDLE;
}

void OnOptimizeTimer()
{
    appState.optimizeKeyState = SEQUENCE_IDLE;
}

void OnAltDelayTimer()
{
    if (appState.switchKeyState == SEQUENCE_TWO_CONTROLS) {
        // As if Shift had been released.
        OnHotkeyEvent(nullptr, 0, VK_SHIFT, 0);
    } else if (appState.switchKeyState == SEQUENCE_FIRST_KEY) {
        // The two-key sequence was completed with ALT held: replay its key.
        // With the three-key form the stored key (-1) cancels the sequence.
        appState.videoOnly = 1;
        OnHotkeyEvent(nullptr, 0, (WPARAM)appState.activeKey, 0);
    }
}
