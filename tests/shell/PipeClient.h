// A client of the applet's control pipe, as any other program would be one:
// connect, send one message, wait a while for an answer.
//   ConnectToPipe       - connect, as every client does first
//   ExchangeOverPipe    - connect, send, read the answer
//   WaitForPipe         - waits until the applet listens
//   CommandBytes        - a command as the pipe carries it
#pragma once

#include "DebugListener.h"

#include <windows.h>
#include <string>
#include <vector>

std::wstring const MORVAX_PIPE = L"\\\\.\\pipe\\Morvax";
std::wstring const KESTREL_PIPE = L"\\\\.\\pipe\\Kestrel";
std::string const KEEP_RUNNING_LINE = "Keep running, no action from the pipe\n";

struct PipeExchange {
    bool connected = false;
    DWORD openError = 0;            // when not connected
    bool wrote = false;
    std::vector<BYTE> reply;        // what came back before the pipe closed or the wait ended
};

// A client end of the pipe, in message mode, opened for overlapped use
// (waiting up to pipeWaitMs for the pipe to exist); INVALID_HANDLE_VALUE with
// the error in *openError when it cannot be had.
HANDLE ConnectToPipe(const std::wstring &pipe, DWORD pipeWaitMs, DWORD *openError);

// Connects to the pipe (waiting up to pipeWaitMs for it to exist) and sends
// `message` as one message (nothing at all when `sendNothing`), then reads
// whatever comes back within replyWaitMs.
PipeExchange ExchangeOverPipe(const std::wstring &pipe, const std::vector<BYTE> &message,
                              DWORD replyWaitMs = 2000, bool sendNothing = false, DWORD pipeWaitMs = 3000);

// Waits until a server listens on the pipe, without connecting.
testing::AssertionResult WaitForPipe(const std::wstring &pipe, DWORD timeoutMs = 3000);

// The command as the pipe carries it: two bytes, little-endian.
std::vector<BYTE> CommandBytes(WORD command);

