#include "PipeClient.h"

namespace {

// Waits for an overlapped operation; cancels it on time-out. True with its byte count when it completed well.
bool FinishOverlapped(HANDLE pipe, OVERLAPPED &overlapped, BOOL started, DWORD timeoutMs, DWORD *bytes)
{
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return GetLastError() == ERROR_MORE_DATA && GetOverlappedResult(pipe, &overlapped, bytes, FALSE);
    if (WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, bytes, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &overlapped, bytes, FALSE) || GetLastError() == ERROR_MORE_DATA;
}

}  // namespace

bool WaitForPipe(const std::wstring &pipeName, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!WaitNamedPipeW(pipeName.c_str(), 100)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

std::vector<BYTE> CommandBytes(WORD command)
{
    return {LOBYTE(command), HIBYTE(command)};
}

HANDLE ConnectToPipe(const std::wstring &pipeName, DWORD pipeWaitMs, DWORD *openError)
{
    // The applet's window comes up a moment before its pipe does.
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE pipe = CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
            return pipe;
        }
        *openError = GetLastError();
        // Busy: the server is still letting the last client go. A client waits its turn.
        bool comesLater = *openError == ERROR_FILE_NOT_FOUND || *openError == ERROR_PIPE_BUSY;
        if (!comesLater || GetTickCount() - start >= pipeWaitMs)
            return INVALID_HANDLE_VALUE;
        if (*openError == ERROR_PIPE_BUSY)
            WaitNamedPipeW(pipeName.c_str(), 100);
        else
            Sleep(20);
    }
}

PipeExchange ExchangeOverPipe(const std::wstring &pipeName, const std::vector<BYTE> &message, DWORD replyWaitMs,
                              bool sendNothing, DWORD pipeWaitMs)
{
    PipeExchange exchange;
    HANDLE pipe = ConnectToPipe(pipeName, pipeWaitMs, &exchange.openError);
    if (pipe == INVALID_HANDLE_VALUE)
        return exchange;
    exchange.connected = true;

    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD bytes = 0;
    if (!sendNothing) {
        BOOL started = WriteFile(pipe, message.data(), (DWORD)message.size(), nullptr, &overlapped);
        exchange.wrote = FinishOverlapped(pipe, overlapped, started, 2000, &bytes);
    }
    if (replyWaitMs > 0) {
        BYTE reply[64] = {};
        ResetEvent(overlapped.hEvent);
        BOOL started = ReadFile(pipe, reply, sizeof(reply), nullptr, &overlapped);
        if (FinishOverlapped(pipe, overlapped, started, replyWaitMs, &bytes))
            exchange.reply.assign(reply, reply + bytes);
    }
    CloseHandle(overlapped.hEvent);
    CloseHandle(pipe);
    return exchange;
}

size_t CountLines(DebugListener &debug, DWORD processId, const std::string &line)
{
    size_t count = 0;
    for (const std::string &text : debug.linesFrom(processId))
        count += text == line ? 1 : 0;
    return count;
}

bool WaitForLineCount(DebugListener &debug, DWORD processId, const std::string &line, size_t count,
                      DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (CountLines(debug, processId, line) < count) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}
