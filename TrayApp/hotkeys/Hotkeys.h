// The hotkey recognizer: switching and optimize-display key sequences.
#pragma once

#include "../shell/AppState.h"

// activeKey / activeKeyOptimize value that stands for Control, Control, Shift.
DWORD const THREE_KEY_SEQUENCE = 0xFFFFFFFF;
// Period of the one-shot timer that asks again whether ALT is up.
UINT const ALT_DELAY_PERIOD = 513;

// The sequence states (switchKeyState, optimizeKeyState).
BYTE const SEQUENCE_IDLE = 0;          // nothing seen
BYTE const SEQUENCE_FIRST_KEY = 1;     // first key seen
BYTE const SEQUENCE_TWO_CONTROLS = 2;  // Control, Control seen (three-key form)
BYTE const SEQUENCE_ALT_HELD = 3;      // Shift seen with ALT held (three-key form)

// One key release (from WM_HOOK_KEYUP, or replayed by the ALT-delay timer).
// Only virtualKey is used.
void OnHotkeyEvent(HWND window, UINT message, WPARAM virtualKey, LPARAM keyData);
// WM_HOOK_ALTSTATE: the ALT context bit the hook saw last.
void OnAltStateChange(LPARAM altBit);
// TimerProc branches; the ALT-delay timer is already stopped when its branch runs.
void OnSequenceTimer();
void OnOptimizeTimer();
void OnAltDelayTimer();
