// The scheduled task that, with the installer's choice, starts VarnelKVM at
// the user's logon with that user's full rights, so that its hotkeys also
// work in windows running as administrator.
//   LogonTaskDefinition - the task's definition, as Task Scheduler reads it
//   RegisterLogonTask   - the task for the desktop's user, registered from memory
#pragma once

#include <windows.h>

// The definition for the user with this SID that starts "program" /s at that
// user's logon; false when it does not fit.
bool LogonTaskDefinition(const wchar_t *userSid, const wchar_t *program, wchar_t *xml, size_t capacity);

// Registers (or replaces) the task named taskName for the user logged on at
// this desktop, straight from memory: no file lies anywhere in between for
// another program to rewrite before Task Scheduler reads it.
bool RegisterLogonTask(const wchar_t *taskName, const wchar_t *program);
