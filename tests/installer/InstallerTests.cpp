// The installer as an administrator deploys it, in a Wine prefix made afresh
// for this program (in-fresh-prefix.sh): a silent install, the installed
// applet started as the Run entry starts it at logon and finding the
// simulated switch, a silent update over the running copy, and a silent
// uninstall; with /AllWindows, a logon task in place of the Run entry. Each
// stage prints what it left behind (files, registry and task), so the log
// shows the machine before and after. The Windows Installer package goes the
// same way with msiexec (MsiTest, in a fresh prefix of its own).
#include "AppletProcess.h"
#include "DebugListener.h"
#include "LogonTask.h"
#include "Registry.h"
#include "SimSwitchTable.h"
#include "SimulatedSwitch.h"
#include "Wait.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <sddl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

wchar_t const PRODUCT[] = L"VarnelKVM";
wchar_t const WINDOWS_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
// Below WINDOWS_KEY.
wchar_t const RUN_KEY[] = L"Run";
wchar_t const UNINSTALL_KEY[] = L"Uninstall\\VarnelKVM";
// What the installer puts into its folder, and the test-only stand-ins that
// lead an installed copy to the simulated switch.
std::vector<std::wstring> const INSTALLED_FILES = {L"Quillhook.dll", L"Uninstall.exe", L"VarnelKVM.exe"};
std::vector<std::wstring> const STAND_INS = {L"hid.dll", L"setupapi.dll"};
WPARAM const MENU_SWITCH_ALL = 32784;
DWORD const INSTALL_TIMEOUT_MS = 60000;
DWORD const START_TIMEOUT_MS = 15000;

std::string Utf8(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? (char)c : '?';
    return out;
}

std::wstring KnownFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

// The installer the tests carry is of their own build's width: the 32-bit one
// that ships, or where only 64-bit programs run its 64-bit stand-in, which
// installs into the 64-bit Program Files and registry.
bool const TESTS_64BIT_INSTALLER = sizeof(void *) == 8;

std::wstring InstallFolder()
{
    return KnownFolder(TESTS_64BIT_INSTALLER ? CSIDL_PROGRAM_FILES : CSIDL_PROGRAM_FILESX86) + L"\\" + PRODUCT;
}
std::wstring InstalledProgram() { return InstallFolder() + L"\\VarnelKVM.exe"; }
std::wstring StartMenuShortcut() { return KnownFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + PRODUCT + L".lnk"; }
std::wstring SetupProgram() { return BinaryFolder() + L"\\" VARNEL_SETUP_NAME; }

// HKLM's WINDOWS_KEY as the installer sees it.
HKEY WindowsKey()
{
    static HKEY key = nullptr;
    if (key == nullptr)
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, WINDOWS_KEY, 0,
                      KEY_READ | (TESTS_64BIT_INSTALLER ? KEY_WOW64_64KEY : KEY_WOW64_32KEY), &key);
    return key;
}

// Where an installer put the program: its folder, WINDOWS_KEY in the registry
// view it wrote, and the Start-menu shortcut; the Setup program's by default.
struct InstallPlaces {
    std::wstring folder = InstallFolder();
    HKEY windowsKey = WindowsKey();
    std::wstring shortcut = StartMenuShortcut();
};

bool FileExists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<char> FileBytes(const std::wstring &path)
{
    std::ifstream in(Utf8(path).c_str(), std::ios::binary);
    if (!in)
        return {};
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void AppendByte(const std::wstring &path)
{
    std::ofstream out(Utf8(path).c_str(), std::ios::binary | std::ios::app);
    out.put('\0');
}

std::vector<std::wstring> FolderListing(const std::wstring &folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring RegistryString(HKEY root, const wchar_t *key, const wchar_t *name)
{
    DWORD type = 0;
    auto bytes = ReadRegistryBytes(root, key, name, &type);
    if (!bytes || (type != REG_SZ && type != REG_EXPAND_SZ))
        return L"";
    std::wstring text((const wchar_t *)bytes->data(), bytes->size() / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

// Where a shortcut leads, as the shell resolves it.
std::wstring ShortcutTarget(const std::wstring &shortcut)
{
    std::wstring target;
    IShellLinkW *link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&link)))
        return target;
    IPersistFile *file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(file->Load(shortcut.c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0)))
            target = path;
        file->Release();
    }
    link->Release();
    return target;
}

// The logon task the installer registers with the choice, where Wine's Task Scheduler keeps it.
std::wstring TaskFile()
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\Tasks\\" + PRODUCT;
}

std::string FileText(const std::wstring &path)
{
    std::vector<char> bytes = FileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<DWORD> ProcessesNamed(const wchar_t *name)
{
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {sizeof(entry)};
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, name) == 0)
            ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}

std::wstring ParentProcessName(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {sizeof(entry)};
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == processId)
            parent = entry.th32ParentProcessID;
    std::wstring name;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && parent != 0; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == parent)
            name = entry.szExeFile;
    CloseHandle(snapshot);
    return name;
}

void WaitForProcessesToEnd(const wchar_t *name, DWORD timeoutMs)
{
    for (DWORD id : ProcessesNamed(name)) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
        if (process != nullptr) {
            WaitForSingleObject(process, timeoutMs);
            CloseHandle(process);
        }
    }
}

// Runs a command line as Explorer or a deployment tool would; its exit code, or -1.
long RunCommand(const std::wstring &commandLine)
{
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    std::wstring mutableLine = commandLine;
    if (!CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr, BinaryFolder().c_str(),
                        &startup, &info))
        return -1;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(info.hProcess, INSTALL_TIMEOUT_MS) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return (long)code;
}

// The uninstaller copies itself to the temporary folder and lets the copy
// ("Un.exe") do the work, so the program a tool starts ends at once.
long RunUninstaller(const std::wstring &arguments)
{
    long code = RunCommand(L"\"" + InstallFolder() + L"\\Uninstall.exe\" " + arguments);
    WaitForProcessesToEnd(L"Un.exe", INSTALL_TIMEOUT_MS);
    return code;
}

// The entries Add/Remove Programs shows as VarnelKVM: their keys below WINDOWS_KEY
// (Windows Installer names a package's by its product code).
std::vector<std::wstring> UninstallRecords(HKEY windowsKey)
{
    std::vector<std::wstring> keys;
    HKEY parent = nullptr;
    RegOpenKeyExW(windowsKey, L"Uninstall", 0, KEY_READ, &parent);
    wchar_t name[256];
    for (DWORD i = 0, size = 256; RegEnumKeyExW(parent, i, name, &size, 0, 0, 0, 0) == ERROR_SUCCESS; ++i, size = 256)
        if (RegistryString(parent, name, L"DisplayName") == PRODUCT)
            keys.push_back(std::wstring(L"Uninstall\\") + name);
    RegCloseKey(parent);
    return keys;
}

// What the installer leaves on the machine, for the log.
void PrintInventory(const char *stage, const InstallPlaces &places = {})
{
    printf("---- %s\n", stage);
    printf("%s:", Utf8(places.folder).c_str());
    for (const std::wstring &name : FolderListing(places.folder))
        printf(" %s", Utf8(name).c_str());
    printf("%s\n", FileExists(places.folder) ? "" : " (no folder)");
    printf("%s: %s\n", Utf8(places.shortcut).c_str(), FileExists(places.shortcut) ? "present" : "absent");
    printf("HKLM\\%s\\%s\\%s = %s\n", Utf8(WINDOWS_KEY).c_str(), Utf8(RUN_KEY).c_str(), Utf8(PRODUCT).c_str(),
           RegistryValueExists(places.windowsKey, RUN_KEY, PRODUCT)
               ? Utf8(RegistryString(places.windowsKey, RUN_KEY, PRODUCT)).c_str()
               : "(absent)");
    std::vector<std::wstring> records = UninstallRecords(places.windowsKey);
    printf("%s: %s\n", Utf8(TaskFile()).c_str(), FileExists(TaskFile()) ? "present" : "absent");
    printf("HKLM\\%s\\Uninstall: %u named %s\n", Utf8(WINDOWS_KEY).c_str(), (unsigned)records.size(),
           Utf8(PRODUCT).c_str());
    for (const std::wstring &key : records) {
        printf("HKLM\\%s\\%s:\n", Utf8(WINDOWS_KEY).c_str(), Utf8(key).c_str());
        for (const std::wstring &name : RegistryValueNames(places.windowsKey, key.c_str())) {
            std::wstring text = RegistryString(places.windowsKey, key.c_str(), name.c_str());
            auto number = ReadRegistryDword(places.windowsKey, key.c_str(), name.c_str());
            if (!text.empty() || number)  // Windows Installer leaves many values empty
                printf("  %s = %s\n", Utf8(name).c_str(),
                       !text.empty() ? Utf8(text).c_str() : std::to_string(*number).c_str());
        }
    }
    printf("HKCU\\%s: %s\n", Utf8(SETTINGS_KEY).c_str(),
           RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_KEY) ? "present" : "absent");
    printf("VarnelKVM.exe processes: %u\n", (unsigned)ProcessesNamed(L"VarnelKVM.exe").size());
    fflush(stdout);
}

// Both files, the build's own; the shortcut and the Run entry lead to the program.
void ExpectProgramInstalled(const InstallPlaces &places = {})
{
    for (const std::wstring &name : {std::wstring(L"VarnelKVM.exe"), std::wstring(L"Quillhook.dll")}) {
        SCOPED_TRACE(Utf8(name));
        std::vector<char> installed = FileBytes(places.folder + L"\\" + name);
        EXPECT_FALSE(installed.empty());
        EXPECT_TRUE(installed == FileBytes(BinaryFolder() + L"\\" + name)) << "not the file the installer carries";
    }
    EXPECT_EQ(Utf8(ShortcutTarget(places.shortcut)), Utf8(places.folder + L"\\VarnelKVM.exe"));
    EXPECT_EQ(Utf8(RegistryString(places.windowsKey, RUN_KEY, PRODUCT)),
              Utf8(L"\"" + places.folder + L"\\VarnelKVM.exe\" /s"));
}

void ExpectInstalled()
{
    ExpectProgramInstalled();
    EXPECT_TRUE(FileExists(InstallFolder() + L"\\Uninstall.exe"));

    struct Row {
        const wchar_t *name;
        std::wstring value;
    } const record[] = {
        {L"DisplayName", L"VarnelKVM"},
        {L"Publisher", L"Varnel Corporation"},
        {L"DisplayVersion", VARNEL_VERSION},
        {L"DisplayIcon", InstalledProgram() + L",0"},
        {L"InstallLocation", InstallFolder()},
        {L"UninstallString", L"\"" + InstallFolder() + L"\\Uninstall.exe\""},
        {L"QuietUninstallString", L"\"" + InstallFolder() + L"\\Uninstall.exe\" /S"},
    };
    for (const Row &row : record)
        EXPECT_EQ(Utf8(RegistryString(WindowsKey(), UNINSTALL_KEY, row.name)), Utf8(row.value))
            << Utf8(row.name);
    // Add/Remove Programs shows the size in KB: the three files, rounded.
    size_t bytes = 0;
    for (const std::wstring &name : INSTALLED_FILES)
        bytes += FileBytes(InstallFolder() + L"\\" + name).size();
    auto size = ReadRegistryDword(WindowsKey(), UNINSTALL_KEY, L"EstimatedSize");
    ASSERT_TRUE(size.has_value());
    EXPECT_NEAR((double)*size, bytes / 1024.0, 4.0);
}

void ExpectUninstalled(const InstallPlaces &places = {})
{
    EXPECT_TRUE(ProcessesNamed(L"VarnelKVM.exe").empty());
    std::vector<std::wstring> left = FolderListing(places.folder);
    for (const std::wstring &name : INSTALLED_FILES)
        EXPECT_EQ(std::count(left.begin(), left.end(), name), 0) << Utf8(name) << " is left behind";
    EXPECT_FALSE(FileExists(places.shortcut));
    EXPECT_FALSE(RegistryValueExists(places.windowsKey, RUN_KEY, PRODUCT));
    EXPECT_FALSE(FileExists(TaskFile())) << "the logon task is left behind";
    EXPECT_FALSE(RegistryKeyExists(places.windowsKey, UNINSTALL_KEY));
    EXPECT_TRUE(UninstallRecords(places.windowsKey).empty()) << "still in Add/Remove Programs";
}

// The stand-ins leave with the files the test put there, and the folder with them.
void RemoveStandIns(const std::wstring &folder = InstallFolder())
{
    for (const std::wstring &name : STAND_INS)
        DeleteFileW((folder + L"\\" + name).c_str());
    RemoveDirectoryW(folder.c_str());
}

// The variant that switches the computers when the applet closes, set to do
// so: an installer that ends it must still not switch.
void SetSwitchOnExitVariant()
{
    SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoAudioKestrel", 1);
    SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoButtonKestrel", 1);
    SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnExit", 1);
}

// The one copy running after an update: started through the desktop's shell,
// not by the elevated installer, and with its window up; 0 when that is not so.
DWORD RestartedCopy()
{
    std::vector<DWORD> running = ProcessesNamed(L"VarnelKVM.exe");
    EXPECT_EQ(running.size(), 1u) << "one copy runs after the update";
    if (running.size() != 1)
        return 0;
    // Wine gives the installer an administrator's full token, as Windows gives
    // an elevated one: the copy must come from the desktop's shell, not from it.
    EXPECT_EQ(Utf8(ParentProcessName(running[0])), "explorer.exe") << "not started through the desktop's shell";
    HWND window = nullptr;
    EXPECT_TRUE(WaitUntil(
        "the restarted copy's window", [&] { return (window = FindAppletWindow(running[0])) != nullptr; }, 5000));
    return window != nullptr ? running[0] : 0;
}

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        ASSERT_TRUE(FileExists(SetupProgram())) << Utf8(SetupProgram());
        ASSERT_FALSE(FileExists(InstallFolder())) << "the prefix is not fresh";
        printf("Testing %s, the %s installer\n", Utf8(VARNEL_SETUP_NAME).c_str(),
               TESTS_64BIT_INSTALLER ? "64-bit stand-in" : "32-bit shipping");
    }
    void TearDown() override
    {
        for (DWORD id : ProcessesNamed(L"VarnelKVM.exe")) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
            TerminateProcess(process, 99);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
        if (FileExists(InstallFolder() + L"\\Uninstall.exe"))
            RunUninstaller(L"/S");
        RemoveStandIns();
        CoUninitialize();
    }

    long install(const wchar_t *arguments = L"/S") { return RunCommand(L"\"" + SetupProgram() + L"\" " + arguments); }
    void copyStandIns(const std::wstring &folder = InstallFolder())
    {
        for (const std::wstring &name : STAND_INS)
            CopyFileW((BinaryFolder() + L"\\" + name).c_str(), (folder + L"\\" + name).c_str(), FALSE);
    }
    // Started as Windows starts it at logon, with the Run entry's command line.
    void startInstalledCopy(AppletProcess &applet, SimulatedSwitch &simulator, const InstallPlaces &places = {})
    {
        applet.setProgramPath(places.folder + L"\\VarnelKVM.exe");
        applet.setCommandLine(RegistryString(places.windowsKey, RUN_KEY, PRODUCT));
        ASSERT_TRUE(applet.start());
        ASSERT_NE(applet.waitForWindow(START_TIMEOUT_MS), nullptr);
        ASSERT_TRUE(simulator.waitForClient(applet.pid())) << "the installed copy did not load the stand-ins";
    }
    // The one running copy reaches the switch: the Switch All command arrives.
    void expectItSwitches(SimulatedSwitch &simulator, int id, HWND window)
    {
        simulator.clearReports();
        PostMessageW(window, WM_COMMAND, MENU_SWITCH_ALL, 0);
        ASSERT_TRUE(simulator.waitForReports(1, 5000, id));
        EXPECT_EQ(HexBytes(simulator.reports(id)[0].bytes), "01 06 00 00 00 00 00 00");
    }
};

TEST_F(InstallerTest, SilentInstallRunUpdateOverTheRunningCopyAndSilentUninstall)
{
    CleanRegistry registry;
    // The copy that the update starts again is started by the desktop's shell,
    // in the shell's environment rather than this test's: the switch is in the
    // table every program of this prefix (the test's own) sees by default.
    SimulatedSwitch simulator(SIM_DEFAULT_TABLE);
    int id = simulator.add(SwitchInterface(0x5A04, 0x0400, 8));
    SetSwitchOnExitVariant();
    PrintInventory("before the install");

    ASSERT_EQ(install(), 0);
    PrintInventory("after a silent install");
    ExpectInstalled();
    EXPECT_TRUE(ProcessesNamed(L"VarnelKVM.exe").empty()) << "a silent install starts nothing that was not running";

    // Started as Windows starts it at logon: the Run entry's command line.
    copyStandIns();
    DebugListener debug;
    AppletProcess applet;
    ASSERT_NO_FATAL_FAILURE(startInstalledCopy(applet, simulator));
    EXPECT_TRUE(debug.waitForLine(applet.pid(), "Starting the hook\n"));
    expectItSwitches(simulator, id, applet.window());

    // An update over the running copy: it is ended, its files replaced (each
    // carries an extra byte until then), and one copy runs again.
    for (const std::wstring &name : {std::wstring(L"VarnelKVM.exe"), std::wstring(L"Quillhook.dll")})
        AppendByte(InstallFolder() + L"\\" + name);
    simulator.clearReports();
    ASSERT_EQ(install(), 0);
    PrintInventory("after a silent install over the running copy");
    DWORD exitCode = 99;
    EXPECT_TRUE(applet.waitForExit(0, &exitCode)) << "the old copy still runs";
    EXPECT_EQ(exitCode, 0u) << "the old copy was stopped rather than ended by its Exit command";
    EXPECT_TRUE(simulator.reports(id).empty()) << "the update switched the computers";
    ExpectInstalled();
    DWORD restarted = RestartedCopy();
    ASSERT_NE(restarted, 0u);
    ASSERT_TRUE(simulator.waitForClient(restarted));
    expectItSwitches(simulator, id, FindAppletWindow(restarted));

    // A silent uninstall ends it, again without switching, and leaves nothing
    // of the program behind; the user's settings stay for a later install.
    HANDLE updated = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, restarted);
    simulator.clearReports();
    ASSERT_EQ(RunUninstaller(L"/S"), 0);
    PrintInventory("after a silent uninstall");
    EXPECT_EQ(WaitForSingleObject(updated, 0), WAIT_OBJECT_0) << "the running copy was not ended";
    exitCode = 99;
    GetExitCodeProcess(updated, &exitCode);
    EXPECT_EQ(exitCode, 0u) << "the running copy was stopped rather than ended by its Exit command";
    EXPECT_TRUE(simulator.reports(id).empty()) << "the uninstaller switched the computers";
    CloseHandle(updated);
    ExpectUninstalled();
    EXPECT_TRUE(FolderListing(InstallFolder()) == STAND_INS) << "only the test's stand-ins may remain";
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_KEY)) << "silent uninstall removed the settings";
}

// The uninstaller's check box, as /RemoveSettings for a silent run, takes the
// settings with it; the product's parent key goes only when empty.
TEST_F(InstallerTest, UninstallRemovesTheSettingsOnlyWhenAsked)
{
    CleanRegistry registry;
    struct Row {
        const char *name;
        const wchar_t *arguments;
        bool settingsKept;
    } const rows[] = {
        {"silent", L"/S", true},
        {"silent, asked to remove the settings", L"/S /RemoveSettings", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"ActiveKey", 145);
        ASSERT_EQ(install(), 0);
        ASSERT_EQ(RunUninstaller(row.arguments), 0);
        ExpectUninstalled();
        EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"ActiveKey").has_value(), row.settingsKept);
        EXPECT_EQ(RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_PARENT), row.settingsKept);
        EXPECT_FALSE(FileExists(InstallFolder()));
    }
}

// The user this test runs as: the one logged on, for Wine.
std::wstring ThisUserSid()
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE buffer[256];
    DWORD size = 0;
    wchar_t *text = nullptr;
    std::wstring sid;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
        ConvertSidToStringSidW(((TOKEN_USER *)buffer)->User.Sid, &text))
        sid = text;
    LocalFree(text);
    CloseHandle(token);
    return sid;
}

size_t Count(const std::wstring &text, const std::wstring &piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::wstring::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

// The choice to switch from windows running as administrator too (/AllWindows,
// or the box on the installer's page): logon then starts the applet through a
// scheduled task for the user at the desktop, with full rights, and never also
// through the Run entry; an install without the choice, and the uninstaller,
// take the task away. Wine's Task Scheduler keeps a task's description and
// settings but drops its trigger, principal and action ("read_triggers stub",
// "read_actions stub"), and runs no task: the whole definition that
// DesktopUser.exe registers is checked as it builds it.
TEST_F(InstallerTest, TheChoiceStartsTheAppletThroughALogonTaskInsteadOfTheRunEntry)
{
    CleanRegistry registry;
    wchar_t xml[8192];
    ASSERT_TRUE(LogonTaskDefinition(ThisUserSid().c_str(), L"C:\\Tools & Co\\VarnelKVM.exe", xml, 8192));
    std::wstring definition = xml;
    printf("The logon task as DesktopUser.exe registers it:\n%s", Utf8(definition).c_str());
    EXPECT_EQ(Count(definition, L"<UserId>" + ThisUserSid() + L"</UserId>"), 2u) << "the trigger's and the principal's";
    for (const wchar_t *element :
         {L"<LogonTrigger>", L"<LogonType>InteractiveToken</LogonType>", L"<RunLevel>HighestAvailable</RunLevel>",
          L"<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>", L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
          L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
          L"<Command>\"C:\\Tools &amp; Co\\VarnelKVM.exe\"</Command>", L"<Arguments>/s</Arguments>"})
        EXPECT_EQ(Count(definition, element), 1u) << Utf8(element);

    // An update without a word of it keeps the choice; /AllWindows=0 turns it off.
    struct Stage {
        const char *name;
        const wchar_t *arguments;
        bool task;
    } const stages[] = {
        {"after a silent install with /AllWindows", L"/S /AllWindows", true},
        {"after a silent update without it", L"/S", true},
        {"after a silent update with /AllWindows=0", L"/S /AllWindows=0", false},
        {"after a silent update without it again", L"/S", false},
        {"after a silent update with /AllWindows again", L"/S /AllWindows", true},
    };
    for (const Stage &stage : stages) {
        SCOPED_TRACE(stage.name);
        ASSERT_EQ(install(stage.arguments), 0);
        PrintInventory(stage.name);
        EXPECT_EQ(FileExists(TaskFile()), stage.task) << "the logon task";
        EXPECT_EQ(RegistryValueExists(WindowsKey(), RUN_KEY, PRODUCT), !stage.task) << "the Run entry";
        if (!stage.task)
            continue;
        // Wine's defaults are PT72H and true: these are the installer's.
        std::string stored = FileText(TaskFile());
        printf("%s as Wine's Task Scheduler keeps it:\n%s\n", Utf8(TaskFile()).c_str(), stored.c_str());
        for (const char *setting : {"<ExecutionTimeLimit>PT0S<", "<DisallowStartIfOnBatteries>false<",
                                    "<StopIfGoingOnBatteries>false<", "also work in windows running as administrator"})
            EXPECT_NE(stored.find(setting), std::string::npos) << setting;
    }

    // An update over a running copy ends it and starts it again only through
    // the task, never by itself. Wine runs no task, so here no copy
    // runs afterwards; on Windows the task's copy would.
    AppletProcess applet;
    applet.setProgramPath(InstalledProgram());
    applet.setCommandLine(L"\"" + InstalledProgram() + L"\" /s");
    ASSERT_TRUE(applet.start());
    ASSERT_NE(applet.waitForWindow(START_TIMEOUT_MS), nullptr);
    ASSERT_EQ(install(L"/S /AllWindows"), 0);
    DWORD exitCode = 99;
    EXPECT_TRUE(applet.waitForExit(0, &exitCode) && exitCode == 0) << "not ended by its Exit command: " << exitCode;
    EXPECT_TRUE(ProcessesNamed(L"VarnelKVM.exe").empty()) << "the installer started the applet by itself";

    ASSERT_EQ(RunUninstaller(L"/S"), 0);
    PrintInventory("after a silent uninstall");
    ExpectUninstalled();
}

#ifdef VARNEL_MSI_NAME
// The package carries this test's own kind of build (the 64-bit one where the
// machine runs no 32-bit code): its folder and registry view are this program's.
class MsiTest : public InstallerTest {
protected:
    // As a deployment tool runs it: no user interface, a log left in the prefix.
    long msiexec(const std::wstring &arguments)
    {
        long code = RunCommand(L"msiexec " + arguments + L" /qn /l*v C:\\windows\\temp\\msiexec.log");
        printf("==== msiexec %s /qn: exit code %ld\n", Utf8(arguments).c_str(), code);
        return code;
    }
    long install(const wchar_t *package) { return msiexec(L"/i \"" + BinaryFolder() + L"\\" + package + L"\""); }
    // The one entry in Add/Remove Programs, with the icon Windows Installer keeps; its product code.
    std::wstring expectOneRecord(const wchar_t *version)
    {
        std::vector<std::wstring> records = UninstallRecords(places.windowsKey);
        EXPECT_EQ(records.size(), 1u) << "entries in Add/Remove Programs";
        std::wstring key = records.empty() ? L"" : records[0], productCode = key.substr(key.find(L'\\') + 1);
        EXPECT_EQ(Utf8(RegistryString(places.windowsKey, key.c_str(), L"Publisher")), "Varnel Corporation");
        EXPECT_EQ(Utf8(RegistryString(places.windowsKey, key.c_str(), L"DisplayVersion")), Utf8(version));
        wchar_t icon[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_PRODUCTICON, icon, &size);
        EXPECT_FALSE(FileBytes(icon).empty()) << "icon " << Utf8(icon);
        return productCode;
    }
    // Wine's msi puts a per-machine package's shortcut in the installing user's
    // Start menu, Windows in All Users'.
    bool const wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    InstallPlaces places = {KnownFolder(CSIDL_PROGRAM_FILES) + L"\\" + PRODUCT, nullptr,
                            KnownFolder(wine ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS) + L"\\" + PRODUCT + L".lnk"};
};

TEST_F(MsiTest, SilentInstallUpdateOverTheRunningCopyNoDowngradeAndSilentUninstall)
{
    printf("Package: %s\n", Utf8(VARNEL_MSI_NAME).c_str());
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, WINDOWS_KEY, 0, KEY_READ, &places.windowsKey);
    CleanRegistry registry;
    SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"ActiveKey", 145);
    SetSwitchOnExitVariant();
    // The copy the update starts again is started by the desktop's shell:
    // the switch is in the table every program of this prefix sees.
    SimulatedSwitch simulator(SIM_DEFAULT_TABLE);
    int id = simulator.add(SwitchInterface(0x5A04, 0x0400, 8));
    PrintInventory("before the install", places);

    // Not over the Setup program's install: it would take that program's files.
    std::wstring setupRecord = std::wstring(WINDOWS_KEY) + L"\\" + UNINSTALL_KEY;
    SetRegistryValue(HKEY_LOCAL_MACHINE, setupRecord.c_str(), L"UninstallString", REG_SZ, L"U", 4);
    EXPECT_EQ(install(VARNEL_MSI_NAME), (long)ERROR_INSTALL_FAILURE);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, setupRecord.c_str());
    EXPECT_FALSE(FileExists(places.folder));

    ASSERT_EQ(install(VARNEL_MSI_NAME), 0);
    PrintInventory("after a silent install", places);
    ExpectProgramInstalled(places);
    expectOneRecord(VARNEL_MSI_VERSION);
    // Nor the Setup program over the package's install, which it would take over.
    EXPECT_EQ(InstallerTest::install(L"/S"), 2) << "the Setup program went over the package";
    EXPECT_FALSE(RegistryKeyExists(WindowsKey(), UNINSTALL_KEY)) << "the Setup program's record";
    copyStandIns(places.folder);
    DWORD exitCode = 99;
    {
        AppletProcess applet;
        ASSERT_NO_FATAL_FAILURE(startInstalledCopy(applet, simulator, places));
        expectItSwitches(simulator, id, applet.window());
        // Each file carries an extra byte until the update replaces it. Wine lets a running
        // program's files be replaced: only the old copy's exit code shows it was ended first.
        for (const wchar_t *name : {L"VarnelKVM.exe", L"Quillhook.dll"})
            AppendByte(places.folder + L"\\" + name);
        simulator.clearReports();
        ASSERT_EQ(install(VARNEL_MSI_UPDATE_NAME), 0);
        PrintInventory("after a higher version over the running copy", places);
        EXPECT_TRUE(applet.waitForExit(0, &exitCode) && exitCode == 0) << "not ended by its Exit command: " << exitCode;
        EXPECT_TRUE(simulator.reports(id).empty()) << "the update switched the computers";
    }
    ExpectProgramInstalled(places);
    expectOneRecord(VARNEL_MSI_UPDATE_VERSION);
    // The copy the update ended runs again, as it does after the Setup program's update.
    DWORD restarted = RestartedCopy();
    ASSERT_NE(restarted, 0u);
    ASSERT_TRUE(simulator.waitForClient(restarted));
    expectItSwitches(simulator, id, FindAppletWindow(restarted));

    EXPECT_EQ(install(VARNEL_MSI_NAME), (long)ERROR_INSTALL_FAILURE) << "an older version went over a newer";
    PrintInventory("after the older package", places);
    std::wstring productCode = expectOneRecord(VARNEL_MSI_UPDATE_VERSION);

    // Removal ends the copy, without switching, and starts nothing again.
    HANDLE running = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, restarted);
    simulator.clearReports();
    ASSERT_EQ(msiexec(L"/x " + productCode), 0);
    PrintInventory("after a silent uninstall over the running copy", places);
    exitCode = 99;
    EXPECT_EQ(WaitForSingleObject(running, 0), WAIT_OBJECT_0) << "the running copy was not ended";
    GetExitCodeProcess(running, &exitCode);
    CloseHandle(running);
    EXPECT_EQ(exitCode, 0u) << "not ended by its Exit command";
    EXPECT_TRUE(simulator.reports(id).empty()) << "the removal switched the computers";
    ExpectUninstalled(places);
    EXPECT_TRUE(FolderListing(places.folder) == STAND_INS) << "only the test's stand-ins may remain";
    EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"ActiveKey"), 145u) << "the settings went";
}
#endif

}  // namespace
