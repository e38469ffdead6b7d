// Display: the monitor on the switch, its resolution, the border.
#pragma once

#include "../shell/AppState.h"

// Primary monitor (PrimaryMonitor.cpp)
// Registry values of the choice, read into a buffer of this many bytes.
DWORD const MONITOR_VALUE_BYTES = 2048;
int IsChosenMonitor(const wchar_t *deviceName);
LONG SaveChosenMonitor(const wchar_t *deviceName);
int MonitorChoiceNeeded();
DWORD GetPrimaryResolution();

// The prompt that asks which monitor is on the switch (MonitorPrompt.cpp)
void PromptForPrimaryMonitor();
// The prompt of one monitor, texts in and centred in its work area, not shown yet.
HWND CreateMonitorPrompt(HMONITOR monitor);
BOOL CALLBACK ShowMonitorPrompt(HMONITOR monitor, HDC dc, RECT *area, LPARAM data);
INT_PTR CALLBACK MonitorPromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Closes every open prompt of this thread: synchronously (sent) or by posting.
void CloseMonitorPrompts(bool synchronously);
// Gives a prompt its keys (Enter presses OK); true when the message was its.
bool IsMonitorPromptMessage(MSG *message);

// Border state, on the main thread (Border.cpp)
int StartBorder();
// True when the switch was told the resolution and the border; false when
// the border already showed and nothing was done.
bool OptimizeDisplay();
void OnBorderTimer();
void OnTurnBorderOn();
void OnTurnBorderOff();
void OnDisplayChange();
// A switch that carries video has just been plugged in.
void OnVideoSwitchArrival();
// The border already shows: a new loop draws it round the monitor as it is now.
void RestartBorderLoop();
// The applet closes: the border ends as the switch would end it, frame wiped.
void EndBorderForExit();

// The border thread and its drawing (BorderDrawing.cpp)
void SetBorderEvent(HANDLE event);
// Starts a border thread; every loop started before it stops at its next pass.
void StartBorderThread();
// Every running loop stops at its next pass.
void StopBorderLoops();
// Waits, at most timeoutMs, until every border thread has wiped its frame and ended.
void WaitForBorderLoops(DWORD timeoutMs);
// The number of the one loop that may draw now.
LONG CurrentBorderLoop();
DWORD WINAPI BorderThreadProc(LPVOID generation);
BOOL CALLBACK BorderEnumProc(HMONITOR monitor, HDC dc, RECT *area, LPARAM generation);
// What the border thread does with the screen, on any device context: the
// loop on the chosen monitor (or the only one) until it is told to stop.
BOOL DrawBorderOn(HDC dc, LONG loop);
int const BORDER_WIDTH = 3;
