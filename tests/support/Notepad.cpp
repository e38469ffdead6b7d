#include "Notepad.h"
#include "AppletProcess.h"
#include "UnixCommand.h"
#include "Wait.h"

static DWORD const NOTEPAD_TIMEOUT_MS = 15000;
static DWORD const PROBE_TIMEOUT_MS = 1500;
static int const FOCUS_ATTEMPTS = 10;

Notepad::Notepad()
{
    STARTUPINFOW startup = {sizeof(startup)};
    wchar_t line[] = L"notepad.exe";
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_))
        return;
    WaitForInputIdle(process_.hProcess, NOTEPAD_TIMEOUT_MS);
    window_ = WaitForVisibleWindow(process_.dwProcessId, NOTEPAD_TIMEOUT_MS);
    if (window_ != nullptr)
        edit_ = FindWindowExW(window_, nullptr, L"Edit", nullptr);
}

Notepad::~Notepad()
{
    if (process_.hProcess != nullptr) {
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, NOTEPAD_TIMEOUT_MS);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
}

testing::AssertionResult Notepad::focus(const std::function<void()> &typeProbe, const std::function<bool()> &arrived)
{
    if (!started())
        return testing::AssertionFailure() << "Notepad showed no window";
    for (int attempt = 0; attempt < FOCUS_ATTEMPTS; ++attempt) {
        SetForegroundWindow(window_);
        size_t const before = text().size();
        typeProbe();
        if (PumpUntil("the probe key in Notepad", arrived ? arrived : [&] { return text().size() > before; },
                      PROBE_TIMEOUT_MS))
            return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "keys typed in " << FOCUS_ATTEMPTS << " attempts never reached Notepad";
}

int Notepad::giveXFocus()
{
    RECT area;
    GetWindowRect(edit_, &area);
    return GiveXFocusAt(area);
}

std::wstring Notepad::text()
{
    wchar_t buffer[4096] = {};
    SendMessageTimeoutW(edit_, WM_GETTEXT, 4096, (LPARAM)buffer, SMTO_NORMAL, NOTEPAD_TIMEOUT_MS, nullptr);
    return buffer;
}
