#include "HookHarness.h"

#include "AppletProcess.h"
#include "Wait.h"

#include <cstdio>
#include <cstring>

static std::vector<Posted> arrived;

static bool IsLibraryMessage(UINT message)
{
    return message == WM_HOOK_KEYUP || message == WM_HOOK_ALTSTATE || message == WM_HOOK_ACTIVATE;
}

std::wstring QuillhookPath()
{
    return BinaryFolder() + L"\\Quillhook.dll";
}

std::wstring ShippedFolder()
{
    wchar_t folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"VARNEL_SHIPPED_BIN", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return BinaryFolder();
    return folder;
}

bool LoadQuillhook(QuillhookLibrary *library)
{
    library->module = LoadLibraryW(QuillhookPath().c_str());
    if (library->module == nullptr)
        return false;
    library->startHook = (StartHookProc)GetProcAddress(library->module, "StartHook");
    library->stopHook = (StopHookProc)GetProcAddress(library->module, "StopHook");
    library->kbHook = (HookProcedure)GetProcAddress(library->module, "_KbHook@12");
    library->quillhook = (HookProcedure)GetProcAddress(library->module, "_Quillhook@12");
    return library->startHook != nullptr && library->stopHook != nullptr && library->kbHook != nullptr &&
           library->quillhook != nullptr;
}

volatile SharedHookData *FindSharedHookData(HMODULE module)
{
    BYTE *base = (BYTE *)module;
    IMAGE_NT_HEADERS32 *headers = (IMAGE_NT_HEADERS32 *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(headers);
    for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
        if (memcmp(section->Name, ".SHARED_", IMAGE_SIZEOF_SHORT_NAME) == 0)
            return (volatile SharedHookData *)(base + section->VirtualAddress);
    }
    return nullptr;
}

Posted KeyUp(WPARAM virtualKey, LPARAM flags)
{
    return Posted{WM_HOOK_KEYUP, virtualKey, flags, true};
}

Posted AltState(WPARAM virtualKey, LPARAM altBit)
{
    return Posted{WM_HOOK_ALTSTATE, virtualKey, altBit, true};
}

Posted Activate(WPARAM window, LPARAM lParam)
{
    return Posted{WM_HOOK_ACTIVATE, window, lParam, true};
}

void PrintTo(const Posted &posted, std::ostream *out)
{
    char text[128];
    const char *name = posted.message == WM_HOOK_KEYUP      ? "KEYUP"
                       : posted.message == WM_HOOK_ALTSTATE ? "ALTSTATE"
                       : posted.message == WM_HOOK_ACTIVATE ? "ACTIVATE"
                                                            : "?";
    snprintf(text, sizeof(text), "{%s 0x%X vk=0x%lX flags=0x%08lX%s}", name, posted.message,
             (unsigned long)posted.wParam, (unsigned long)posted.lParam, posted.toWindow ? "" : " to thread");
    *out << text;
}

static LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (IsLibraryMessage(message)) {
        arrived.push_back(Posted{message, wParam, lParam, true});
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HookTarget::HookTarget()
{
    static ATOM windowClass = 0;
    if (windowClass == 0) {
        WNDCLASSW description = {};
        description.lpfnWndProc = TargetProc;
        description.hInstance = GetModuleHandleW(nullptr);
        description.lpszClassName = L"QuillhookTestTarget";
        windowClass = RegisterClassW(&description);
    }
    window_ = CreateWindowW(L"QuillhookTestTarget", L"Quillhook test target", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                            100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

HookTarget::~HookTarget()
{
    destroy();
}

void HookTarget::destroy()
{
    if (window_ != nullptr)
        DestroyWindow(window_);
    window_ = nullptr;
}

static void PumpOnce()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.hwnd == nullptr && IsLibraryMessage(message.message)) {
            arrived.push_back(Posted{message.message, message.wParam, message.lParam, false});
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

std::vector<Posted> CollectPosts(DWORD quietMs)
{
    PumpOnce();
    size_t seen = arrived.size();
    DWORD quietSince = GetTickCount();
    WaitUntil("no message of the library for " + std::to_string(quietMs) + " ms", [&] {
        PumpOnce();
        if (arrived.size() != seen) {
            seen = arrived.size();
            quietSince = GetTickCount();
        }
        return GetTickCount() - quietSince >= quietMs;
    }, quietMs + WAIT_MS);
    std::vector<Posted> result;
    result.swap(arrived);
    return result;
}

std::vector<Posted> CollectPostsUntil(size_t count, DWORD timeoutMs)
{
    WaitUntil(std::to_string(count) + " messages of the library", [&] {
        PumpOnce();
        return arrived.size() >= count;
    }, timeoutMs);
    std::vector<Posted> result;
    result.swap(arrived);
    return result;
}

