// The hotkey recognizer.
#include "Hotkeys.h"

void OnHotkeyEvent(HWND window, UINT message, WPARAM virtualKey, LPARAM keyData)
{
    // Not built yet.
}

void OnAltStateChange(LPARAM altBit)
{
    appState.videoOnly = altBit != 0 ? 1 : 0;
}

void OnSequenceTimer()
{
}

void OnOptimizeTimer()
{
}

void OnAltDelayTimer()
{
}
