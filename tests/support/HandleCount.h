// The kernel handles a process holds, counted from outside as the system
// lists them: Wine 8 answers GetProcessHandleCount with 0 for every process.
#pragma once

#include <windows.h>

// -1 when the system's handle list cannot be read.
long long KernelHandleCount(DWORD windowsPid);
