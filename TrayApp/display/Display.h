// Display: the monitor on the switch, its resolution, the border.
#pragma once

#include "../shell/AppState.h"

// Primary monitor (PrimaryMonitor.cpp)
BOOL MonitorChoiceNeeded();
void PromptForPrimaryMonitor();
BOOL IsChosenMonitor(HMONITOR monitor);
DWORD GetPrimaryResolution();

// Border (Border.cpp)
void SetBorderEvent(HANDLE event);
void StartBorder();
void OptimizeDisplay();
void OnBorderTimer();
void OnTurnBorderOn();
void OnTurnBorderOff();
void OnDisplayChange();
