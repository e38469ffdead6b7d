// The Windows Installer package's custom actions (VarnelKVM.wxs runs them):
// EndRunningCopies, before the check for files in use on every install,
// update, repair and removal, ends each running VarnelKVM and waits for it,
// so that neither VarnelKVM.exe nor Quillhook.dll is in use when their files
// are replaced or removed; RestartEndedCopy, once the files are in place,
// starts again the copy it ended, as the user at the desktop. Windows
// Installer can neither wait for a process nor start one with the desktop
// user's ordinary rights by itself, hence a DLL.
//
// Functions: EndRunningCopies and RestartEndedCopy (exported), Log.
#include "DesktopStart.h"

#include <msi.h>
#include <msiquery.h>

namespace {

// The applet's hidden main window.
wchar_t const APPLET_CLASS[] = L"Morvax";
// The applet's Exit command, with the mark that tells it an installer asks:
// it then ends without switching the computers, so that the installer's own
// windows stay on this computer's screen.
WPARAM const COMMAND_EXIT = 105;
LPARAM const EXIT_FOR_INSTALLER = 0x564B494E;
DWORD const EXIT_WAIT_MS = 15000;
// The exit code of a copy that had to be stopped (one that ends itself gives 0).
UINT const STOPPED_EXIT_CODE = 1;
// More copies than this in one session means they keep coming back: leave them.
int const MOST_COPIES = 5;
// Set by EndRunningCopies when it ended a copy; the package's condition for RestartEndedCopy.
wchar_t const ENDED_PROPERTY[] = L"VARNELKVM_ENDED";

// One line in the installer's log (msiexec /l*v).
void Log(MSIHANDLE install, const wchar_t *format, const void *argument)
{
    wchar_t line[160 + MAX_PATH];
    wsprintfW(line, format, argument);
    MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, line);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

}  // namespace

// Never fails the installation: a copy that would not go leaves its files to
// Windows Installer's own handling of files in use.
extern "C" __declspec(dllexport) UINT __stdcall EndRunningCopies(MSIHANDLE install)
{
    for (int copy = 0; copy < MOST_COPIES; ++copy) {
        HWND window = FindWindowW(APPLET_CLASS, nullptr);
        if (window == nullptr)
            break;
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
        Log(install, L"Ending the running VarnelKVM (process %u)", (const void *)(DWORD_PTR)processId);
        PostMessageW(window, WM_COMMAND, COMMAND_EXIT, EXIT_FOR_INSTALLER);
        MsiSetPropertyW(install, ENDED_PROPERTY, L"1");
        if (process != nullptr) {
            if (WaitForSingleObject(process, EXIT_WAIT_MS) != WAIT_OBJECT_0) {
                Log(install, L"VarnelKVM (process %u) did not end in time: stopping it",
                    (const void *)(DWORD_PTR)processId);
                TerminateProcess(process, STOPPED_EXIT_CODE);
                WaitForSingleObject(process, 5000);
            }
            CloseHandle(process);
        } else {
            // Not ours to open: wait for its window to go instead.
            for (DWORD waited = 0; IsWindow(window) && waited < EXIT_WAIT_MS; waited += 100)
                Sleep(100);
        }
    }
    return ERROR_SUCCESS;
}

// Users who update or repair find the tray icon and the hotkeys as before.
// Never fails the installation either: where the copy cannot be started as
// the desktop's user with ordinary rights, it starts at the next logon.
extern "C" __declspec(dllexport) UINT __stdcall RestartEndedCopy(MSIHANDLE install)
{
    wchar_t program[MAX_PATH + 16] = L"";
    DWORD chars = MAX_PATH;
    if (MsiGetPropertyW(install, L"INSTALLDIR", program, &chars) != ERROR_SUCCESS || chars == 0 || chars >= MAX_PATH)
        return ERROR_SUCCESS;
    lstrcatW(program, L"VarnelKVM.exe");
    if (StartAsDesktopUser(program))
        Log(install, L"Started %s again as the user at the desktop", program);
    else
        Log(install, L"%s cannot be started again as the user at the desktop: it starts at the next logon", program);
    return ERROR_SUCCESS;
}
