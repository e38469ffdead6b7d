// Start-up: the entry point, the main window's class and InitInstance.
//   RegisterMainWindowClass - the hidden main window's class
//   InitInstance            - single instance, switches, settings, window, tray, hook
//   CommandLineHas          - a switch anywhere in the command line
#include "Shell.h"
#include "MessageFilter.h"
#include "../device/Device.h"
#include "../display/Display.h"
#include "../KbHook/Quillhook.h"

#include <dbt.h>

static wchar_t const SETTINGS_PARENT_KEY[] = L"Software\\Varnel";
static wchar_t const VARIANT_KEY[] = L"SOFTWARE\\Varnel\\Kestrel";
// Passed exactly so, forward slashes and all: it names one key right under HKLM.
static wchar_t const SAFE_BOOT_KEY[] = L"/System/CurrentControlSet/Control/Safeboot/Minimal";

bool CommandLineHas(const wchar_t *commandLine, const wchar_t *switchText)
{
    return commandLine != nullptr && wcsstr(commandLine, switchText) != nullptr;
}

void RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {sizeof(windowClass)};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_CLASS_MENU);
    windowClass.lpszClassName = appState.className;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM_SMALL));
    RegisterClassExW(&windowClass);
}

// Opens the settings key, creating it (parent first) for a user who has none.
static HKEY OpenOrCreateSettingsKey()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, USER_SETTINGS_KEY, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS)
        return key;

    HKEY parent = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_PARENT_KEY, 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &parent, nullptr) != ERROR_SUCCESS)
        return nullptr;
    LONG created = RegCreateKeyExW(HKEY_CURRENT_USER, USER_SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS,
                                   nullptr, &key, nullptr);
    RegCloseKey(parent);
    return created == ERROR_SUCCESS ? key : nullptr;
}

static void ShowRegistryError()
{
    wchar_t programPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, programPath, MAX_PATH);
    MessageBoxW(nullptr, L"This software is unable to write to the registry", programPath,
                MB_OK | MB_ICONEXCLAMATION);
}

static void ReadVariantFlags()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, VARIANT_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    if (!QueryRegistryDword(key, L"NoAudioKestrel", &appState.noAudio, VARIANT_FLAG_BYTES))
        appState.noAudio = 0;
    if (!QueryRegistryDword(key, L"NoButtonKestrel", &appState.noButton, VARIANT_FLAG_BYTES))
        appState.noButton = 0;
    RegCloseKey(key);
}

static void ReadDwordOrDefault(HKEY key, const wchar_t *valueName, DWORD *field, DWORD fallback)
{
    if (!QueryRegistryDword(key, valueName, field))
        *field = fallback;
}

// The switch-on-shutdown and switch-on-exit values exist only for the variants
// that have the feature; a missing one is created with its default.
static void ReadSwitchOnValues(HKEY key)
{
    if (appState.noAudio == 0 && appState.noButton == 0)
        return;
    if (!QueryRegistryDword(key, L"kestrelOnShutdown", &appState.switchOnShutdown)) {
        appState.switchOnShutdown = 1;
        WriteRegistryDword(key, L"kestrelOnShutdown", 1);
    }
    if (!QueryRegistryDword(key, L"kestrelOnExit", &appState.switchOnExit)) {
        appState.switchOnExit = 0;
        WriteRegistryDword(key, L"kestrelOnExit", 0);
    }
}

static void RegisterForHidNotifications()
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    RegisterDeviceNotificationW(appState.mainWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

BOOL InitInstance(HINSTANCE instance, int showCommand)
{
    const wchar_t *commandLine = GetCommandLineW();
    appState.osVersion.dwOSVersionInfoSize = sizeof(appState.osVersion);
    GetVersionExW((OSVERSIONINFOW *)&appState.osVersion);

    // One copy per desktop: a second start either ends the first ("/x") or just ends.
    HWND runningCopy = FindWindowW(appState.className, appState.windowTitle);
    if (runningCopy != nullptr) {
        if (CommandLineHas(commandLine, L"/x"))
            PostMessageW(runningCopy, WM_COMMAND, IDM_EXIT, 0);
        return FALSE;
    }
    if (CommandLineHas(commandLine, L"/x"))
        return FALSE;

    if (CommandLineHas(commandLine, L"/s")) {
        HKEY safeBoot = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SAFE_BOOT_KEY, 0, KEY_READ, &safeBoot) == ERROR_SUCCESS) {
            RegCloseKey(safeBoot);
            return FALSE;
        }
        appState.startedAtBoot = true;
    }
    if (CommandLineHas(commandLine, L"/o"))
        OptimizeDisplay();

    appState.instance = instance;
    ReadVariantFlags();

    HKEY settings = OpenOrCreateSettingsKey();
    if (settings == nullptr) {
        ShowRegistryError();
        return FALSE;
    }
    ReadDwordOrDefault(settings, L"RunOnStartupKey", &appState.runOnStartup, 1);
    if (appState.startedAtBoot && appState.runOnStartup == 0) {
        RegCloseKey(settings);
        return FALSE;
    }
    ReadDwordOrDefault(settings, L"ActiveKey", &appState.activeKey, VK_CONTROL);
    ReadDwordOrDefault(settings, L"EnableKeys", &appState.enableKeys, 1);
    ReadDwordOrDefault(settings, L"EnableKeys_Optimize", &appState.enableKeysOptimize, 1);
    ReadDwordOrDefault(settings, L"ActiveKey_Optimize", &appState.activeKeyOptimize, VK_SCROLL);
    ReadSwitchOnValues(settings);
    RegCloseKey(settings);

    if (appState.enableKeys != 0)
        appState.sequenceTimerId = StartThreadTimer(SEQUENCE_TIMER, SEQUENCE_TIMER_PERIOD);
    if (appState.enableKeysOptimize != 0)
        appState.optimizeTimerId = StartThreadTimer(OPTIMIZE_TIMER, OPTIMIZE_TIMER_PERIOD);

    appState.mainWindow = CreateWindowExW(0, appState.className, appState.windowTitle,
                                          WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                          nullptr, nullptr, appState.instance, nullptr);
    if (appState.mainWindow == nullptr)
        return FALSE;
    AllowOrdinaryProgramsToMainWindow();
    RegisterForHidNotifications();

    SelectUiLanguage();
    LoadUiString(IDS_ABOUT_TITLE, appState.aboutTitle);
    LoadUiString(IDS_PRODUCT_NAME, appState.windowTitle);

    appState.deviceAttributes = HIDD_ATTRIBUTES{};
    if (appState.noAudio == 0)
        OpenMixers();
    AddTrayIcon();
    // A switch attached before start-up is listened to as if it had just arrived.
    if (appState.deviceAttributes.ProductID != 0)
        ArmWatcherStart();

    DebugLine(L"Starting the hook\n");
    StartHook(appState.mainWindow);
    StartInstancePipe();
    return TRUE;
}
