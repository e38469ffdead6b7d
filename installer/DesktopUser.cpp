// DesktopUser.exe, carried in the Setup program's plugins folder and never
// installed. The Setup program runs elevated, and what it starts for the user must have the rights of the user at the desktop, not its own:
// a VarnelKVM started with an administrator's full rights gets no hotkeys from
// ordinary programs, and an ordinary "VarnelKVM.exe /x" cannot end it.
//
//   DesktopUser.exe start PROGRAM     starts PROGRAM as the desktop's user with
//                                     ordinary rights; exit code 1 when that cannot be had
//   DesktopUser.exe check             exit code 0 when such a start can be had
//
// Functions: wWinMain, ElevatedWithSplitToken, DesktopShell, StartThroughShell,
// StartDirectly, StartAsDesktopUser.
#include <windows.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shellapi.h>
// The ANSI/Unicode macro would rename IShellDispatch2's method of that name.
#undef ShellExecute

namespace {

int const SUCCEEDED_CODE = 0;
int const FAILED_CODE = 1;

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
    if (!ElevatedWithSplitToken())
        return program == nullptr || StartDirectly(program, folder);
    CoInitialize(nullptr);
    IShellDispatch2 *shell = DesktopShell();
    bool done = shell != nullptr && (program == nullptr || StartThroughShell(shell, program, folder));
    Release(shell);
    CoUninitialize();
    return done;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand)
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr)
        return FAILED_CODE;
    const wchar_t *verb = count >= 2 ? arguments[1] : L"";
    bool done = false;
    if (count == 3 && lstrcmpiW(verb, L"start") == 0)
        done = StartAsDesktopUser(arguments[2]);
    else if (count == 2 && lstrcmpiW(verb, L"check") == 0)
        done = StartAsDesktopUser(nullptr);
    LocalFree(arguments);
    return done ? SUCCEEDED_CODE : FAILED_CODE;
}
