// The watcher thread that listens for the switch's border requests.
//   ArmWatcherStart     - the watcher starts when the switch has settled
//   OnWatcherStartTimer - the start timer's branch: one watcher at a time
//   StopWatcher         - the program ends: the watcher ends first
//   WatchThreadWorker   - keeps one read outstanding until the switch goes away
//   ReadCompletion      - turns each input report into a message to the main window
#include "Device.h"
#include "../shell/Shell.h"

#include <new>

static DWORD const INPUT_REPORT_BYTES = sizeof(appState.inputReport);

// The watcher's one read: touched only by the watcher thread and the read it issued.
static OVERLAPPED watcherOverlapped;
// Set by the completion routine, so the wait knows its read has been handled.
static volatile bool readCompleted;
// The watcher ends at once when told to; this is only a bound, wide enough
// for a machine so busy that the watcher's last steps wait seconds for a turn.
static DWORD const WATCHER_STOP_WAIT_MS = 5000;
// Room for the running watcher's set (there is never more than one
// watcher), made afresh at each start rather than when the program starts.
alignas(HidDeviceSet) static BYTE watcherSetSpace[sizeof(HidDeviceSet)];

static VOID CALLBACK ReadCompletion(DWORD errorCode, DWORD bytesTransferred, LPOVERLAPPED overlapped)
{
    readCompleted = true;
    if (errorCode != 0) {
        // The switch went away (or refused the read): the watcher ends.
        appState.watcherKeepRunning = false;
        return;
    }
    HandleInputReport(appState.inputReport, bytesTransferred);
}

// Waits alertably until the pending read has completed and its routine has
// run, or the program ends the watcher.
static void WaitForReadCompletion()
{
    while (!readCompleted && appState.watcherKeepRunning) {
        // Only StopWatcher signals the event; otherwise the read's completion ends the wait.
        if (WaitForSingleObjectEx(appState.watcherEvent, INFINITE, TRUE) == WAIT_FAILED)
            SleepEx(INFINITE, TRUE);
    }
}

static DWORD WINAPI WatchThreadWorker(LPVOID)
{
    HidDeviceSet *deviceSet = appState.watcherDeviceSet;

    deviceSet->setOverlapped();
    deviceSet->openAll();
    HANDLE device = deviceSet->handles[0];
    if (appState.watcherKeepRunning) {
        while (device != INVALID_HANDLE_VALUE) {
            ZeroMemory(&watcherOverlapped, sizeof(watcherOverlapped));
            // A short report must not show the bytes of the one before it.
            ZeroMemory(appState.inputReport, INPUT_REPORT_BYTES);
            readCompleted = false;
            if (!ReadFileEx(device, appState.inputReport, INPUT_REPORT_BYTES, &watcherOverlapped,
                            ReadCompletion)) {
                DebugLine(L"Read Failure\n");
                break;
            }
            WaitForReadCompletion();
            if (!appState.watcherKeepRunning)
                break;
        }
    }
    if (device != INVALID_HANDLE_VALUE)
        CancelIo(device);
    deviceSet->closeAll();

    // From here on a new arrival may start the next watcher.
    appState.watcherDeviceSet = nullptr;
    DebugLine(L"Stopping WatchThreadWorker\n");
    return 0;
}

void ArmWatcherStart()
{
    // A second arrival within the delay moves the start, it does not add one.
    RestartThreadTimer(&appState.watcherStartTimerId, WATCHER_START_TIMER, WATCHER_START_DELAY);
}

void OnWatcherStartTimer()
{
    if (appState.watcherDeviceSet != nullptr)
        return;  // one watcher at a time: the running one keeps its handles

    DebugLine(L"Got a StartTreadTimerID... starting WatchWorkerThread\n");
    // The watcher before has ended (its set is gone): only its handle is left.
    if (appState.watcherThread != nullptr)
        CloseHandle(appState.watcherThread);
    appState.watcherThread = nullptr;
    appState.watcherKeepRunning = true;
    appState.watcherDeviceSet = new (watcherSetSpace) HidDeviceSet();
    HANDLE thread = CreateThread(nullptr, 0, WatchThreadWorker, nullptr, CREATE_SUSPENDED, nullptr);
    if (thread == nullptr) {
        appState.watcherDeviceSet = nullptr;
        return;
    }
    // Idle: it blocks between reports and must never compete with the user's work.
    SetThreadPriority(thread, THREAD_PRIORITY_IDLE);
    appState.watcherThread = thread;
    ResumeThread(thread);
}

// ReadCompletion reads appState (the main window's class name) on the
// watcher's thread: the watcher must end before the program's state is torn
// down after the message loop.
void StopWatcher()
{
    HANDLE thread = appState.watcherThread;
    if (thread == nullptr)
        return;
    appState.watcherKeepRunning = false;
    // At idle priority a busy machine could keep the exit waiting.
    SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
    SetEvent(appState.watcherEvent);
    WaitForSingleObject(thread, WATCHER_STOP_WAIT_MS);
    CloseHandle(thread);
    appState.watcherThread = nullptr;
}
