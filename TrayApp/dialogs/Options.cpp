// The Options dialog: the hotkeys, start-up, device sounds and, for one
// variant, switching on exit and on shutdown. One procedure serves both
// layouts; a control the layout lacks reads as unchecked and ignores changes.
// Nothing takes effect before OK.
//   ShowOptionsDialog   - opens it, or brings the open one to the front
//   OptionsDlgProc      - the dialog procedure
//   RefreshHotkeyGroups - both radio groups from the stored keys
//   ExcludeOptimizeKey  - the optimize group never offers the switching key
//   CommitOptions       - OK: settings, registry, sequence timer, sounds
#include "Dialogs.h"
#include "../shell/Shell.h"
#include "../display/Display.h"
#include "../hotkeys/Hotkeys.h"

namespace {

int const IDC_ENABLE_SWITCHING = 1002;
int const IDC_SWITCH_CONTROL = 1007;
int const IDC_SWITCH_NUMLOCK = 1004;
int const IDC_SWITCH_SCROLL = 1005;
int const IDC_SWITCH_THREE_KEY = 1003;
int const IDC_DEVICE_SOUNDS = 1006;
int const IDC_HOTKEY_GROUP = 1001;
int const IDC_ALT_NOTE = 32781;
int const IDC_SELECT_MONITOR = 1008;
int const IDC_OPTIMIZE_GROUP = 1009;
int const IDC_ENABLE_OPTIMIZE = 1010;
int const IDC_OPTIMIZE_CONTROL = 1011;
int const IDC_OPTIMIZE_NUMLOCK = 1012;
int const IDC_OPTIMIZE_SCROLL = 1013;
int const IDC_OPTIMIZE_THREE_KEY = 1014;
int const IDC_RUN_ON_STARTUP = 1015;
int const IDC_SWITCH_ON_EXIT = 1016;
int const IDC_SWITCH_ON_SHUTDOWN = 1017;

UINT const IDS_OPTIONS_TITLE = 108;

// Every text of the dialog, from the string table in the user's language.
struct ControlText {
    int control;
    UINT stringId;
};
ControlText const CONTROL_TEXTS[] = {
    {IDC_HOTKEY_GROUP, 110},     {IDC_ENABLE_SWITCHING, 111}, {IDC_DEVICE_SOUNDS, 112},
    {IDC_SWITCH_CONTROL, 113},   {IDC_OPTIMIZE_CONTROL, 113}, {IDC_SWITCH_NUMLOCK, 114},
    {IDC_OPTIMIZE_NUMLOCK, 114}, {IDC_SWITCH_SCROLL, 115},    {IDC_OPTIMIZE_SCROLL, 115},
    {IDC_SWITCH_THREE_KEY, 116}, {IDC_OPTIMIZE_THREE_KEY, 116}, {IDOK, 119},
    {IDCANCEL, 120},             {IDC_ALT_NOTE, 122},         {IDC_SELECT_MONITOR, 126},
    {IDC_ENABLE_OPTIMIZE, 128},  {IDC_OPTIMIZE_GROUP, 129},   {IDC_RUN_ON_STARTUP, 133},
    {IDC_SWITCH_ON_EXIT, 130},   {IDC_SWITCH_ON_SHUTDOWN, 134},
};

// The radio button of each key in the two groups; the last row also stands
// for any stored value the others do not name.
struct KeyRadios {
    DWORD key;
    int switching;
    int optimize;
};
KeyRadios const KEY_RADIOS[] = {
    {VK_CONTROL, IDC_SWITCH_CONTROL, IDC_OPTIMIZE_CONTROL},
    {VK_NUMLOCK, IDC_SWITCH_NUMLOCK, IDC_OPTIMIZE_NUMLOCK},
    {VK_SCROLL, IDC_SWITCH_SCROLL, IDC_OPTIMIZE_SCROLL},
    {THREE_KEY_SEQUENCE, IDC_SWITCH_THREE_KEY, IDC_OPTIMIZE_THREE_KEY},
};
size_t const KEY_COUNT = sizeof(KEY_RADIOS) / sizeof(KEY_RADIOS[0]);

// When a switching key is chosen that the optimize group had selected, the
// optimize selection moves to a key the switching group does not use.
struct OptimizeReplacement {
    int clicked;
    int replacement;
};
OptimizeReplacement const OPTIMIZE_REPLACEMENTS[] = {
    {IDC_SWITCH_CONTROL, IDC_OPTIMIZE_SCROLL},
    {IDC_SWITCH_NUMLOCK, IDC_OPTIMIZE_SCROLL},
    {IDC_SWITCH_SCROLL, IDC_OPTIMIZE_CONTROL},
    {IDC_SWITCH_THREE_KEY, IDC_OPTIMIZE_SCROLL},
};

const KeyRadios &RadiosOfKey(DWORD key)
{
    for (const KeyRadios &row : KEY_RADIOS) {
        if (row.key == key)
            return row;
    }
    return KEY_RADIOS[KEY_COUNT - 1];
}

// The key of the first checked radio of a group; none checked reads as the three-key form.
DWORD CheckedKey(HWND dialog, int KeyRadios::*group)
{
    for (const KeyRadios &row : KEY_RADIOS) {
        if (IsDlgButtonChecked(dialog, row.*group) == BST_CHECKED)
            return row.key;
    }
    return THREE_KEY_SEQUENCE;
}

void EnableGroup(HWND dialog, int KeyRadios::*group, BOOL enable)
{
    for (const KeyRadios &row : KEY_RADIOS)
        EnableWindow(GetDlgItem(dialog, row.*group), enable);
}

void UncheckGroup(HWND dialog, int KeyRadios::*group)
{
    for (const KeyRadios &row : KEY_RADIOS)
        CheckDlgButton(dialog, row.*group, BST_UNCHECKED);
}

void CheckIf(HWND dialog, int control, DWORD value)
{
    CheckDlgButton(dialog, control, value != 0 ? BST_CHECKED : BST_UNCHECKED);
}

DWORD IsChecked(HWND dialog, int control)
{
    return IsDlgButtonChecked(dialog, control) == BST_CHECKED ? 1 : 0;
}

bool SwitchOnEventsOffered()
{
    return appState.noAudio != 0 && appState.noButton != 0;
}

// The dialog now open.
HWND openDialog = nullptr;
// Whether it shows the optimize group (the firmware-4 layout). Decided once at
// opening: the switch's identity changes while the dialog is open (every
// device notice clears it, every report refills it), and the dialog must act
// on the layout it shows.
bool optimizeShown = false;
// Whether it shows the switch-on-exit and switch-on-shutdown boxes. A
// no-audio switch met while the dialog is open makes the variant that has
// them; boxes that were never shown must not clear the stored settings.
bool switchOnEventsShown = false;

void OnInitDialog(HWND dialog)
{
    openDialog = dialog;
    optimizeShown = GetDlgItem(dialog, IDC_OPTIMIZE_GROUP) != nullptr;
    switchOnEventsShown = SwitchOnEventsOffered();

    SetWindowTextW(dialog, UiString(IDS_OPTIONS_TITLE).text);
    for (const ControlText &text : CONTROL_TEXTS)
        SetDlgItemTextW(dialog, text.control, UiString(text.stringId).text);

    if (switchOnEventsShown) {
        ShowWindow(GetDlgItem(dialog, IDC_SWITCH_ON_EXIT), SW_SHOWNORMAL);
        ShowWindow(GetDlgItem(dialog, IDC_SWITCH_ON_SHUTDOWN), SW_SHOWNORMAL);
        if (appState.switchOnExit != 0)
            CheckDlgButton(dialog, IDC_SWITCH_ON_EXIT, BST_CHECKED);
        if (appState.switchOnShutdown != 0)
            CheckDlgButton(dialog, IDC_SWITCH_ON_SHUTDOWN, BST_CHECKED);
    }
    // Choosing a monitor again only makes sense when there is a choice.
    if (GetSystemMetrics(SM_CMONITORS) > 1 && optimizeShown)
        EnableWindow(GetDlgItem(dialog, IDC_SELECT_MONITOR), TRUE);
    // Without audio switching, ALT has nothing to leave behind.
    if (appState.noAudio != 0)
        ShowWindow(GetDlgItem(dialog, IDC_ALT_NOTE), SW_HIDE);

    appState.workEnableKeys = appState.enableKeys;
    appState.workEnableKeysOptimize = appState.enableKeysOptimize;
    appState.workSoundsOn = appState.initialSoundsOn = AreDeviceSoundsOn();
    RefreshHotkeyGroups(dialog, appState.enableKeys, appState.enableKeysOptimize);
    CheckIf(dialog, IDC_RUN_ON_STARTUP, appState.runOnStartup);
    if (DeviceSoundsAvailable())
        CheckIf(dialog, IDC_DEVICE_SOUNDS, appState.workSoundsOn);
    else
        ShowWindow(GetDlgItem(dialog, IDC_DEVICE_SOUNDS), SW_HIDE);
}

void WriteSettings()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, USER_SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    WriteRegistryDword(key, L"ActiveKey", appState.activeKey);
    WriteRegistryDword(key, L"EnableKeys", appState.enableKeys);
    WriteRegistryDword(key, L"ActiveKey_Optimize", appState.activeKeyOptimize);
    WriteRegistryDword(key, L"EnableKeys_Optimize", appState.enableKeysOptimize);
    WriteRegistryDword(key, L"RunOnStartupKey", appState.runOnStartup);
    if (switchOnEventsShown) {
        WriteRegistryDword(key, L"kestrelOnShutdown", appState.switchOnShutdown);
        WriteRegistryDword(key, L"kestrelOnExit", appState.switchOnExit);
    }
    RegCloseKey(key);
}

void CommitOptions(HWND dialog)
{
    appState.enableKeys = appState.workEnableKeys;
    appState.enableKeysOptimize = appState.workEnableKeysOptimize;
    appState.activeKey = CheckedKey(dialog, &KeyRadios::switching);
    if (optimizeShown)
        appState.activeKeyOptimize = CheckedKey(dialog, &KeyRadios::optimize);
    // Taken from their boxes only now: an exit (or shutdown) while the dialog
    // is open must not act on ticks that were never confirmed.
    appState.runOnStartup = IsChecked(dialog, IDC_RUN_ON_STARTUP);
    if (switchOnEventsShown) {
        appState.switchOnExit = IsChecked(dialog, IDC_SWITCH_ON_EXIT);
        appState.switchOnShutdown = IsChecked(dialog, IDC_SWITCH_ON_SHUTDOWN);
    }
    WriteSettings();

    // A fresh switching window; the optimize one is left as it runs.
    if (appState.enableKeys != 0)
        RestartThreadTimer(&appState.sequenceTimerId, SEQUENCE_TIMER, SEQUENCE_TIMER_PERIOD);
    else
        StopThreadTimer(&appState.sequenceTimerId);

    if (appState.workSoundsOn != appState.initialSoundsOn)
        SetDeviceSounds(appState.workSoundsOn);
}

void CloseOptions(HWND dialog, int result)
{
    // A later "Options..." opens a new dialog even while this one waits to be destroyed.
    if (openDialog == dialog)
        openDialog = nullptr;
    EndDialog(dialog, result);
}

void OnEnableCheckBox(HWND dialog)
{
    appState.workEnableKeys = IsChecked(dialog, IDC_ENABLE_SWITCHING);
    if (optimizeShown)
        appState.workEnableKeysOptimize = IsChecked(dialog, IDC_ENABLE_OPTIMIZE);
    RefreshHotkeyGroups(dialog, appState.workEnableKeys, appState.workEnableKeysOptimize);
}

BOOL OnCommand(HWND dialog, int control)
{
    switch (control) {
    case IDOK:
        CommitOptions(dialog);
        CloseOptions(dialog, IDOK);
        return TRUE;
    case IDCANCEL:
        CloseOptions(dialog, IDCANCEL);
        return TRUE;
    case IDC_ENABLE_SWITCHING:
    case IDC_ENABLE_OPTIMIZE:
        OnEnableCheckBox(dialog);
        return FALSE;
    case IDC_SWITCH_CONTROL:
    case IDC_SWITCH_NUMLOCK:
    case IDC_SWITCH_SCROLL:
    case IDC_SWITCH_THREE_KEY:
        ExcludeOptimizeKey(dialog, control);
        return FALSE;
    case IDC_DEVICE_SOUNDS:
        appState.workSoundsOn = IsChecked(dialog, IDC_DEVICE_SOUNDS);
        return FALSE;
    case IDC_SELECT_MONITOR:
        PromptForPrimaryMonitor();
        return FALSE;
    }
    return FALSE;
}

}  // namespace

void RefreshHotkeyGroups(HWND dialog, DWORD enableSwitching, DWORD enableOptimize)
{
    CheckIf(dialog, IDC_ENABLE_SWITCHING, enableSwitching);
    UncheckGroup(dialog, &KeyRadios::switching);
    CheckDlgButton(dialog, RadiosOfKey(appState.activeKey).switching, BST_CHECKED);
    EnableGroup(dialog, &KeyRadios::switching, enableSwitching != 0);
    if (!optimizeShown)
        return;

    CheckIf(dialog, IDC_ENABLE_OPTIMIZE, enableOptimize);
    UncheckGroup(dialog, &KeyRadios::optimize);
    EnableGroup(dialog, &KeyRadios::optimize, enableOptimize != 0);
    if (enableSwitching != 0)
        EnableWindow(GetDlgItem(dialog, RadiosOfKey(appState.activeKey).optimize), FALSE);
    CheckDlgButton(dialog, RadiosOfKey(appState.activeKeyOptimize).optimize, BST_CHECKED);
}

void ExcludeOptimizeKey(HWND dialog, int clickedId)
{
    if (!optimizeShown)
        return;
    EnableGroup(dialog, &KeyRadios::optimize, IsChecked(dialog, IDC_ENABLE_OPTIMIZE) != 0);
    for (const KeyRadios &row : KEY_RADIOS) {
        if (row.switching != clickedId)
            continue;
        EnableWindow(GetDlgItem(dialog, row.optimize), FALSE);
        if (IsChecked(dialog, row.optimize) == 0)
            return;
        CheckDlgButton(dialog, row.optimize, BST_UNCHECKED);
        for (const OptimizeReplacement &replacement : OPTIMIZE_REPLACEMENTS) {
            if (replacement.clicked == clickedId)
                CheckDlgButton(dialog, replacement.replacement, BST_CHECKED);
        }
        return;
    }
}

INT_PTR CALLBACK OptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam));
    case WM_DESTROY:
        if (openDialog == dialog)
            openDialog = nullptr;
        return FALSE;
    }
    return FALSE;
}

HWND OpenOptionsDialog()
{
    return openDialog;
}

void ShowOptionsDialog(HWND owner)
{
    // A second dialog would stack on the first, and its OK would overwrite
    // the first one's choices with settings read before them.
    if (openDialog != nullptr) {
        BringDialogToFront(openDialog);
        return;
    }
    WORD const layout = HasDisplayFirmware() ? IDD_OPTIONS_DISPLAY : IDD_OPTIONS;
    DialogBoxParamW(appState.instance, MAKEINTRESOURCEW(layout), owner, OptionsDlgProc, 0);
}
