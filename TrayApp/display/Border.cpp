// The border's state on the main thread: when it goes on and off, and what
// the switch is told about it.
//   StartBorder      - turns the border on: its 59-second timer and a border thread
//   OptimizeDisplay  - the border, with the resolution and border reports
//   OnDisplayChange  - new display settings: border, resolution and border reports
//   OnTurnBorderOn   - the switch asks for the border
//   OnTurnBorderOff  - the switch asks to take it away
//   OnBorderTimer    - the border's 59 seconds are up
#include "Display.h"
#include "../device/Device.h"
#include "../shell/Shell.h"

// A stop signal that no loop consumed (the timer firing after the switch had
// already turned the border off) must not end the next border at its first pass.
static void ClearStopSignal()
{
    ResetEvent(appState.borderEvent);
}

int StartBorder()
{
    // A running border keeps its timer: it never lasts more than 59 seconds.
    if (appState.borderOn != 0)
        return 0;
    RestartThreadTimer(&appState.borderTimerId, BORDER_TIMER, BORDER_TIMER_PERIOD);
    ClearStopSignal();
    appState.borderOn = 1;
    StartBorderThread();
    return 1;
}

void OptimizeDisplay()
{
    if (appState.borderOn != 0)
        return;
    // Tells the switch that this computer asked for the optimisation.
    appState.optimizeRequested = 1;
    ClearStopSignal();
    StartBorder();
    SendResolutionReport();
    SendBorderReport();
    appState.optimizeRequested = 0;
}

void OnDisplayChange()
{
    if (!HasDisplayFirmware())
        return;
    DebugLine(L"Display just changed\n");
    appState.optimizeRequested = 0;
    ClearStopSignal();
    StartBorder();
    SendResolutionReport();
    SendBorderReport();
}

void OnTurnBorderOn()
{
    if (!HasDisplayFirmware())
        return;
    DebugLine(L"Got WM_TURN_BORDER_ON Event \n");
    appState.optimizeRequested = 0;
    ClearStopSignal();
    StartBorder();
    SendBorderReport();
}

void OnTurnBorderOff()
{
    if (!HasDisplayFirmware())
        return;
    // The timer is left running; it ends with one more "border off" report.
    StopBorderLoops();
    appState.borderOn = 0;
    SendBorderReport();
}

// TimerProc has already stopped the one-shot timer and forgotten its id.
void OnBorderTimer()
{
    DebugLine(L"Killing the border timer\n");
    StopBorderLoops();
    CloseMonitorPrompts(false);
    appState.borderOn = 0;
    SendBorderReport();
}
