// The Windows Installer package's one custom action (VarnelKVM.wxs runs it
// before the check for files in use, on every install, update, repair and
// removal): each running VarnelKVM is ended the way the applet itself offers,
// by a second start of its program with /x, and waited for, so that neither
// VarnelKVM.exe nor Quillhook.dll is in use when their files are replaced or
// removed. A copy that does not end in time is stopped. Windows Installer
// cannot wait for a process by itself, hence a DLL rather than a plain
// "VarnelKVM.exe /x" action.
//
// Functions: EndRunningCopies (exported), Log, StartWithX.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <psapi.h>

namespace {

// The applet's hidden main window: a start with /x finds it by this class.
wchar_t const APPLET_CLASS[] = L"Morvax";
// The Exit command that /x posts; sent directly only when /x cannot be started.
WPARAM const COMMAND_EXIT = 105;
DWORD const EXIT_WAIT_MS = 15000;
// The exit code of a copy that had to be stopped (one that ends itself gives 0).
UINT const STOPPED_EXIT_CODE = 1;
// More copies than this in one session means they keep coming back: leave them.
int const MOST_COPIES = 5;

// One line in the installer's log (msiexec /l*v).
void Log(MSIHANDLE install, const wchar_t *format, DWORD processId)
{
    wchar_t line[160];
    wsprintfW(line, format, processId);
    MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, line);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

// The running copy's own program started with /x: it posts that copy the
// Exit command and ends at once. The program is where the copy runs from,
// wherever that was installed; this package's files are not there yet.
bool StartWithX(HANDLE process)
{
    wchar_t program[MAX_PATH];
    if (process == nullptr || GetModuleFileNameExW(process, nullptr, program, MAX_PATH) == 0)
        return false;
    wchar_t commandLine[MAX_PATH + 8];
    wsprintfW(commandLine, L"\"%s\" /x", program);
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    WaitForSingleObject(info.hProcess, EXIT_WAIT_MS);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
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
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
                                     FALSE, processId);
        Log(install, L"Ending the running VarnelKVM (process %u) with /x", processId);
        if (!StartWithX(process)) {
            Log(install, L"VarnelKVM (process %u) cannot be started again with /x: sending it the Exit command",
                processId);
            PostMessageW(window, WM_COMMAND, COMMAND_EXIT, 0);
        }
        if (process != nullptr) {
            if (WaitForSingleObject(process, EXIT_WAIT_MS) != WAIT_OBJECT_0) {
                Log(install, L"VarnelKVM (process %u) did not end in time: stopping it", processId);
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
