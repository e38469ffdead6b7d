// What a long run watches of one running program under Wine: its private
// memory and threads as Linux counts them, its kernel handles, GDI objects and
// windows as Windows would.
//   UnixProcessOf     - the Linux process that runs a Windows one
//   PrivateKib        - Private_Dirty + Swap of /proc/PID/smaps_rollup: the memory
//                       the process itself wrote (unwritten file pages, Private_Clean,
//                       come and go with the kernel's page cache)
//   UnixThreadCount   - the entries of /proc/PID/task
//   KernelHandleCount - its kernel handles (HandleCount.h, shared with the tests)
//   GdiObjectCounts   - the used entries of the process's own GDI handle table
//   WindowCount       - its windows: top-level, message-only and their children
//
// Wine 8 answers GetProcessHandleCount and GetGuiResources with 0 for every
// process, so those are counted the ways below. Each count is -1 when it
// cannot be had.
#pragma once

#include "HandleCount.h"

#include <windows.h>
#include <string>

// The Linux pid of the Wine process whose command line names `program` and
// whose environment holds `marker` (NAME=VALUE); the oldest when several do.
// 0 when none does.
DWORD UnixProcessOf(const std::wstring &program, const std::string &marker);

long long PrivateKib(DWORD unixPid);
long long UnixThreadCount(DWORD unixPid);
// Every GDI object, and the applet's own: not Wine's stock objects, its
// system objects (the system colours' pens and brushes, made as first
// needed), nor its cache of window device contexts (up to 64, each with a
// surface and a visible region, made as windows come and go until it has 64).
struct GdiCounts {
    long long all = -1;
    long long applets = -1;
};
GdiCounts GdiObjectCounts(HANDLE process);
long long WindowCount(DWORD windowsPid);
