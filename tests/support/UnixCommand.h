// Running a program of the Linux side (xdotool, the shell) from a test under Wine.
#pragma once

#include <windows.h>
#include <string>

// Runs /bin/sh -c `command` as a Unix process (Wine starts ELF programs
// directly) and waits until it has finished; its exit status, or -1 on time-out.
int RunUnixCommand(const std::string &command, DWORD timeoutMs = 10000);
