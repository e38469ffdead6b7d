#include "DisplayTestSupport.h"
#include "AppletProcess.h"
#include "Registry.h"
#include "SimulatedSwitch.h"
#include "Wait.h"

#include <cstdio>

const char DRAWING_LINE[] = "Drawing border\n";
const char GOING_OFF_LINE[] = "Border is going off, invalidating region\n";
const char *const RETURN_WAS_PREFIX = "Return Was: ";
const char BORDER_OFF_REPORT[] = "03 04 00 00 00 00 00 00";
const char BORDER_ON_REPORT[] = "03 04 01 00 00 00 00 00";
const char OPTIMIZE_BORDER_REPORT[] = "03 04 01 01 00 00 00 00";

std::vector<HWND> PromptWindows(DWORD processId)
{
    return VisibleDialogs(processId);
}

testing::AssertionResult WaitForPrompts(DWORD processId, size_t count, DWORD timeoutMs)
{
    return WaitUntil(
        std::to_string(count) + " Primary Monitor prompts", [&] { return PromptWindows(processId).size() == count; },
        timeoutMs, [&] { return std::to_string(PromptWindows(processId).size()) + " prompts"; });
}

std::vector<BYTE> TextBytes(const std::wstring &text)
{
    const BYTE *first = (const BYTE *)text.data();
    return std::vector<BYTE>(first, first + text.size() * sizeof(wchar_t));
}

void StoreChoice(const wchar_t *valueName, const std::wstring &text, bool withTerminator)
{
    // The registry counts a terminator that follows the data in memory as part
    // of a string value: a sentinel after the characters keeps it out.
    std::wstring data = text + (withTerminator ? L'\0' : L'*');
    DWORD bytes = (DWORD)((text.size() + (withTerminator ? 1 : 0)) * sizeof(wchar_t));
    SetRegistryValue(HKEY_CURRENT_USER, SETTINGS_KEY, valueName, REG_MULTI_SZ, data.c_str(), bytes);
}

void ForgetChoice()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, L"DefaultDisplay");
    RegCloseKey(key);
}

std::vector<BYTE> StoredValue(const wchar_t *valueName, DWORD *type)
{
    std::optional<std::vector<BYTE>> bytes = ReadRegistryBytes(HKEY_CURRENT_USER, SETTINGS_KEY, valueName, type);
    return bytes ? *bytes : std::vector<BYTE>();
}

int CountStartingWith(const std::vector<std::string> &lines, const std::string &prefix)
{
    int count = 0;
    for (const std::string &each : lines)
        count += each.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return count;
}

std::string ResolutionReportText(int width, int height)
{
    char text[64];
    snprintf(text, sizeof(text), "03 03 %02x %02x %02x %02x 00 00", (width >> 8) & 0xFF, width & 0xFF,
             (height >> 8) & 0xFF, height & 0xFF);
    return text;
}

Bystander::Bystander(bool hung) : hung_(hung)
{
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, &threadId_);
    WaitForSingleObject(ready_, 5000);
}

Bystander::~Bystander()
{
    SetEvent(release_);
    if (window_ != nullptr)
        PostMessageW(window_, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
    CloseHandle(ready_);
    CloseHandle(release_);
}

LRESULT CALLBACK Bystander::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Bystander *self = (Bystander *)GetWindowLongPtrW(window, GWLP_USERDATA);
    if (message == CLOSE_PROMPT_MESSAGE && self != nullptr)
        InterlockedIncrement(&self->closeMessages_);
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI Bystander::ThreadMain(void *context)
{
    Bystander *self = (Bystander *)context;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"DisplayTestBystander";
    RegisterClassW(&windowClass);
    self->window_ = CreateWindowExW(0, windowClass.lpszClassName, L"Bystander", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                                    100, nullptr, nullptr, windowClass.hInstance, nullptr);
    SetWindowLongPtrW(self->window_, GWLP_USERDATA, (LONG_PTR)self);
    SetEvent(self->ready_);
    if (self->hung_) {
        // Never reads a message until the test lets it go.
        WaitForSingleObject(self->release_, INFINITE);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
