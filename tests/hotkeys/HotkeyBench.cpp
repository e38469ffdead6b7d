// How quick the switching hotkey feels, and what the keyboard hook costs every
// other program. Not a test: it prints figures (scripts/bench-hotkeys.sh).
//
// 1. Hook cost: Quillhook's KbHook, called with a key press (which posts
//    nothing), against a bare hook that only calls CallNextHookEx, in
//    alternating blocks of calls so both see the same machine.
// 2. Switch latency: the applet runs against the simulated switch and Notepad
//    has the focus; Control, Control is injected with SendInput, and the time
//    from the release that completes the sequence to the switch report
//    arriving at the switch is taken, over many sequences.
//
// 3. For where the time goes: the same completing release handed to the
//    applet's OnHotkeyEvent in this process, through to the switch.
//
//   HotkeyBench.exe [sequences] [hook blocks]
#include "BenchTiming.h"
#include "HotkeyRig.h"
#include "Registry.h"
#include "TypingRig.h"

#include "hotkeys/Hotkeys.h"
#include "shell/Shell.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

int const DEFAULT_SEQUENCES = 100;
int const MINIMUM_SEQUENCES = 50;
int const DEFAULT_HOOK_BLOCKS = 1000;
int const CALLS_PER_BLOCK = 500;
// A key press of 'A' as the hook sees it: repeat count 1, scan code 0x1E, no ALT, not a release.
LPARAM const KEY_DOWN_FLAGS = 0x001E0001;
DWORD const REPORT_TIMEOUT_MS = 3000;
// Between the first and the completing Control, as a quick typist leaves.
DWORD const BETWEEN_KEYS_MS = 60;
// After a switch, before the next sequence starts.
DWORD const BETWEEN_SEQUENCES_MS = 120;
BYTE const SWITCH_REPORT_ID = 1;

typedef HHOOK(__cdecl *StartHookProc)(HWND window);
typedef BOOL(__cdecl *StopHookProc)(void);
typedef LRESULT(CALLBACK *HookProcedure)(int code, WPARAM wParam, LPARAM lParam);

HHOOK bareHookHandle = nullptr;

// What every keyboard hook must do at least.
LRESULT CALLBACK BareHook(int code, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(bareHookHandle, code, wParam, lParam);
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeTargetWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"HotkeyBenchTarget";
    RegisterClassW(&windowClass);
    return CreateWindowW(L"HotkeyBenchTarget", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                         nullptr);
}

// Nanoseconds per call over one block.
double TimeBlock(HookProcedure volatile procedure)
{
    LONGLONG start = Now();
    for (int call = 0; call < CALLS_PER_BLOCK; ++call)
        procedure(HC_ACTION, 'A', KEY_DOWN_FLAGS);
    return Milliseconds(Now() - start) * 1e6 / CALLS_PER_BLOCK;
}

bool MeasureHookCost(int blocks)
{
    std::wstring path = BinaryFolder() + L"\\Quillhook.dll";
    HMODULE library = LoadLibraryW(path.c_str());
    if (library == nullptr) {
        printf("Quillhook.dll not found beside the bench\n");
        return false;
    }
    StartHookProc startHook = (StartHookProc)GetProcAddress(library, "StartHook");
    StopHookProc stopHook = (StopHookProc)GetProcAddress(library, "StopHook");
    HookProcedure kbHook = (HookProcedure)GetProcAddress(library, "_KbHook@12");
    if (startHook == nullptr || stopHook == nullptr || kbHook == nullptr) {
        printf("Quillhook.dll lacks StartHook, StopHook or _KbHook@12\n");
        return false;
    }
    // Installed for real, so KbHook examines the event as it does in every program.
    HWND target = MakeTargetWindow();
    bareHookHandle = startHook(target);
    if (bareHookHandle == nullptr) {
        printf("StartHook failed\n");
        return false;
    }

    std::vector<double> bare, quill, ratios;
    HookProcedure volatile bareProcedure = BareHook;
    HookProcedure volatile quillProcedure = kbHook;
    TimeBlock(bareProcedure);
    TimeBlock(quillProcedure);
    for (int block = 0; block < blocks; ++block) {
        // Alternate which goes first, so neither always runs on a warmer cache.
        double first, second;
        if (block % 2 == 0) {
            first = TimeBlock(bareProcedure);
            second = TimeBlock(quillProcedure);
            bare.push_back(first);
            quill.push_back(second);
            ratios.push_back(second / first);
        } else {
            first = TimeBlock(quillProcedure);
            second = TimeBlock(bareProcedure);
            quill.push_back(first);
            bare.push_back(second);
            ratios.push_back(first / second);
        }
    }
    stopHook();
    DestroyWindow(target);

    // CallNextHookEx asks the server for the next hook, which dominates both and
    // varies with the machine's load: the paired blocks cancel most of that.
    double const bareMedian = Percentile(bare, 50);
    double const quillMedian = Percentile(quill, 50);
    double const bareFastest = Percentile(bare, 0);
    double const quillFastest = Percentile(quill, 0);
    printf("hook cost per key press (no post), %d pairs of blocks of %d calls, side by side:\n", blocks,
           CALLS_PER_BLOCK);
    printf("  bare hook (CallNextHookEx only): median %.0f ns, fastest block %.0f ns per call\n", bareMedian,
           bareFastest);
    printf("  Quillhook KbHook:                median %.0f ns, fastest block %.0f ns per call\n", quillMedian,
           quillFastest);
    printf("  ratio KbHook / bare: %.3f (median of the pairs' ratios; p25 %.3f, p75 %.3f; medians %.3f, fastest "
           "blocks %.3f); aim <= 1.050\n",
           Percentile(ratios, 50), Percentile(ratios, 25), Percentile(ratios, 75), quillMedian / bareMedian,
           quillFastest / bareFastest);
    return true;
}

struct Arrivals {
    CRITICAL_SECTION lock;
    HANDLE arrived;
    std::vector<LONGLONG> times;
};

bool MeasureSwitchLatency(int sequences, bool withListener)
{
    CleanRegistry registry;
    std::unique_ptr<DebugListener> debug(new DebugListener());
    SimulatedSwitch simulated;
    if (!simulated.running()) {
        printf("the simulated switch did not start\n");
        return false;
    }
    simulated.add(SwitchInterface(0x5A01, 0x0300));

    Arrivals arrivals;
    InitializeCriticalSection(&arrivals.lock);
    arrivals.arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    bool counting = false;
    simulated.setListener([&](const SimEvent &event) {
        if (event.kind != SimEvent::Write || event.report.bytes.empty() || event.report.bytes[0] != SWITCH_REPORT_ID)
            return;
        LONGLONG now = Now();
        EnterCriticalSection(&arrivals.lock);
        if (counting)
            arrivals.times.push_back(now);
        LeaveCriticalSection(&arrivals.lock);
        SetEvent(arrivals.arrived);
    });

    RunningApplet applet(*debug, simulated);
    if (!applet.start()) {
        printf("the applet did not start with its hook\n");
        return false;
    }
    // As on a user's computer, where no debug viewer listens: with a listener
    // each diagnostic line waits for it to take the previous one.
    if (!withListener)
        debug.reset();
    Notepad notepad;
    if (!notepad.focus([] {
            PressKey('Z');
            ReleaseKey('Z');
        })) {
        printf("keys injected with SendInput never reached Notepad\n");
        return false;
    }
    Sleep(BETWEEN_SEQUENCES_MS);
    EnterCriticalSection(&arrivals.lock);
    counting = true;
    LeaveCriticalSection(&arrivals.lock);
    ResetEvent(arrivals.arrived);

    std::vector<double> latencies;
    int missed = 0;
    for (int sequence = 0; sequence < sequences; ++sequence) {
        PressKey(VK_CONTROL);
        ReleaseKey(VK_CONTROL);
        PressKey(VK_CONTROL);
        Sleep(BETWEEN_KEYS_MS);
        EnterCriticalSection(&arrivals.lock);
        size_t const before = arrivals.times.size();
        LeaveCriticalSection(&arrivals.lock);
        ResetEvent(arrivals.arrived);
        LONGLONG const released = Now();
        ReleaseKey(VK_CONTROL);
        if (WaitForSingleObject(arrivals.arrived, REPORT_TIMEOUT_MS) != WAIT_OBJECT_0) {
            ++missed;
            continue;
        }
        EnterCriticalSection(&arrivals.lock);
        if (arrivals.times.size() > before)
            latencies.push_back(Milliseconds(arrivals.times[before] - released));
        LeaveCriticalSection(&arrivals.lock);
        Sleep(BETWEEN_SEQUENCES_MS);
    }
    simulated.setListener(nullptr);

    EnterCriticalSection(&arrivals.lock);
    size_t const switches = arrivals.times.size();
    LeaveCriticalSection(&arrivals.lock);
    printf("switch latency, Control up that completes Control-Control -> switch report at the switch (%s):\n",
           withListener ? "a debug-output listener running" : "no debug-output listener");
    if (latencies.empty()) {
        printf("  no report arrived (%d sequences)\n", sequences);
        return false;
    }
    double mean = 0;
    for (double value : latencies)
        mean += value;
    mean /= latencies.size();
    printf("  %zu sequences measured (%d without a report, %zu reports in all)\n", latencies.size(), missed,
           switches);
    printf("  p50 %.2f ms   p99 %.2f ms   max %.2f ms   mean %.2f ms; aim p99 < 20 ms\n", Percentile(latencies, 50),
           Percentile(latencies, 99), Percentile(latencies, 100), mean);
    return missed == 0 && switches == (size_t)sequences;
}


// The recognizer and the switch send alone, without the keyboard, the hook and
// the applet's message queue in front of them.
bool MeasureInProcess(int sequences)
{
    SimulatedSwitch simulated;
    if (!simulated.running())
        return false;
    simulated.add(SwitchInterface(0x5A01, 0x0300));
    Arrivals arrivals;
    InitializeCriticalSection(&arrivals.lock);
    arrivals.arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    simulated.setListener([&](const SimEvent &event) {
        if (event.kind != SimEvent::Write || event.report.bytes.empty() || event.report.bytes[0] != SWITCH_REPORT_ID)
            return;
        LONGLONG now = Now();
        EnterCriticalSection(&arrivals.lock);
        arrivals.times.push_back(now);
        LeaveCriticalSection(&arrivals.lock);
        SetEvent(arrivals.arrived);
    });

    appState = AppState();
    GetVersionExW((OSVERSIONINFOW *)&appState.osVersion);
    std::vector<double> handling, arrival;
    for (int sequence = 0; sequence < sequences; ++sequence) {
        OnHotkeyEvent(nullptr, 0, VK_CONTROL, 0);
        EnterCriticalSection(&arrivals.lock);
        size_t const before = arrivals.times.size();
        LeaveCriticalSection(&arrivals.lock);
        ResetEvent(arrivals.arrived);
        LONGLONG const start = Now();
        OnHotkeyEvent(nullptr, 0, VK_CONTROL, 0);
        LONGLONG const handled = Now();
        if (WaitForSingleObject(arrivals.arrived, REPORT_TIMEOUT_MS) != WAIT_OBJECT_0)
            continue;
        EnterCriticalSection(&arrivals.lock);
        if (arrivals.times.size() > before) {
            handling.push_back(Milliseconds(handled - start));
            arrival.push_back(Milliseconds(arrivals.times[before] - start));
        }
        LeaveCriticalSection(&arrivals.lock);
    }
    simulated.setListener(nullptr);
    StopThreadTimer(&appState.sequenceTimerId);
    printf("in this process, OnHotkeyEvent with the completing Control (no debug-output listener):\n");
    if (arrival.empty()) {
        printf("  the switch was not reached (run with the stand-in DLLs)\n");
        return false;
    }
    printf("  OnHotkeyEvent returns after: p50 %.2f ms   p99 %.2f ms   max %.2f ms\n", Percentile(handling, 50),
           Percentile(handling, 99), Percentile(handling, 100));
    printf("  report at the switch after:  p50 %.2f ms   p99 %.2f ms   max %.2f ms\n", Percentile(arrival, 50),
           Percentile(arrival, 99), Percentile(arrival, 100));
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    int sequences = argc > 1 ? atoi(argv[1]) : DEFAULT_SEQUENCES;
    int blocks = argc > 2 ? atoi(argv[2]) : DEFAULT_HOOK_BLOCKS;
    if (sequences < MINIMUM_SEQUENCES)
        sequences = MINIMUM_SEQUENCES;
    if (blocks < 1)
        blocks = DEFAULT_HOOK_BLOCKS;
    setvbuf(stdout, nullptr, _IONBF, 0);

    // The hook first, on its own: the applet started next installs the same
    // library, whose shared data one StartHook here would take over.
    bool ok = MeasureHookCost(blocks);
    ok = MeasureSwitchLatency(sequences, false) && ok;
    ok = MeasureSwitchLatency(sequences, true) && ok;
    ok = MeasureInProcess(sequences) && ok;
    ReleaseModifiers();
    return ok ? 0 : 1;
}
