// Drives a real modal dialog of the applet in this process, as a user would:
// the dialog is opened the way the applet opens it, and a script runs inside
// its modal loop once it is on screen, clicking and reading its controls.
//   DriveModalDialog - opens the dialog, runs the script, reports how it ended
//   Click            - BM_CLICK on a control the user can reach
//   ControlState     - "checked", "disabled", "hidden" of one control, for tables
//   ControlText      - a control's text
#pragma once

#include <windows.h>
#include <functional>
#include <string>

struct DialogRun {
    bool appeared = false;        // a dialog came up
    bool closedByScript = false;  // the script's last action ended it
};

// Under Wine on a display without a window manager, a dialog takes about two
// seconds to close (Wine waits for the hidden window's state to settle).
// `open` shows the modal dialog (and returns when it ends); `script` runs on
// it inside the modal loop. A dialog the script leaves open is cancelled.
DialogRun DriveModalDialog(const std::function<void()> &open, const std::function<void(HWND)> &script,
                           DWORD timeoutMs = 5000);

// Clicks a control that is there, visible and enabled; false (and no click) otherwise.
bool Click(HWND dialog, int control);
// "" for an unchecked, enabled, visible control; else its marks joined by
// commas ("checked", "disabled", "hidden"); "missing" when the layout lacks it.
std::string ControlState(HWND dialog, int control);
std::wstring ControlText(HWND dialog, int control);
std::wstring WindowText(HWND window);
