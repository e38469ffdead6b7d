// DesktopUser.exe, carried in the Setup program's plugins folder and never
// installed. The Setup program runs elevated, and what it starts or schedules
// for the user must have the rights of the user at the desktop, not its own:
// a VarnelKVM started with an administrator's full rights gets no hotkeys from
// ordinary programs, and an ordinary "VarnelKVM.exe /x" cannot end it.
//
//   DesktopUser.exe start PROGRAM     starts PROGRAM as the desktop's user with
//                                     ordinary rights; exit code 1 when that cannot be had
//   DesktopUser.exe check             exit code 0 when such a start can be had
//   DesktopUser.exe task NAME PROGRAM registers the scheduled task NAME that starts
//                                     "PROGRAM" /s with the desktop user's full rights
//                                     when that user logs on; exit code 1 when it cannot
#include "DesktopStart.h"
#include "LogonTask.h"

#include <shellapi.h>

namespace {

int const SUCCEEDED_CODE = 0;
int const FAILED_CODE = 1;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand)
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr)
        return FAILED_CODE;
    const wchar_t *verb = count >= 2 ? arguments[1] : L"";
    bool done = false;
    if (count == 3 && lstrcmpiW(verb, L"start") == 0)
        done = StartAsDesktopUser(arguments[2]);
    else if (count == 2 && lstrcmpiW(verb, L"check") == 0)
        done = StartAsDesktopUser(nullptr);
    else if (count == 4 && lstrcmpiW(verb, L"task") == 0)
        done = RegisterLogonTask(arguments[2], arguments[3]);
    LocalFree(arguments);
    return done ? SUCCEEDED_CODE : FAILED_CODE;
}
