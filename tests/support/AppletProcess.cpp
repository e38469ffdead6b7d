#include "AppletProcess.h"
#include "Wait.h"

std::wstring BinaryFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

AppletProcess::AppletProcess(const std::wstring &arguments, const std::wstring &program)
{
    programPath_ = BinaryFolder() + L"\\" + program;
    commandLine_ = L"\"" + programPath_ + L"\"";
    if (!arguments.empty())
        commandLine_ += L" " + arguments;
}

AppletProcess::~AppletProcess()
{
    terminate();
    if (info_.hProcess != nullptr)
        CloseHandle(info_.hProcess);
    if (info_.hThread != nullptr)
        CloseHandle(info_.hThread);
}

bool AppletProcess::start()
{
    STARTUPINFOW startup = {sizeof(startup)};
    std::wstring mutableLine = commandLine_;
    return CreateProcessW(programPath_.c_str(), &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          BinaryFolder().c_str(), &startup, &info_) != FALSE;
}

struct WindowSearch {
    DWORD processId;
    HWND found;
};

static BOOL CALLBACK MatchAppletWindow(HWND window, LPARAM context)
{
    WindowSearch *search = (WindowSearch *)context;
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (wcscmp(className, L"Morvax") != 0)
        return TRUE;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (search->processId != 0 && owner != search->processId)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindAppletWindow(DWORD processId)
{
    WindowSearch search = {processId, nullptr};
    EnumWindows(MatchAppletWindow, (LPARAM)&search);
    return search.found;
}

static BOOL CALLBACK MatchVisibleWindow(HWND window, LPARAM context)
{
    WindowSearch *search = (WindowSearch *)context;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitForVisibleWindow(DWORD processId, DWORD timeoutMs)
{
    WindowSearch search = {processId, nullptr};
    WaitUntil("a window of process " + std::to_string(processId), [&] {
        EnumWindows(MatchVisibleWindow, (LPARAM)&search);
        return search.found != nullptr;
    }, timeoutMs);
    return search.found;
}

struct DialogSearch {
    DWORD processId;
    const wchar_t *caption;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectDialog(HWND window, LPARAM context)
{
    DialogSearch *search = (DialogSearch *)context;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (owner != search->processId || !IsWindowVisible(window) || wcscmp(className, L"#32770") != 0)
        return TRUE;
    // Read without a message: a hung window of this process must not hang the search.
    wchar_t caption[128] = {};
    InternalGetWindowText(window, caption, 128);
    if (search->caption == nullptr || wcscmp(caption, search->caption) == 0)
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleDialogs(DWORD processId, const wchar_t *caption)
{
    DialogSearch search = {processId, caption, {}};
    EnumWindows(CollectDialog, (LPARAM)&search);
    return search.found;
}

HWND WaitForDialog(DWORD processId, const wchar_t *caption, DWORD timeoutMs)
{
    HWND found = nullptr;
    PumpUntil("a dialog", [&] {
        std::vector<HWND> dialogs = VisibleDialogs(processId, caption);
        found = dialogs.empty() ? nullptr : dialogs[0];
        return found != nullptr;
    }, timeoutMs);
    return found;
}

HWND AppletProcess::waitForWindow(DWORD timeoutMs)
{
    // A process that has ended will show none.
    WaitUntil("the applet's window", [&] {
        window_ = info_.hProcess != nullptr ? FindAppletWindow(info_.dwProcessId) : nullptr;
        return window_ != nullptr || !running();
    }, timeoutMs);
    return window_;
}

LRESULT AppletProcess::send(UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window_, message, wParam, lParam, SMTO_NORMAL, 10000, &result);
    return (LRESULT)result;
}

testing::AssertionResult AppletProcess::handled(UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window_, message, wParam, lParam, SMTO_NORMAL, 10000, &result) != 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "the applet did not answer message " << message << " (" << wParam
                                       << "), error " << GetLastError();
}

testing::AssertionResult AppletProcess::reachedMessageLoop(DWORD timeoutMs)
{
    DWORD_PTR result = 0;
    if (window_ != nullptr && SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "waited " << timeoutMs << " ms for the applet's message loop to answer";
}

testing::AssertionResult AppletProcess::waitForStartUp(DebugListener &debug, DWORD timeoutMs)
{
    testing::AssertionResult hook = debug.waitForLine(pid(), "Starting the hook\n", timeoutMs);
    return hook ? reachedMessageLoop(timeoutMs) : hook;
}

bool AppletProcess::post(UINT message, WPARAM wParam, LPARAM lParam)
{
    return PostMessageW(window_, message, wParam, lParam) != FALSE;
}

bool AppletProcess::running()
{
    return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool AppletProcess::waitForExit(DWORD timeoutMs, DWORD *exitCode)
{
    if (info_.hProcess == nullptr || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode != nullptr)
        GetExitCodeProcess(info_.hProcess, exitCode);
    return true;
}

void AppletProcess::terminate()
{
    if (running()) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
    }
}
