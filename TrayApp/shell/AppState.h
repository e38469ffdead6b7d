// AppState: the applet's one process-wide record, and the numbers that tie
// its parts together (private messages, timers, menu commands).
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <mmsystem.h>
// MinGW's HID headers lack C linkage of their own.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

class HidDeviceSet;

// Private window messages, all handled by the hidden main window.
UINT const WM_TRAY_NOTIFY = 0x832A;         // the shell, for the tray icon
UINT const WM_TURN_BORDER_ON = 0x832D;      // device watcher: the switch asks for the border
UINT const WM_TURN_BORDER_OFF = 0x832E;     // device watcher: the switch asks to remove it
UINT const WM_HOOK_KEYUP = 0x8334;          // Quillhook: a key was released
UINT const WM_HOOK_ALTSTATE = 0x833E;       // Quillhook: the ALT context bit changed
UINT const WM_HOOK_ACTIVATE = 0x8320;       // Quillhook's shell-form procedure (never installed)
UINT const WM_CLOSE_MONITOR_PROMPT = 0x65;  // sent or posted to the applet's own Primary Monitor prompts: close

// Nominal timer identifiers; the ids the system returns are what AppState keeps.
UINT_PTR const SEQUENCE_TIMER = 500;
UINT_PTR const OPTIMIZE_TIMER = 517;
UINT_PTR const ALT_DELAY_TIMER = 513;
UINT_PTR const WATCHER_START_TIMER = 515;
UINT_PTR const BORDER_TIMER = 516;
UINT_PTR const PIPE_TIMER = 522;
// Their periods in milliseconds; the ALT delay's is ALT_DELAY_PERIOD (Hotkeys.h).
UINT const SEQUENCE_TIMER_PERIOD = 500;     // the time to type the next key of a sequence
UINT const OPTIMIZE_TIMER_PERIOD = 517;
UINT const WATCHER_START_DELAY = 515;       // a switch just plugged in settles first
UINT const BORDER_TIMER_PERIOD = 59000;
UINT const PIPE_TIMER_PERIOD = 5000;
UINT_PTR const TIMER_NOT_RUNNING = (UINT_PTR)-1;

// Menu and command identifiers.
WORD const IDM_ABOUT = 104;
WORD const IDM_EXIT = 105;
// The lParam with which only the installers send IDM_EXIT: they replace the
// applet's files, and must not move the user's screen to the other computer
// in the middle of an install (the menu, "/x" and accelerators send 0).
LPARAM const EXIT_FOR_INSTALLER = 0x564B494E;
WORD const IDM_SWITCH_ALL = 32773;          // menu 129
WORD const IDM_SWITCH_AUDIO = 32779;
WORD const IDM_SWITCH_VIDEO = 32780;
WORD const IDM_SWITCH_ALL_EN = 32784;       // menu 130 (English)
WORD const IDM_SWITCH_AUDIO_EN = 32785;
WORD const IDM_SWITCH_VIDEO_EN = 32786;
WORD const IDM_OPTIONS = 32776;
WORD const IDM_OPTIMIZE_DISPLAY = 32783;

// The user's settings, under HKEY_CURRENT_USER.
wchar_t const USER_SETTINGS_KEY[] = L"Software\\Varnel\\Kestrel";

// Resource identifiers used by code.
WORD const IDS_ABOUT_TITLE = 104;
WORD const IDS_CLASS_NAME = 109;
WORD const IDS_OPTIMIZE_DISPLAY = 127;
WORD const IDS_PRODUCT_NAME = 138;
WORD const IDI_PROGRAM = 107;
WORD const IDI_PROGRAM_SMALL = 108;
WORD const IDI_ATTACHED = 130;
WORD const IDI_NOT_ATTACHED = 134;
WORD const IDR_CLASS_MENU = 109;
WORD const IDR_TRAY_MENU = 129;
WORD const IDR_TRAY_MENU_EN = 130;
WORD const IDD_ABOUT = 103;
WORD const IDD_OPTIONS = 131;
WORD const IDD_OPTIONS_DISPLAY = 137;
WORD const IDD_PRIMARY_MONITOR = 135;

// Room for any one of the program's own strings, terminator included: the
// longest translation is under half of it.
size_t const UI_STRING_CHARS = 256;

// What a switch report asks the switch to move to the other computer.
enum SwitchCommand { SWITCH_NONE = 0, SWITCH_VIDEO = 1, SWITCH_AUDIO = 2, SWITCH_ALL = 3 };

// The switch's firmware major version that has the display features.
BYTE const DISPLAY_FIRMWARE_MAJOR = 4;

struct AppState {
    // Settings (HKCU "Software\Varnel\Kestrel").
    DWORD runOnStartup = 1;
    DWORD enableKeys = 1;
    DWORD activeKey = VK_CONTROL;           // -1: Control, Control, Shift
    DWORD enableKeysOptimize = 1;
    DWORD activeKeyOptimize = VK_SCROLL;
    DWORD switchOnShutdown = 0;
    DWORD switchOnExit = 0;

    // Product-variant flags (HKLM "SOFTWARE\Varnel\Kestrel"), read only.
    DWORD noAudio = 0;
    DWORD noButton = 0;

    // Start-up, language and platform.
    bool startedAtBoot = false;
    LANGID uiLanguage = 0x0409;
    bool englishFallback = false;
    OSVERSIONINFOEXW osVersion = {sizeof(OSVERSIONINFOEXW)};

    // Identity of the switch last opened; ProductID not 0 means one was found.
    HIDD_ATTRIBUTES deviceAttributes = {};

    // Handles, strings and objects.
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;
    wchar_t className[UI_STRING_CHARS] = {};
    wchar_t windowTitle[UI_STRING_CHARS] = {};
    wchar_t aboutTitle[UI_STRING_CHARS] = {};
    HMENU trayMenu = (HMENU)(LONG_PTR)-1;
    UINT menuIdSwitchAll = 0;
    UINT menuIdSwitchAudio = 0;
    UINT menuIdSwitchVideo = 0;
    HICON attachedIcon = nullptr;
    HICON notAttachedIcon = nullptr;
    NOTIFYICONDATAW trayIcon = {NOTIFYICONDATAW_V3_SIZE};  // the layout that ends with guidItem
    bool trayDoubleClickPending = false;
    HMIXER mixerHandle = (HMIXER)(LONG_PTR)-1;
    MIXERCAPSW mixerCaps = {};
    DWORD muteControlId = 0;
    DWORD muteState = 0;
    HANDLE pipeHandle = INVALID_HANDLE_VALUE;
    wchar_t pipeName[MAX_PATH] = {};
    volatile WORD pipeCommand = 0;          // written by the pipe thread
    HANDLE pipeThread = nullptr;
    HANDLE watcherThread = nullptr;         // the last watcher's; closed by the next start or at exit
    HidDeviceSet *volatile watcherDeviceSet = nullptr;  // written by the watcher thread
    volatile bool watcherKeepRunning = false;  // cleared by a failed read, or at exit
    BYTE inputReport[8] = {};
    HANDLE watcherEvent = nullptr;
    HANDLE borderEvent = nullptr;
    DWORD borderOn = 0;
    DWORD optimizeRequested = 0;
    DWORD lastPrimaryResolution = 0;
    DWORD videoOnly = 0;
    BYTE switchKeyState = 0;
    BYTE optimizeKeyState = 0;
    DWORD workEnableKeys = 0;
    DWORD workEnableKeysOptimize = 0;
    DWORD workSoundsOn = 0;
    DWORD initialSoundsOn = 0;

    // Timers: the ids SetTimer returned, TIMER_NOT_RUNNING when stopped.
    UINT_PTR sequenceTimerId = TIMER_NOT_RUNNING;
    UINT_PTR optimizeTimerId = TIMER_NOT_RUNNING;
    UINT_PTR altDelayTimerId = TIMER_NOT_RUNNING;
    UINT_PTR watcherStartTimerId = TIMER_NOT_RUNNING;
    UINT_PTR borderTimerId = TIMER_NOT_RUNNING;
    UINT_PTR pipeTimerId = TIMER_NOT_RUNNING;

    // Set by the first pass of the exit sequence; later passes do nothing,
    // and nothing starts a border or a command from then on.
    bool exitSequenceStarted = false;
};

extern AppState appState;

// The firmware major version of the switch last found (0 without one).
inline BYTE FirmwareMajor() { return HIBYTE(appState.deviceAttributes.VersionNumber); }
inline bool HasDisplayFirmware() { return FirmwareMajor() == DISPLAY_FIRMWARE_MAJOR; }
