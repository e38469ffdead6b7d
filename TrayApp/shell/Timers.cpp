// TimerProc: the one callback of all the applet's thread timers.
//   TimerProc          - runs the branch of every stored id that matches
//   StartThreadTimer   - a thread timer of the main thread
//   RestartThreadTimer - at most one running timer per role
//   StopThreadTimer    - stop and forget
#include "Shell.h"
#include "../device/Device.h"
#include "../display/Display.h"
#include "../hotkeys/Hotkeys.h"

UINT_PTR StartThreadTimer(UINT_PTR nominalId, UINT period)
{
    return SetTimer(nullptr, nominalId, period, TimerProc);
}

void RestartThreadTimer(UINT_PTR *storedId, UINT_PTR nominalId, UINT period)
{
    StopThreadTimer(storedId);
    *storedId = StartThreadTimer(nominalId, period);
}

void StopThreadTimer(UINT_PTR *storedId)
{
    if (*storedId == TIMER_NOT_RUNNING)
        return;
    KillTimer(nullptr, *storedId);
    *storedId = TIMER_NOT_RUNNING;
}

// One-shot timers are stopped before their branch runs. The stored ids are read afresh at each comparison: a branch that stops or
// restarts a timer affects the comparisons after it.
void CALLBACK TimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD time)
{
    if (timerId == appState.sequenceTimerId)
        OnSequenceTimer();
    if (timerId == appState.optimizeTimerId)
        OnOptimizeTimer();
    if (timerId == appState.altDelayTimerId) {
        StopThreadTimer(&appState.altDelayTimerId);
        OnAltDelayTimer();
    }
    if (timerId == appState.watcherStartTimerId) {
        StopThreadTimer(&appState.watcherStartTimerId);
        OnWatcherStartTimer();
    }
    if (timerId == appState.borderTimerId) {
        StopThreadTimer(&appState.borderTimerId);
        OnBorderTimer();
    }
    if (timerId == appState.pipeTimerId)
        OnPipeTimer();
}
