// Figures for scripts/bench.sh; not a test.
//   AppletBench.exe startup [runs] [stand-in-mixer]  start-up to ready, the
//       applet against MinimalTray.exe, alternating, with a firmware-4 switch
//       attached: from CreateProcess to its icon at the shell and, for the
//       applet, its keyboard hook in place. With stand-in-mixer the applet
//       sees one simulated mixer instead of Wine's sound driver, whose probe
//       is Wine's cost, not the applet's.
//   AppletBench.exe command [count]  the Switch All command posted to the
//       running applet -> the switch report at the simulated switch.
//   AppletBench.exe send [count]     the Switch All command sent to an applet
//       already running, each handled before the next (for its memory).
//   AppletBench.exe verb [count]     a start of "VarnelKVM.exe switch" from
//       CreateProcess to its exit, beside a start of "VarnelKVM.exe /x".
#include "AppletProcess.h"
#include "BenchTiming.h"
#include "Registry.h"
#include "ShellTray.h"
#include "SimulatedMixers.h"
#include "SimulatedSwitch.h"
#include "Wait.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

WPARAM const MENU_SWITCH_ALL = 32784;
WPARAM const MENU_EXIT = 105;
BYTE const SWITCH_REPORT_ID = 1;
DWORD const READY_TIMEOUT_MS = 15000;
DWORD const EXIT_TIMEOUT_MS = 10000;
DWORD const REPORT_TIMEOUT_MS = 3000;
DWORD const BETWEEN_COMMANDS_MS = 50;

// Quillhook.dll keeps the installed hook and its target window in a section
// that every process mapping the library shares; loaded here, it shows when
// the applet's hook is in place. In order: shell hook, keyboard hook, window.
struct SharedHookData {
    HHOOK shellHook;
    HHOOK keyboardHook;
    HWND targetWindow;
};

volatile SharedHookData *MapSharedHookData()
{
    HMODULE library = LoadLibraryW((BinaryFolder() + L"\\Quillhook.dll").c_str());
    if (library == nullptr)
        return nullptr;
    BYTE *base = (BYTE *)library;
    IMAGE_NT_HEADERS *headers = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(headers);
    for (WORD index = 0; index < headers->FileHeader.NumberOfSections; ++index, ++section)
        if (memcmp(section->Name, ".SHARED_", 8) == 0)
            return (volatile SharedHookData *)(base + section->VirtualAddress);
    return nullptr;
}

volatile SharedHookData *hookData = nullptr;

bool HookInPlace(HWND window)
{
    return hookData->keyboardHook != nullptr && hookData->targetWindow == window;
}

HWND MinimalTrayWindow(DWORD processId)
{
    HWND window = FindWindowW(L"MinimalTray", nullptr);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return owner == processId ? window : nullptr;
}

// Milliseconds from CreateProcess to ready, or a negative number when it never was.
double TimeStartUp(ShellTray &shell, bool applet)
{
    AppletProcess process(L"", applet ? L"VarnelKVM.exe" : L"MinimalTray.exe");
    LONGLONG const start = Now();
    if (!process.start())
        return -1;
    HWND window = nullptr;
    bool iconShown = PumpUntil(
        "the icon in the tray",
        [&] {
            if (window == nullptr)
                window = applet ? FindAppletWindow(process.pid()) : MinimalTrayWindow(process.pid());
            return window != nullptr && !shell.notificationsFor(window).empty();
        },
        READY_TIMEOUT_MS);
    bool hooked = false;
    while (iconShown && applet && !(hooked = HookInPlace(window)) && Milliseconds(Now() - start) < READY_TIMEOUT_MS)
        Sleep(1);
    double const elapsed = Milliseconds(Now() - start);
    bool const ready = iconShown && (!applet || hooked);

    PostMessageW(window, applet ? WM_COMMAND : WM_CLOSE, applet ? MENU_EXIT : 0, 0);
    (void)PumpUntil("the program to end", [&] { return !process.running(); }, EXIT_TIMEOUT_MS);
    shell.clear();
    if (!ready)
        printf("%s: %s\n", applet ? "VarnelKVM.exe" : "MinimalTray.exe",
               window == nullptr ? "no window" : !iconShown ? "no icon at the shell" : "no keyboard hook");
    return ready ? elapsed : -1;
}

// Wine's first mixer call in a process probes for a sound driver; the applet
// pays it before its icon goes up. Timed here, in this process's own first call.
double FirstMixerCall()
{
    LONGLONG const start = Now();
    mixerGetNumDevs();
    return Milliseconds(Now() - start);
}

int StartUp(int runs, bool standInMixer)
{
    double const firstMixerCall = FirstMixerCall();
    CleanRegistry registry;
    ShellTray shell;
    SimulatedSwitch simulated;
    std::unique_ptr<SimulatedMixers> mixers;
    if (standInMixer) {
        mixers.reset(new SimulatedMixers());
        mixers->add(SimMixer());
    }
    if (!shell.isTheShell() || !simulated.running()) {
        printf("the stand-in shell or the simulated switch did not start\n");
        return 1;
    }
    simulated.add(SwitchInterface(0x5A04, 0x0400, 8));
    hookData = MapSharedHookData();
    if (hookData == nullptr) {
        printf("Quillhook.dll or its shared section not found beside the bench\n");
        return 1;
    }
    std::vector<double> appletTimes, minimalTimes;
    TimeStartUp(shell, true);    // warms Wine's caches for both, unmeasured
    TimeStartUp(shell, false);
    for (int run = 0; run < runs; ++run) {
        // Alternate which goes first, so neither always meets a warmer machine.
        for (int turn = 0; turn < 2; ++turn) {
            bool const applet = (run + turn) % 2 == 0;
            double const time = TimeStartUp(shell, applet);
            if (time < 0) {
                printf("%s did not become ready\n", applet ? "VarnelKVM.exe" : "MinimalTray.exe");
                return 1;
            }
            (applet ? appletTimes : minimalTimes).push_back(time);
        }
    }
    double const applet = Percentile(appletTimes, 50);
    double const minimal = Percentile(minimalTimes, 50);
    printf("start-up to ready, %d starts each, alternating, %s:\n", runs,
           standInMixer ? "the applet with a stand-in mixer" : "the applet with Wine's sound driver");
    printf("  VarnelKVM.exe (icon shown, keyboard hook in place): median %.1f ms, fastest %.1f ms\n", applet,
           Percentile(appletTimes, 0));
    printf("  MinimalTray.exe (icon shown):                    median %.1f ms, fastest %.1f ms\n", minimal,
           Percentile(minimalTimes, 0));
    printf("  Wine's first mixer call in a process (this bench's own, with Wine's sound driver): %.1f ms\n",
           firstMixerCall);
    printf("  ratio %.2f\n", applet / minimal);
    return 0;
}

struct Arrivals {
    CRITICAL_SECTION lock;
    HANDLE arrived;
    LONGLONG last = 0;
};

int CommandToReport(int count)
{
    CleanRegistry registry;
    SimulatedSwitch simulated;
    if (!simulated.running()) {
        printf("the simulated switch did not start\n");
        return 1;
    }
    simulated.add(SwitchInterface(0x5A04, 0x0400, 8));
    Arrivals arrivals;
    InitializeCriticalSection(&arrivals.lock);
    arrivals.arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    simulated.setListener([&](const SimEvent &event) {
        if (event.kind != SimEvent::Write || event.report.bytes.empty() ||
            event.report.bytes[0] != SWITCH_REPORT_ID)
            return;
        LONGLONG const now = Now();
        EnterCriticalSection(&arrivals.lock);
        arrivals.last = now;
        LeaveCriticalSection(&arrivals.lock);
        SetEvent(arrivals.arrived);
    });
    AppletProcess applet;
    if (!applet.start() || applet.waitForWindow() == nullptr || !simulated.waitForClient(applet.pid())) {
        printf("the applet did not start against the simulated switch\n");
        return 1;
    }
    Sleep(500);
    std::vector<double> latencies;
    int missed = 0;
    for (int command = 0; command < count; ++command) {
        ResetEvent(arrivals.arrived);
        LONGLONG const posted = Now();
        applet.post(WM_COMMAND, MENU_SWITCH_ALL);
        if (WaitForSingleObject(arrivals.arrived, REPORT_TIMEOUT_MS) != WAIT_OBJECT_0) {
            ++missed;
            continue;
        }
        EnterCriticalSection(&arrivals.lock);
        latencies.push_back(Milliseconds(arrivals.last - posted));
        LeaveCriticalSection(&arrivals.lock);
        Sleep(BETWEEN_COMMANDS_MS);
    }
    simulated.setListener(nullptr);
    applet.post(WM_COMMAND, MENU_EXIT);
    applet.waitForExit(EXIT_TIMEOUT_MS);
    printf("Switch All command posted -> switch report at the switch, %zu commands (%d without a report):\n",
           latencies.size(), missed);
    if (latencies.empty())
        return 1;
    printf("  p50 %.2f ms   p99 %.2f ms   max %.2f ms\n", Percentile(latencies, 50), Percentile(latencies, 99),
           Percentile(latencies, 100));
    return missed == 0 ? 0 : 1;
}

// The applet's window by its class; the bench's prefix speaks English.
int SendToRunningApplet(int count)
{
    HWND window = FindWindowW(L"Morvax", nullptr);
    if (window == nullptr) {
        printf("no running applet\n");
        return 1;
    }
    int unanswered = 0;
    for (int command = 0; command < count; ++command) {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(window, WM_COMMAND, MENU_SWITCH_ALL, 0, SMTO_NORMAL, REPORT_TIMEOUT_MS, &result))
            ++unanswered;
    }
    printf("Switch All sent %d times, %d unanswered\n", count, unanswered);
    return unanswered == 0 ? 0 : 1;
}

// Milliseconds from CreateProcess to the end of a second start with these
// arguments, or a negative number when it failed or did not end.
double TimeSecondStart(const wchar_t *arguments, DWORD expectedCode)
{
    AppletProcess second(arguments);
    LONGLONG const start = Now();
    DWORD code = 0;
    if (!second.start() || !second.waitForExit(EXIT_TIMEOUT_MS, &code) || code != expectedCode)
        return -1;
    return Milliseconds(Now() - start);
}

int VerbAgainstSlashX(int count)
{
    CleanRegistry registry;
    SimulatedSwitch simulated;
    simulated.add(SwitchInterface(0x5A04, 0x0400, 8));
    std::vector<double> verbs, slashX;
    for (int run = 0; run < count; ++run) {
        AppletProcess applet;
        if (!applet.start() || applet.waitForWindow() == nullptr || !simulated.waitForClient(applet.pid())) {
            printf("the applet did not start against the simulated switch\n");
            return 1;
        }
        double verb = TimeSecondStart(L"switch", 0);
        double ending = TimeSecondStart(L"/x", 0);
        if (verb < 0 || ending < 0 || !applet.waitForExit(EXIT_TIMEOUT_MS)) {
            printf("a second start failed (verb %.1f ms, /x %.1f ms)\n", verb, ending);
            return 1;
        }
        verbs.push_back(verb);
        slashX.push_back(ending);
    }
    printf("second start to its exit, %d of each against a running applet (firmware-4 switch):\n", count);
    printf("  VarnelKVM.exe switch (answered, report written): median %.1f ms, fastest %.1f ms\n",
           Percentile(verbs, 50), Percentile(verbs, 0));
    printf("  VarnelKVM.exe /x (Exit posted):                 median %.1f ms, fastest %.1f ms\n",
           Percentile(slashX, 50), Percentile(slashX, 0));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc >= 2 && wcscmp(argv[1], L"startup") == 0)
        return StartUp(argc > 2 ? std::max(1, _wtoi(argv[2])) : 20,
                       argc > 3 && wcscmp(argv[3], L"stand-in-mixer") == 0);
    if (argc >= 2 && wcscmp(argv[1], L"command") == 0)
        return CommandToReport(argc > 2 ? std::max(1, _wtoi(argv[2])) : 100);
    if (argc >= 2 && wcscmp(argv[1], L"send") == 0)
        return SendToRunningApplet(argc > 2 ? std::max(1, _wtoi(argv[2])) : 1000);
    if (argc >= 2 && wcscmp(argv[1], L"verb") == 0)
        return VerbAgainstSlashX(argc > 2 ? std::max(1, _wtoi(argv[2])) : 20);
    fprintf(stderr, "usage: AppletBench startup [runs] [stand-in-mixer] | command [count] | send [count] | "
                    "verb [count]\n");
    return 2;
}
