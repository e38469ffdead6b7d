// The logon task's definition and its registration.
//   Append              - text into the definition, escaped where XML needs it
//   LogonTaskDefinition - the whole definition
//   RegisterLogonTask   - through Task Scheduler's own interface
#include "LogonTask.h"
#include "DesktopStart.h"

#include <taskschd.h>

namespace {

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

}  // namespace

// For the desktop's user, started at that user's logon with the highest
// rights the user has, for as long as the session lasts, on battery too. A
// task's own priority would be below normal; the applet runs at the normal
// priority a Run entry gives.
bool LogonTaskDefinition(const wchar_t *userSid, const wchar_t *program, wchar_t *xml, size_t capacity)
{
    xml[0] = L'\0';
    return Append(xml, capacity, TASK_HEAD, false) && Append(xml, capacity, userSid, true) &&
           Append(xml, capacity, TASK_PRINCIPAL, false) && Append(xml, capacity, userSid, true) &&
           Append(xml, capacity, TASK_SETTINGS, false) && Append(xml, capacity, program, true) &&
           Append(xml, capacity, TASK_TAIL, false);
}

bool RegisterLogonTask(const wchar_t *taskName, const wchar_t *program)
{
    wchar_t sid[192];
    static wchar_t xml[8192];
    if (!DesktopUserSid(sid, ARRAYSIZE(sid)) || !LogonTaskDefinition(sid, program, xml, ARRAYSIZE(xml)))
        return false;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return false;
    ITaskService *service = nullptr;
    ITaskFolder *root = nullptr;
    IRegisteredTask *task = nullptr;
    VARIANT none;
    VariantInit(&none);
    BSTR rootPath = SysAllocString(L"\\");
    BSTR name = SysAllocString(taskName);
    BSTR definition = SysAllocString(xml);
    // The principal named in the definition: the desktop's user, with an interactive token.
    bool registered =
        SUCCEEDED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                   (void **)&service)) &&
        SUCCEEDED(service->Connect(none, none, none, none)) && SUCCEEDED(service->GetFolder(rootPath, &root)) &&
        SUCCEEDED(root->RegisterTask(name, definition, TASK_CREATE_OR_UPDATE, none, none,
                                     TASK_LOGON_INTERACTIVE_TOKEN, none, &task));
    if (task != nullptr)
        task->Release();
    if (root != nullptr)
        root->Release();
    if (service != nullptr)
        service->Release();
    SysFreeString(definition);
    SysFreeString(name);
    SysFreeString(rootPath);
    CoUninitialize();
    return registered;
}
