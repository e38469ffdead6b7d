// Ordinary programs' messages to an applet that runs elevated (MessageFilter.cpp).
#pragma once

#include <windows.h>

// The two forms of the filter call, each present only on the Windows that has it.
typedef BOOL(WINAPI *ChangeWindowMessageFilterExProc)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);  // Windows 7
typedef BOOL(WINAPI *ChangeWindowMessageFilterProc)(UINT, DWORD);                                // Vista
struct MessageFilterFunctions {
    ChangeWindowMessageFilterExProc perWindow;
    ChangeWindowMessageFilterProc processWide;
};

bool RunsElevated();
MessageFilterFunctions LoadMessageFilterFunctions();
// Lets exactly the messages that ordinary programs legitimately send through
// to window, when elevated; the number let through.
UINT AllowMessagesFromOrdinaryPrograms(HWND window, bool elevated, const MessageFilterFunctions &functions);
// Start-up's call, for the main window.
void AllowOrdinaryProgramsToMainWindow();
