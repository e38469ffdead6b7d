// Dialogs: Options, device connection sounds, About.
#pragma once

#include "../shell/AppState.h"

// Options (Options.cpp)
// Opens the Options dialog in the layout of the switch at hand, or brings the
// one already open to the front.
void ShowOptionsDialog(HWND owner);
INT_PTR CALLBACK OptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Both hotkey groups from the stored keys, enabled by the two flags.
void RefreshHotkeyGroups(HWND dialog, DWORD enableSwitching, DWORD enableOptimize);
// The optimize group never offers the key of the switching radio just clicked.
void ExcludeOptimizeKey(HWND dialog, int clickedId);
// The Options dialog now open, or null.
HWND OpenOptionsDialog();

// Device connection sounds (Sounds.cpp), Windows XP (5.1) and later.
bool DeviceSoundsAvailable();
DWORD AreDeviceSoundsOn();
void SetDeviceSounds(DWORD on);
void SetDeviceSound(const wchar_t *current, const wchar_t *schemeDefault, DWORD on);

// About (About.cpp)
// Opens the About dialog, or brings the one already open to the front.
void ShowAboutDialog(HWND owner);
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The About dialog now open, or null.
HWND OpenAboutDialog();

// A dialog already open comes to the front instead of a second copy (DialogFront.cpp).
void BringDialogToFront(HWND dialog);
