#include "PipeClient.h"
#include "Wait.h"

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

testing::AssertionResult WaitForPipe(const std::wstring &pipeName, DWORD timeoutMs)
{
    return WaitUntil("the applet to listen on its pipe", [&] { return WaitNamedPipeW(pipeName.c_str(), 100) != FALSE; },
                     timeoutMs);
}

std::vector<BYTE> CommandBytes(WORD command)
{
    return {LOBYTE(command), HIBYTE(command)};
}

HANDLE ConnectToPipe(const std::wstring &pipeName, DWORD pipeWaitMs, DWORD *openError)
{
    // The applet's window comes up a moment before its pipe does; a busy
    // pipe is still letting the last client go. A client waits its turn.
    HANDLE pipe = INVALID_HANDLE_VALUE;
    WaitUntil("a connection to the pipe", [&] {
        pipe = CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
        *openError = pipe == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (*openError == ERROR_PIPE_BUSY)
            WaitNamedPipeW(pipeName.c_str(), 100);
        return pipe != INVALID_HANDLE_VALUE || (*openError != ERROR_FILE_NOT_FOUND && *openError != ERROR_PIPE_BUSY);
    }, pipeWaitMs);
    if (pipe != INVALID_HANDLE_VALUE) {
        DWORD mode = PIPE_READMODE_MESSAGE;
        SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    }
    return pipe;
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
