// Starting a program for the user at this desktop, with that user's ordinary
// rights, from an installer that may run elevated, under another account, or
// as the system: DesktopUser.exe (the Setup program's helper) and the Windows
// Installer package's custom action share it.
//   StartAsDesktopUser - starts a program as the desktop's user, or says whether it could
//   DesktopUserSid     - the user logged on in this session, as a SID string
#pragma once

#include <windows.h>

// Starts program as the desktop's user with ordinary rights; without a
// program, only answers whether that can be had. False where nobody is
// logged on at this desktop, or the start cannot be had with those rights.
bool StartAsDesktopUser(const wchar_t *program);

// The user logged on in this session, whoever this process runs as; false
// where nobody is logged on, as in the session of services.
bool DesktopUserSid(wchar_t *sidText, DWORD capacity);
