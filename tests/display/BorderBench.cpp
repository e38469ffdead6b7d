// What the border costs and how quickly it comes. Not a test: it prints
// figures (scripts/bench-border.sh).
//
// 1. Start: the time from posting WM_TURN_BORDER_ON to the applet's main
//    window until its border thread writes "Drawing border\n", over several
//    rounds (each ended with WM_TURN_BORDER_OFF).
// 2. Cost: the applet's processor time over 10 s while the border loop runs,
//    as a share of one core, beside 10 s of the same applet with the border off.
//
//   BorderBench.exe [rounds]
#include "AppletProcess.h"
#include "BenchTiming.h"
#include "DebugListener.h"
#include "DisplayTestSupport.h"
#include "Registry.h"
#include "SimulatedSwitch.h"
#include "UnixCommand.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

int const DEFAULT_ROUNDS = 20;
DWORD const MEASURE_MS = 10000;
DWORD const LINE_TIMEOUT_MS = 5000;

// Wine reports no processor times for another process, so they are read
// where Linux keeps them: /proc of the applet's Unix process, which shows the
// program's Windows path as its command line. Clock ticks of user plus
// system time; -1 when not exactly one such process is found.
long long UnixProcessorTicks(const std::wstring &programPath)
{
    std::string path(programPath.begin(), programPath.end());
    char output[MAX_PATH];
    snprintf(output, sizeof(output), "/tmp/border-bench-%lu.txt", GetCurrentProcessId());
    std::string command = "for d in /proc/[0-9]*; do case $(tr '\\000' ' ' < $d/cmdline 2>/dev/null) in '" + path +
                          "'*) cut -d' ' -f14,15 $d/stat;; esac; done > " + output + " 2>/dev/null";
    if (RunUnixCommand(command) != 0)
        return -1;
    std::string windowsOutput = std::string("Z:") + output;
    std::replace(windowsOutput.begin(), windowsOutput.end(), '/', '\\');
    FILE *file = fopen(windowsOutput.c_str(), "r");
    if (file == nullptr)
        return -1;
    long long user = 0, system = 0, extraUser = 0, extraSystem = 0;
    int found = fscanf(file, "%lld %lld", &user, &system);
    bool another = fscanf(file, "%lld %lld", &extraUser, &extraSystem) == 2;
    fclose(file);
    DeleteFileA(windowsOutput.c_str());
    return found == 2 && !another ? user + system : -1;
}

// The share of one core the process used over the next `ms`; negative when unknown.
double CoreShare(const std::wstring &programPath, DWORD ms)
{
    long long before = UnixProcessorTicks(programPath);
    LONGLONG start = Now();
    Sleep(ms);
    long long after = UnixProcessorTicks(programPath);
    double elapsedMs = Milliseconds(Now() - start);
    if (before < 0 || after < 0)
        return -1;
    double ticksPerSecond = 100.0;  // USER_HZ on Linux
    return 100.0 * ((double)(after - before) / ticksPerSecond) / (elapsedMs / 1000.0);
}

// Waits until the process has written `line` `count` times in all (the wait
// looks again at each line heard); the moment it saw so, or 0 on time-out.
LONGLONG WaitForLineCount(DebugListener &debug, DWORD processId, const std::string &line, int count)
{
    return debug.waitForCount(processId, line, count, LINE_TIMEOUT_MS) ? Now() : 0;
}

}  // namespace

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : DEFAULT_ROUNDS;
    CleanRegistry registry;
    StoreChoice(L"NumDisplays", std::to_wstring(GetSystemMetrics(SM_CMONITORS)));
    DebugListener debug;
    SimulatedSwitch simulator;
    simulator.add(SwitchInterface(0x5A04, 0x0400, 8));
    AppletProcess applet;
    if (!applet.start() || applet.waitForWindow() == nullptr || !applet.waitForStartUp(debug) ||
        !simulator.hasClient(applet.pid()) || !debug.catchUp()) {
        fprintf(stderr, "the applet did not start against the simulated switch\n");
        return 1;
    }
    DWORD pid = applet.pid();

    std::vector<double> starts;
    for (int round = 1; round <= rounds; ++round) {
        LONGLONG posted = Now();
        applet.post(TURN_BORDER_ON);
        LONGLONG drawing = WaitForLineCount(debug, pid, DRAWING_LINE, round);
        if (drawing == 0) {
            fprintf(stderr, "no \"Drawing border\" in round %d\n", round);
            return 1;
        }
        starts.push_back(Milliseconds(drawing - posted));
        applet.post(TURN_BORDER_OFF);
        if (WaitForLineCount(debug, pid, GOING_OFF_LINE, round) == 0) {
            fprintf(stderr, "the border did not go off in round %d\n", round);
            return 1;
        }
        Sleep(100);
    }
    printf("WM_TURN_BORDER_ON to \"Drawing border\": median %.1f ms, min %.1f ms, max %.1f ms over %d rounds "
           "(aim: under 100 ms)\n",
           Percentile(starts, 50), Percentile(starts, 0), Percentile(starts, 100), rounds);

    double idle = CoreShare(applet.programPath(), MEASURE_MS);
    applet.post(TURN_BORDER_ON);
    WaitForLineCount(debug, pid, DRAWING_LINE, rounds + 1);
    Sleep(500);
    double drawing = CoreShare(applet.programPath(), MEASURE_MS);
    std::vector<std::string> lines = debug.linesFrom(pid);
    bool stillDrawing = CountOf(lines, DRAWING_LINE) - CountOf(lines, GOING_OFF_LINE) == 1;
    applet.post(TURN_BORDER_OFF);
    if (drawing < 0 || idle < 0) {
        fprintf(stderr, "the applet's Unix process was not found by its path %ls\n", applet.programPath().c_str());
        return 1;
    }
    printf("Applet's processor time over %lu s: %.2f %% of one core with the border showing "
           "(aim: under 3 %%), %.2f %% with it off%s\n",
           MEASURE_MS / 1000, drawing, idle, stillDrawing ? "" : " (the loop had ended early!)");
    return 0;
}
