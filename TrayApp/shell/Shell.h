// The application shell: start-up, main window, timers, tray, pipe, language.
#pragma once

#include "AppState.h"

// Start-up (Startup.cpp)
void RegisterMainWindowClass(HINSTANCE instance);
BOOL InitInstance(HINSTANCE instance, int showCommand);
bool CommandLineHas(const wchar_t *commandLine, const wchar_t *switchText);

// Settings (Settings.cpp)
// Settings are read into a buffer of up to 2048 bytes, the variant flags into 4;
// the first four bytes, little-endian, become the field.
DWORD const SETTINGS_VALUE_BYTES = 2048;
DWORD const VARIANT_FLAG_BYTES = 4;
bool QueryRegistryDword(HKEY key, const wchar_t *valueName, DWORD *target,
                        DWORD bufferBytes = SETTINGS_VALUE_BYTES);
void WriteRegistryDword(HKEY key, const wchar_t *valueName, DWORD value);

// Main window (MainWindow.cpp)
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// windowAlreadyGoing: entered from WM_DESTROY or WM_NCDESTROY; switchAllowed:
// false only for an installer's exit, which never switches the computers.
void RunExitSequence(bool windowAlreadyGoing, bool switchAllowed = true);

// Timers (Timers.cpp)
void CALLBACK TimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD time);
UINT_PTR StartThreadTimer(UINT_PTR nominalId, UINT period);
void RestartThreadTimer(UINT_PTR *storedId, UINT_PTR nominalId, UINT period);
void StopThreadTimer(UINT_PTR *storedId);

// Tray icon and menu (Tray.cpp)
void AddTrayIcon();
void UpdateTrayIcon();
bool IsTaskbarCreatedMessage(UINT message);
void OnTaskbarCreated();
LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
void ShowTrayMenu();
// The switching commands the menu offers now: any with a switch found, audio
// and video apart only where the switch switches audio.
bool TrayMenuOffersSwitch(SwitchCommand command);
int FindMenuItemPosition(HMENU menu, UINT commandId);

// Command-line verbs (Verbs.cpp): the exit codes of a start with a verb.
int const VERB_EXIT_DONE = 0;      // the running copy carried it out: its report reached the switch
int const VERB_EXIT_USAGE = 1;     // an unknown verb, or a verb with anything else
int const VERB_EXIT_NO_COPY = 2;   // no running copy answered within 2 seconds
int const VERB_EXIT_CANNOT = 3;    // the running copy cannot do it now
// The registered message that carries a verb to the running copy's window.
wchar_t const VERB_MESSAGE_NAME[] = L"VarnelKVM.Verb";
UINT VerbMessage();
// False when the command line holds no verb; otherwise true, with the exit code.
bool RunCommandLineVerb(const wchar_t *commandLine, int *exitCode);
LRESULT OnVerb(WPARAM verb);

// Instance control pipe (InstancePipe.cpp)
void StartInstancePipe();
void OnPipeTimer();

// Language and resources (Language.cpp)
// The string table for the given system, user and UI languages (ui 0: unknown).
LANGID ChooseUiLanguage(LANGID system, LANGID user, LANGID ui, bool *englishFallback);
void SelectUiLanguage();
// LoadUiString leaves the target untouched when the string is missing; a
// string longer than the target is cut to fit.
bool LoadUiString(UINT stringId, wchar_t *target, size_t targetChars);
template <size_t N> bool LoadUiString(UINT stringId, wchar_t (&target)[N])
{
    return LoadUiString(stringId, target, N);
}
// One string by value, empty when missing: SetWindowTextW(window, UiString(id).text).
struct UiText {
    wchar_t text[UI_STRING_CHARS];
};
UiText UiString(UINT stringId);

// Diagnostics: one line on the system debug output.
void DebugLine(const wchar_t *text);
void DebugLineF(const wchar_t *format, ...);
