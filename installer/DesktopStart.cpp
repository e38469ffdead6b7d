// Starting a program for the user at this desktop with that user's ordinary rights.
//   ElevatedWithSplitToken - an administrator elevated under User Account Control
//   DesktopShell           - the desktop's Explorer, to start programs through
//   StartThroughShell      - a start by Explorer, with the user's ordinary rights
//   StartDirectly          - a start with this process's own rights
//   TokenUserSid           - the user this process runs as
//   RunsAsDesktopUser      - this process is the desktop's user
//   DesktopUserSid         - the user logged on in this session
//   StartAsDesktopUser     - the one of those that fits
#include "DesktopStart.h"

#include <exdisp.h>
#include <sddl.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shellapi.h>
#include <wtsapi32.h>
// The ANSI/Unicode macro would rename IShellDispatch2's method of that name.
#undef ShellExecute

namespace {

// Only an elevated administrator under User Account Control holds a split
// token whose ordinary half is out of its reach. Without one (UAC off, the
// built-in Administrator, Windows XP) a direct start already has the rights
// the user's own logon gives.
bool ElevatedWithSplitToken()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    BOOL known = GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &size);
    CloseHandle(token);
    return known && type == TokenElevationTypeFull;
}

template <typename Interface> void Release(Interface *&object)
{
    if (object != nullptr)
        object->Release();
    object = nullptr;
}

// The shell's automation object of the desktop window: it lives in the
// desktop's Explorer, so what it starts is started by Explorer, with the
// logged-on user's ordinary rights. Null where there is no such shell.
IShellDispatch2 *DesktopShell()
{
    IShellWindows *windows = nullptr;
    IDispatch *desktop = nullptr;
    IServiceProvider *provider = nullptr;
    IShellBrowser *browser = nullptr;
    IShellView *view = nullptr;
    IDispatch *background = nullptr;
    IShellFolderViewDual *folderView = nullptr;
    IDispatch *application = nullptr;
    IShellDispatch2 *shell = nullptr;
    VARIANT desktopFolder, noRoot;
    VariantInit(&desktopFolder);
    VariantInit(&noRoot);
    desktopFolder.vt = VT_I4;
    desktopFolder.lVal = CSIDL_DESKTOP;
    long window = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                   (void **)&windows)) &&
        windows->FindWindowSW(&desktopFolder, &noRoot, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) == S_OK &&
        desktop != nullptr &&
        SUCCEEDED(desktop->QueryInterface(IID_IServiceProvider, (void **)&provider)) &&
        SUCCEEDED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, (void **)&browser)) &&
        SUCCEEDED(browser->QueryActiveShellView(&view)) &&
        SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, (void **)&background)) &&
        SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, (void **)&folderView)) &&
        SUCCEEDED(folderView->get_Application(&application)) && application != nullptr)
        application->QueryInterface(IID_IShellDispatch2, (void **)&shell);
    Release(application);
    Release(folderView);
    Release(background);
    Release(view);
    Release(browser);
    Release(provider);
    Release(desktop);
    Release(windows);
    return shell;
}

bool StartThroughShell(IShellDispatch2 *shell, const wchar_t *program, const wchar_t *folder)
{
    BSTR file = SysAllocString(program);
    VARIANT arguments, directory, verb, show;
    VariantInit(&arguments);
    VariantInit(&directory);
    VariantInit(&verb);
    VariantInit(&show);
    arguments.vt = directory.vt = verb.vt = VT_BSTR;
    arguments.bstrVal = SysAllocString(L"");
    directory.bstrVal = SysAllocString(folder);
    verb.bstrVal = SysAllocString(L"");
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    HRESULT result = shell->ShellExecute(file, arguments, directory, verb, show);
    SysFreeString(file);
    VariantClear(&arguments);
    VariantClear(&directory);
    VariantClear(&verb);
    return SUCCEEDED(result);
}

bool StartDirectly(const wchar_t *program, const wchar_t *folder)
{
    return (INT_PTR)ShellExecuteW(nullptr, nullptr, program, nullptr, folder, SW_SHOWNORMAL) > 32;
}

// The user this process runs as, as a SID string.
bool TokenUserSid(wchar_t *sidText, DWORD capacity)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } owner;
    DWORD size = 0;
    wchar_t *text = nullptr;
    bool known = GetTokenInformation(token, TokenUser, &owner, sizeof(owner), &size) &&
                 ConvertSidToStringSidW(owner.user.User.Sid, &text);
    CloseHandle(token);
    bool fits = known && lstrlenW(text) < (int)capacity;
    if (fits)
        lstrcpyW(sidText, text);
    if (text != nullptr)
        LocalFree(text);
    return fits;
}

bool RunsAsDesktopUser()
{
    wchar_t desktopUser[192], self[192];
    return DesktopUserSid(desktopUser, ARRAYSIZE(desktopUser)) && TokenUserSid(self, ARRAYSIZE(self)) &&
           lstrcmpiW(desktopUser, self) == 0;
}

}  // namespace

// The user logged on in this session, whoever the installer runs as (an
// administrator's account when the user typed its password into the prompt).
// False where nobody is logged on, as in the session of services.
bool DesktopUserSid(wchar_t *sidText, DWORD capacity)
{
    wchar_t *user = nullptr, *domain = nullptr;
    DWORD bytes = 0;
    wchar_t account[2 * 256 + 2] = L"";
    if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSUserName, &user, &bytes) &&
        WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSDomainName, &domain, &bytes) &&
        user[0] != L'\0' && lstrlenW(user) + lstrlenW(domain) + 2 <= (int)ARRAYSIZE(account))
        wsprintfW(account, L"%s\\%s", domain, user);
    if (user != nullptr)
        WTSFreeMemory(user);
    if (domain != nullptr)
        WTSFreeMemory(domain);
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidBytes = sizeof(sid);
    wchar_t referencedDomain[256];
    DWORD domainLength = ARRAYSIZE(referencedDomain);
    SID_NAME_USE use;
    wchar_t *text = nullptr;
    if (account[0] == L'\0' ||
        !LookupAccountNameW(nullptr, account, sid, &sidBytes, referencedDomain, &domainLength, &use) ||
        !ConvertSidToStringSidW(sid, &text))
        return false;
    bool fits = lstrlenW(text) < (int)capacity;
    if (fits)
        lstrcpyW(sidText, text);
    LocalFree(text);
    return fits;
}

// Starts program as the desktop's user with ordinary rights; without a
// program, only answers whether that can be had.
bool StartAsDesktopUser(const wchar_t *program)
{
    wchar_t folder[MAX_PATH] = L"";
    if (program != nullptr) {
        // The shell reports no error for a program that is not there.
        if (GetFileAttributesW(program) == INVALID_FILE_ATTRIBUTES)
            return false;
        lstrcpynW(folder, program, MAX_PATH);
        wchar_t *lastSlash = wcsrchr(folder, L'\\');
        if (lastSlash != nullptr)
            *lastSlash = L'\0';
    }
    // Without a split token a direct start has this process's own rights:
    // right only when this process is the desktop's user (not an
    // administrator's account, nor the system running a deployment).
    if (!ElevatedWithSplitToken())
        return RunsAsDesktopUser() && (program == nullptr || StartDirectly(program, folder));
    CoInitialize(nullptr);
    IShellDispatch2 *shell = DesktopShell();
    bool done = shell != nullptr && (program == nullptr || StartThroughShell(shell, program, folder));
    Release(shell);
    CoUninitialize();
    return done;
}

