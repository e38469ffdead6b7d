// The border's state on the main thread: when it goes on and off, and what
// the switch is told about it.
//   StartBorder       - turns the border on: its 59-second timer and a border thread
//   OptimizeDisplay   - the border, with the resolution and border reports
//   OnDisplayChange   - new display settings: border, resolution and border reports
//   OnVideoSwitchArrival - a switch with video plugged in: border and reports
//   OnTurnBorderOn    - the switch asks for the border
//   OnTurnBorderOff   - the switch asks to take it away
//   OnBorderTimer     - the border's 59 seconds are up
//   RestartBorderLoop - the border that shows, drawn round the monitor as it is now
//   EndBorderForExit  - the applet closes: the border goes as if the switch ended it
//   Closing           - the exit has begun: no border starts any more
#include "Display.h"
#include "../device/Device.h"
#include "../shell/Shell.h"

// A loop ends within one pass (about 30 ms) of its stop; this is only a bound.
static DWORD const EXIT_WAIT_MS = 2000;

// A stop signal that no loop consumed (the timer firing after the switch had
// already turned the border off) must not end the next border at its first pass.
static void ClearStopSignal()
{
    ResetEvent(appState.borderEvent);
}

// The exit wipes the border and tells the switch "off"; the exit's own calls
// to other programs (the tray icon's removal) let messages in meanwhile. A
// display change or a switch arriving then must not put up a frame that
// nothing would take away, with the switch told it shows.
static bool Closing()
{
    return appState.exitSequenceStarted;
}

int StartBorder()
{
    // A running border keeps its timer: it never lasts more than 59 seconds.
    if (appState.borderOn != 0 || Closing())
        return 0;
    RestartThreadTimer(&appState.borderTimerId, BORDER_TIMER, BORDER_TIMER_PERIOD);
    ClearStopSignal();
    appState.borderOn = 1;
    StartBorderThread();
    return 1;
}

bool OptimizeDisplay()
{
    if (appState.borderOn != 0 || Closing())
        return false;
    // Tells the switch that this computer asked for the optimisation.
    appState.optimizeRequested = 1;
    ClearStopSignal();
    StartBorder();
    bool resolutionSent = SendResolutionReport();
    bool borderSent = SendBorderReport();
    appState.optimizeRequested = 0;
    return resolutionSent && borderSent;
}

// The border round the monitor as it is now (a new one, or the one that
// shows drawn again), and the monitor's resolution to the switch. True when
// the border was showing already.
static bool ShowBorderAndReportResolution()
{
    bool wasShowing = appState.borderOn != 0;
    appState.optimizeRequested = 0;
    ClearStopSignal();
    if (StartBorder() == 0)
        RestartBorderLoop();
    SendResolutionReport();
    return wasShowing;
}

void OnDisplayChange()
{
    if (!HasDisplayFirmware() || Closing())
        return;
    DebugLine(L"Display just changed\n");
    ShowBorderAndReportResolution();
    SendBorderReport();
}

// The switch learns the state of a border that already showed from earlier reports.
void OnVideoSwitchArrival()
{
    if (!HasDisplayFirmware() || Closing())
        return;
    if (!ShowBorderAndReportResolution())
        SendBorderReport();
}

void OnTurnBorderOn()
{
    if (!HasDisplayFirmware() || Closing())
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

// The monitor may have moved or changed its size under a border that shows: a
// new loop draws the frame where the monitor is now, and the old one wipes its
// own and retires. The border keeps its timer: it still ends 59 seconds after
// it was turned on.
void RestartBorderLoop()
{
    if (!Closing())
        StartBorderThread();
}

// Closing while the border shows would leave the frame on the screen and the
// switch believing the border is on. The switch hears "off" before the exit's
// own reports; the loops are waited for, so none is cut off before its wipe.
void EndBorderForExit()
{
    if (appState.borderOn != 0) {
        StopBorderLoops();
        appState.borderOn = 0;
        SendBorderReport();
    }
    WaitForBorderLoops(EXIT_WAIT_MS);
}
