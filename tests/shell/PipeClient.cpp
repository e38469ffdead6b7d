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

PipeExchange ExchangeOverPipe(const std::wstring &pipeName, const std::vector<BYTE> &message, DWORD replyWaitMs,
                              bool sendNothing, DWORD pipeWaitMs)
{
    PipeExchange exchange;
    // The applet's window comes up a moment before its pipe does.
    HANDLE pipe = INVALID_HANDLE_VALUE;
    DWORD start = GetTickCount();
    for (;;) {
        pipe = CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE)
            break;
        exchange.openError = GetLastError();
        if (exchange.openError != ERROR_FILE_NOT_FOUND || GetTickCount() - start >= pipeWaitMs)
            return exchange;
        Sleep(20);
    }
    exchange.connected = true;
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);

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
