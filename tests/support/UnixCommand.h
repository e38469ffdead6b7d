// Running a program of the Linux side (xdotool, the shell) from a test under Wine.
#pragma once

#include <windows.h>
#include <string>

// Runs /bin/sh -c `command` as a Unix process (Wine starts ELF programs
// directly) and waits until it has finished; its exit status, or -1 on time-out.
int RunUnixCommand(const std::string &command, DWORD timeoutMs = 10000);

// Moves the X pointer to the middle of `area` (screen coordinates) and gives
// the X window there the keyboard focus, for xdotool's keys to reach it.
// Without a window manager Wine leaves the X focus where it was, and an X
// focus on the root window sends keys to whatever lies under the pointer,
// which an earlier test on the display may have moved. Its exit status.
int GiveXFocusAt(const RECT &area);
