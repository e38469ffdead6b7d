// The hotkey recognizer: switching and optimize-display key sequences.
#pragma once

#include "../shell/AppState.h"

void OnHotkeyEvent(HWND window, UINT message, WPARAM virtualKey, LPARAM keyData);
void OnAltStateChange(LPARAM altBit);
void OnSequenceTimer();
void OnOptimizeTimer();
void OnAltDelayTimer();
