#include "TypingRig.h"
#include "HotkeyRig.h"
#include "Registry.h"

#include <cstdio>
#include <cwchar>

static BYTE const SWITCH_REPORT_ID = 1;
static BYTE const MUTE_BIT = 1;
static WORD const EXIT_COMMAND = 105;      // the tray menu's Exit
static DWORD const EXIT_TIMEOUT_MS = 10000;

bool XdotoolInstalled()
{
    return GetFileAttributesW(L"Z:\\usr\\bin\\xdotool") != INVALID_FILE_ATTRIBUTES;
}

// REG_MULTI_SZ with no terminator, as the prompt stores it.
static void SetStoredText(const wchar_t *name, const std::wstring &text)
{
    SetRegistryValue(HKEY_CURRENT_USER, SETTINGS_KEY, name, REG_MULTI_SZ, text.data(),
                     (DWORD)(text.size() * sizeof(wchar_t)));
}

static BOOL CALLBACK TakeFirstMonitor(HMONITOR monitor, HDC, RECT *, LPARAM context)
{
    MONITORINFOEXW info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    *(std::wstring *)context = info.szDevice;
    return FALSE;
}

void SetMonitorChosen()
{
    std::wstring device;
    EnumDisplayMonitors(nullptr, nullptr, TakeFirstMonitor, (LPARAM)&device);
    SetStoredText(L"DefaultDisplay", device);
    SetStoredText(L"NumDisplays", std::to_wstring(GetSystemMetrics(SM_CMONITORS)));
}

RunningApplet::RunningApplet(DebugListener &debug, SimulatedSwitch &simulated)
    : debug_(debug), simulated_(simulated)
{
}

RunningApplet::~RunningApplet()
{
    stop();
}

// The applet, its hook library and the simulated switch's stand-ins, which a
// program finds beside itself first.
static const wchar_t *const APPLET_FILES[] = {L"VarnelKVM.exe", L"Quillhook.dll", L"setupapi.dll", L"hid.dll"};
static const wchar_t PRIVATE_FOLDERS[] = L"hotkey-applets";

static void RemoveFolder(const std::wstring &folder)
{
    for (const wchar_t *file : APPLET_FILES)
        DeleteFileW((folder + L"\\" + file).c_str());
    RemoveDirectoryW(folder.c_str());
}

// The private folders of this prefix's tests: tests in other lanes (other
// prefixes, with wineservers of their own) keep theirs apart.
static std::wstring PrivateFolders()
{
    wchar_t prefix[MAX_PATH] = {};
    GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
    const wchar_t *name = wcsrchr(prefix, L'/');
    return std::wstring(PRIVATE_FOLDERS) + L"\\" + (name != nullptr ? name + 1 : L"default");
}

// Folders of earlier runs, where nothing holds their files any more.
static void SweepPrivateFolders()
{
    std::wstring const parent = BinaryFolder() + L"\\" + PrivateFolders();
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((parent + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && found.cFileName[0] != L'.')
            RemoveFolder(parent + L"\\" + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

bool RunningApplet::start()
{
    static int starts = 0;
    SweepPrivateFolders();
    std::wstring const bin = BinaryFolder();
    folder_ = PrivateFolders() + L"\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(++starts) + L"-" + std::to_wstring(GetTickCount());
    CreateDirectoryW((bin + L"\\" + PRIVATE_FOLDERS).c_str(), nullptr);
    CreateDirectoryW((bin + L"\\" + PrivateFolders()).c_str(), nullptr);
    if (!CreateDirectoryW((bin + L"\\" + folder_).c_str(), nullptr))
        return false;
    for (const wchar_t *file : APPLET_FILES) {
        if (!CopyFileW((bin + L"\\" + file).c_str(), (bin + L"\\" + folder_ + L"\\" + file).c_str(), FALSE))
            return false;
    }

    applet_.reset(new AppletProcess(L"", folder_ + L"\\VarnelKVM.exe"));
    if (!applet_->start() || applet_->waitForWindow() == nullptr)
        return false;
    if (!applet_->waitForStartUp(debug_))
        return false;
    // What start-up told the switch (the mute state) is not the tests' business.
    if (!simulated_.catchUp())
        return false;
    for (const SimReport &report : simulated_.reports()) {
        if (report.bytes.size() >= 2 && report.bytes[0] == SWITCH_REPORT_ID)
            startupMuteBit_ = report.bytes[1] & MUTE_BIT;
    }
    simulated_.clearReports();
    return true;
}

bool RunningApplet::stop()
{
    if (!applet_)
        return true;
    bool exited = false;
    if (applet_->running()) {
        applet_->post(WM_COMMAND, MAKEWPARAM(EXIT_COMMAND, 0), 0);
        exited = applet_->waitForExit(EXIT_TIMEOUT_MS);
    }
    applet_.reset();
    RemoveFolder(BinaryFolder() + L"\\" + folder_);
    return exited;
}
