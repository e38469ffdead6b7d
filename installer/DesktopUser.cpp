// DesktopUser.exe, carried in the Setup program's plugins folder and never
// installed. The Setup program runs elevated, and what it starts or schedules
// for the user must have the rights of the user at the desktop, not its own:
// a VarnelKVM started with an administrator's full rights gets no hotkeys from
// ordinary programs, and an ordinary "VarnelKVM.exe /x" cannot end it.
//
//   DesktopUser.exe start PROGRAM     starts PROGRAM as the desktop's user with
//                                     ordinary rights; exit code 1 when that cannot be had
//   DesktopUser.exe check             exit code 0 when such a start can be had
//   DesktopUser.exe task FILE PROGRAM writes to FILE the definition of the task that
//                                     starts "PROGRAM" /s with the desktop user's full
//                                     rights when that user logs on (for schtasks /XML)
//
// Functions: wWinMain, ElevatedWithSplitToken, DesktopShell, StartThroughShell,
// StartDirectly, StartAsDesktopUser, DesktopUserSid, Append, WriteLogonTask.
#include <windows.h>
#include <exdisp.h>
#include <sddl.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shellapi.h>
#include <wtsapi32.h>
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

// Appends text, with XML's special characters escaped when asked; false when it does not fit.
bool Append(wchar_t *xml, size_t capacity, const wchar_t *text, bool escaped)
{
    size_t length = lstrlenW(xml);
    for (; *text != L'\0'; ++text) {
        wchar_t single[2] = {*text, L'\0'};
        const wchar_t *piece = !escaped         ? single
                               : *text == L'&'  ? L"&amp;"
                               : *text == L'<'  ? L"&lt;"
                               : *text == L'>'  ? L"&gt;"
                               : *text == L'"'  ? L"&quot;"
                               : *text == L'\'' ? L"&apos;"
                                                : single;
        size_t pieceLength = lstrlenW(piece);
        if (length + pieceLength >= capacity)
            return false;
        lstrcpyW(xml + length, piece);
        length += pieceLength;
    }
    return true;
}

wchar_t const TASK_HEAD[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
    L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
    L"  <RegistrationInfo>\r\n"
    L"    <Description>Starts VarnelKVM with your full rights when you log on, so that its hotkeys also work in "
    L"windows running as administrator. Installing VarnelKVM without that choice removes this task.</Description>\r\n"
    L"  </RegistrationInfo>\r\n"
    L"  <Triggers>\r\n"
    L"    <LogonTrigger>\r\n"
    L"      <Enabled>true</Enabled>\r\n"
    L"      <UserId>";
wchar_t const TASK_PRINCIPAL[] =
    L"</UserId>\r\n"
    L"    </LogonTrigger>\r\n"
    L"  </Triggers>\r\n"
    L"  <Principals>\r\n"
    L"    <Principal id=\"DesktopUser\">\r\n"
    L"      <UserId>";
wchar_t const TASK_SETTINGS[] =
    L"</UserId>\r\n"
    L"      <LogonType>InteractiveToken</LogonType>\r\n"
    L"      <RunLevel>HighestAvailable</RunLevel>\r\n"
    L"    </Principal>\r\n"
    L"  </Principals>\r\n"
    L"  <Settings>\r\n"
    L"    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\r\n"
    L"    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\r\n"
    L"    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\r\n"
    L"    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\r\n"
    L"    <Priority>5</Priority>\r\n"
    L"  </Settings>\r\n"
    L"  <Actions Context=\"DesktopUser\">\r\n"
    L"    <Exec>\r\n"
    L"      <Command>\"";
wchar_t const TASK_TAIL[] =
    L"\"</Command>\r\n"
    L"      <Arguments>/s</Arguments>\r\n"
    L"    </Exec>\r\n"
    L"  </Actions>\r\n"
    L"</Task>\r\n";

// The logon task: for the desktop's user, started at that user's logon with
// the highest rights the user has, for as long as the session lasts, on
// battery too. A task's own priority would be below normal; the applet runs
// at the normal priority a Run entry gives.
bool WriteLogonTask(const wchar_t *file, const wchar_t *program)
{
    wchar_t sid[192];
    if (!DesktopUserSid(sid, ARRAYSIZE(sid)))
        return false;
    static wchar_t xml[8192];
    size_t const capacity = ARRAYSIZE(xml);
    xml[0] = L'\0';
    if (!(Append(xml, capacity, TASK_HEAD, false) && Append(xml, capacity, sid, true) &&
          Append(xml, capacity, TASK_PRINCIPAL, false) && Append(xml, capacity, sid, true) &&
          Append(xml, capacity, TASK_SETTINGS, false) && Append(xml, capacity, program, true) &&
          Append(xml, capacity, TASK_TAIL, false)))
        return false;
    HANDLE out = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return false;
    wchar_t const byteOrderMark = 0xFEFF;
    DWORD bytes = (DWORD)(lstrlenW(xml) * sizeof(wchar_t)), written = 0, writtenMark = 0;
    WriteFile(out, &byteOrderMark, sizeof(byteOrderMark), &writtenMark, nullptr);
    WriteFile(out, xml, bytes, &written, nullptr);
    CloseHandle(out);
    return writtenMark == sizeof(byteOrderMark) && written == bytes;
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
    else if (count == 4 && lstrcmpiW(verb, L"task") == 0)
        done = WriteLogonTask(arguments[2], arguments[3]);
    LocalFree(arguments);
    return done ? SUCCEEDED_CODE : FAILED_CODE;
}
