// Starts VarnelKVM.exe as its own process and drives it as the shell, the
// system or another copy would: find its hidden window, send or post it
// messages, wait for its exit code. Whatever happens, the destructor ends
// the process it started.
#pragma once

#include "DebugListener.h"

#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// The folder of the running test executable: the applet and its DLL are there too.
std::wstring BinaryFolder();

class AppletProcess {
public:
    explicit AppletProcess(const std::wstring &arguments = L"", const std::wstring &program = L"VarnelKVM.exe");
    // The command line exactly as the started program will see it; its first
    // word need not be the program's real path.
    void setCommandLine(const std::wstring &commandLine) { commandLine_ = commandLine; }
    std::wstring programPath() const { return programPath_; }
    // A program outside the build folder (an installed copy); the command line
    // becomes its quoted path unless set afterwards.
    void setProgramPath(const std::wstring &path)
    {
        programPath_ = path;
        commandLine_ = L"\"" + path + L"\"";
    }
    ~AppletProcess();
    AppletProcess(const AppletProcess &) = delete;
    AppletProcess &operator=(const AppletProcess &) = delete;

    bool start();                               // false when CreateProcess failed
    DWORD pid() const { return info_.dwProcessId; }
    HANDLE handle() const { return info_.hProcess; }

    // The hidden main window (class "Morvax") of this process; null on time-out.
    HWND waitForWindow(DWORD timeoutMs = 15000);
    HWND window() const { return window_; }

    LRESULT send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Sent and answered within 10 s; says which message was not.
    testing::AssertionResult handled(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Sends a message that does nothing and waits for the answer: the applet
    // has then handled every message sent to it before. It answers wherever
    // it waits for another program, start-up included: so start-up is over
    // only once it has said that it starts its hook (the step before its
    // prompts and message loop) and then answered (waitForStartUp).
    testing::AssertionResult reachedMessageLoop(DWORD timeoutMs = 10000);
    testing::AssertionResult waitForStartUp(DebugListener &debug, DWORD timeoutMs = 10000);
    bool post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    bool running();
    // True when the process ended in time; its exit code goes to *exitCode.
    bool waitForExit(DWORD timeoutMs, DWORD *exitCode = nullptr);
    void terminate();

private:
    std::wstring programPath_;
    std::wstring commandLine_;
    PROCESS_INFORMATION info_ = {};
    HWND window_ = nullptr;
};

// The main window of any running copy (class "Morvax"), or null.
HWND FindAppletWindow(DWORD processId = 0);
// A visible top-level window of the process, once one exists; null on time-out.
HWND WaitForVisibleWindow(DWORD processId, DWORD timeoutMs);
// The visible dialogs (class "#32770") of the process, those with this caption
// only when one is given.
std::vector<HWND> VisibleDialogs(DWORD processId, const wchar_t *caption = nullptr);
// The first such dialog once there is one, pumping this thread's messages
// meanwhile; null on time-out.
HWND WaitForDialog(DWORD processId, const wchar_t *caption, DWORD timeoutMs = 5000);
