// The instance control pipe: another process can end the applet by sending
// it the two-byte command 105. One command is served in the life of the
// process (a client that stays silent, or leaves without a byte, is let go
// unserved); it reaches the main thread through appState.pipeCommand, which
// the 5-second pipe timer looks at.
//   StartInstancePipe        - creates the pipe, its server thread and the poll timer
//   FinishPipeIo             - waits for one overlapped operation on the pipe
//   ConnectClient            - waits for the next client
//   ReadFromNextClient       - the first client that sends anything, and what it sent
//   PipeServerThread         - serves the one command
//   PipeRejectsRemoteClients - whether this Windows can keep other machines out
//   PipeSecurity             - who may talk to the pipe of an elevated applet
//   OnPipeTimer              - the pipe branch of TimerProc
#include "Shell.h"
#include "MessageFilter.h"

#include <sddl.h>

namespace {

WORD const PIPE_EXIT_COMMAND = 105;
DWORD const PIPE_BUFFER_BYTES = 4;
DWORD const PIPE_DEFAULT_TIMEOUT_MS = 1;
// Older headers lack it; Windows before Vista rejects it.
DWORD const REJECT_REMOTE_CLIENTS = 0x00000008;
// A client that has sent nothing for this long is let go.
DWORD const SILENT_CLIENT_LIMIT_MS = 5000;

// How an overlapped operation on the pipe ended, given the call's own result:
// ERROR_SUCCESS, its error, or ERROR_TIMEOUT when it was still running after
// timeoutMs (it is then cancelled).
DWORD FinishPipeIo(BOOL started, OVERLAPPED &io, DWORD timeoutMs, DWORD *bytes)
{
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return GetLastError();
    bool inTime = WaitForSingleObject(io.hEvent, timeoutMs) == WAIT_OBJECT_0;
    if (!inTime)
        CancelIo(appState.pipeHandle);
    if (GetOverlappedResult(appState.pipeHandle, &io, bytes, TRUE))
        return ERROR_SUCCESS;
    return !inTime && GetLastError() == ERROR_OPERATION_ABORTED ? ERROR_TIMEOUT : GetLastError();
}

// False when the pipe can take no client any more. A client may come before
// the pipe listens (ERROR_PIPE_CONNECTED), and may even have left again
// (ERROR_NO_DATA): that one is served like any client that leaves, its read
// fails and it gives no command.
bool ConnectClient(OVERLAPPED &io)
{
    DWORD unused = 0;
    ResetEvent(io.hEvent);
    DWORD result = FinishPipeIo(ConnectNamedPipe(appState.pipeHandle, &io), io, INFINITE, &unused);
    return result == ERROR_SUCCESS || result == ERROR_PIPE_CONNECTED || result == ERROR_NO_DATA;
}

// Any local program can connect, and the pipe serves one command in its life:
// a client that never writes, or that leaves before it writes a byte (a
// crashed client, a tool that only looks whether the pipe is there), must not
// take that one chance away. Each is let go, and the next client served.
// False when the pipe can take no client any more.
bool ReadFromNextClient(OVERLAPPED &io, BYTE (&message)[2], DWORD *bytesRead, DWORD *result)
{
    do {
        if (!ConnectClient(io))
            return false;
        ResetEvent(io.hEvent);
        *bytesRead = 0;
        *result = FinishPipeIo(ReadFile(appState.pipeHandle, message, sizeof(message), nullptr, &io), io,
                               SILENT_CLIENT_LIMIT_MS, bytesRead);
        // A message too long for the buffer fills it (ERROR_MORE_DATA): that is no silence.
        if (*result == ERROR_MORE_DATA)
            return true;
        if (*bytesRead == 0)
            DisconnectNamedPipe(appState.pipeHandle);
    } while (*bytesRead == 0);
    return true;
}

DWORD WINAPI PipeServerThread(void *)
{
    OVERLAPPED io = {};
    io.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    BYTE message[2] = {};
    DWORD bytesRead = 0;
    DWORD result = ERROR_SUCCESS;
    if (!ReadFromNextClient(io, message, &bytesRead, &result)) {
        CloseHandle(io.hEvent);
        return 0;
    }

    // A command is exactly one two-byte message: a shorter one, a longer one
    // (ERROR_MORE_DATA) or a failed read is no command at all.
    WORD command = 0;
    if (result == ERROR_SUCCESS && bytesRead == sizeof(message))
        command = (WORD)(message[0] | (message[1] << 8));
    // Handed to the main thread before the echo: a client that never reads
    // the echo keeps the flush below waiting, and must not keep the applet
    // from ending.
    appState.pipeCommand = command;
    DebugLineF(L"Cmd read from pipe is %u", (unsigned)command);
    if (command == PIPE_EXIT_COMMAND) {
        DebugLine(L"Got an 'Exit' CMD");
        DWORD bytesWritten = 0;
        ResetEvent(io.hEvent);
        FinishPipeIo(WriteFile(appState.pipeHandle, message, bytesRead, nullptr, &io), io, INFINITE, &bytesWritten);
    }
    FlushFileBuffers(appState.pipeHandle);
    DisconnectNamedPipe(appState.pipeHandle);
    CloseHandle(io.hEvent);

    DebugLineF(L"Incoming command %u received\n", (unsigned)command);
    return 0;
}

// From Windows Vista on the pipe can refuse clients on other computers.
bool PipeRejectsRemoteClients()
{
    return appState.osVersion.dwMajorVersion >= 6;
}

// An elevated applet (the installer's choice to switch from windows running
// as administrator too) hears its user's ordinary programs: its window lets
// their "/x" through. The pipe follows the same rule. Its default security
// would let only administrators write to it, so the user's ordinary programs
// are named, and the pipe marked for ordinary integrity. Null (the default
// security) for an applet with the user's ordinary rights, which the default
// already lets them reach. The descriptor lives as long as the process.
SECURITY_ATTRIBUTES *PipeSecurity()
{
    static SECURITY_ATTRIBUTES attributes = {sizeof(attributes)};
    HANDLE token = nullptr;
    if (!RunsElevated() || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } owner;
    DWORD size = 0;
    wchar_t *user = nullptr;
    bool known = GetTokenInformation(token, TokenUser, &owner, sizeof(owner), &size) &&
                 ConvertSidToStringSidW(owner.user.User.Sid, &user);
    CloseHandle(token);
    if (!known)
        return nullptr;
    // System and administrators as by default; the user may read and write.
    wchar_t sddl[512];
    wsprintfW(sddl, L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGW;;;%s)S:(ML;;NW;;;ME)", user);
    LocalFree(user);
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, nullptr))
        return nullptr;
    return &attributes;
}

}  // namespace

void StartInstancePipe()
{
    // Named without a language: the system's own choice of string table
    // decides, so the pipe is "Kestrel" where the French, Italian or Dutch
    // table is chosen, and "Morvax" elsewhere.
    wchar_t name[64] = {};
    LoadStringW(appState.instance, IDS_CLASS_NAME, name, sizeof(name) / sizeof(name[0]));
    lstrcpyW(appState.pipeName, L"\\\\.\\pipe\\");
    lstrcatW(appState.pipeName, name);

    // Only programs on this computer may end the applet.
    DWORD pipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
    if (PipeRejectsRemoteClients())
        pipeMode |= REJECT_REMOTE_CLIENTS;
    // Overlapped, so that a client that says nothing can be let go.
    appState.pipeHandle = CreateNamedPipeW(appState.pipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                           pipeMode, PIPE_UNLIMITED_INSTANCES, PIPE_BUFFER_BYTES, PIPE_BUFFER_BYTES,
                                           PIPE_DEFAULT_TIMEOUT_MS, PipeSecurity());
    if (appState.pipeHandle == INVALID_HANDLE_VALUE) {
        // The applet runs on without the pipe; whoever watches the debug output learns why.
        DebugLineF(L"Create Pipe failed with error %u\n", (unsigned)GetLastError());
        return;
    }
    appState.pipeThread = CreateThread(nullptr, 0, PipeServerThread, nullptr, 0, nullptr);
    appState.pipeTimerId = StartThreadTimer(PIPE_TIMER, PIPE_TIMER_PERIOD);
}

void OnPipeTimer()
{
    StopThreadTimer(&appState.pipeTimerId);
    if (appState.pipeCommand == PIPE_EXIT_COMMAND)
        DestroyWindow(appState.mainWindow);
    else
        DebugLine(L"Keep running, no action from the pipe\n");
    // Re-armed even after an exit: the exit sequence has ended the message
    // loop before it could fire.
    appState.pipeTimerId = StartThreadTimer(PIPE_TIMER, PIPE_TIMER_PERIOD);
}
