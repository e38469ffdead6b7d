// The soak: the applet as it ships, driven at a steady mixed rate for the
// minutes given by everything that reaches it in real life, its resources
// sampled every 10 s, every report at the switch accounted for; it ends with
// one verdict line. scripts/soak.sh runs it and plots the samples.
//
//   SoakDriver.exe MINUTES SAMPLES.CSV
//
// Exit code 0 for PASS, 1 for FAIL, 2 when the rig could not be set up.
#include "BenchTiming.h"
#include "ProcessCounts.h"
#include "SoakRig.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

DWORD const SAMPLE_PERIOD_MS = 10000;
// A border loop has made its brush and region this long after its start.
DWORD const LOOP_SETTLE_MS = 300;
// Between two actions: a steady rate, about one action a second and a half.
DWORD const ACTION_GAP_MS = 500;
double const WARM_UP_SECONDS = 120;
// Bounds of the verdict. Memory may move by whole pages of Wine's heaps: up
// to 256 KiB an hour (and 256 KiB in a run of less than an hour). Handles,
// threads, GDI objects and windows not at all.
double const MEMORY_GROWTH_KIB_PER_HOUR = 256;

enum Action {
    BORDER_ON, BORDER_OFF, BORDER_BURST, DISPLAY_CHANGE, MUTE_FLIP, HOTKEY_SWITCH, HOTKEY_VIDEO, HOTKEY_OPTIMIZE,
    MENU_SWITCH_ALL, MENU_SWITCH_AUDIO, MENU_SWITCH_VIDEO, MENU_OPTIMIZE, ICON_DOUBLE_CLICK, TRAY_MENU, OPTIONS,
    ABOUT, PIPE_CLIENT, SECOND_START, EXPLORER_RESTART, SWAP_SWITCH,
};

// One round, about a minute: the firmware-4 switch's half, then the
// firmware-3 switch's, whose border requests and display changes it ignores.
Action const ROUND[] = {
    BORDER_ON, MENU_SWITCH_ALL, MUTE_FLIP, DISPLAY_CHANGE, HOTKEY_SWITCH, BORDER_OFF, OPTIONS, BORDER_BURST,
    MENU_OPTIMIZE, PIPE_CLIENT, BORDER_ON, HOTKEY_OPTIMIZE, TRAY_MENU, ICON_DOUBLE_CLICK, SWAP_SWITCH,
    BORDER_ON, MENU_SWITCH_AUDIO, ABOUT, HOTKEY_VIDEO, MUTE_FLIP, SECOND_START, DISPLAY_CHANGE, EXPLORER_RESTART,
    MENU_SWITCH_VIDEO, BORDER_OFF, SWAP_SWITCH,
};

// The clients the pipe lets go come first (silent, connect and leave), then
// those that end its one life (a wrong command, a short message).
int const PIPE_CLIENTS[] = {0, 3, 2, 1};

void Act(SoakRig &rig, Action action, int round)
{
    switch (action) {
    // Every sixth round the first border is left to its 59 seconds: until
    // they run out (some three rounds) the switch asks only for "on".
    case BORDER_ON: rig.borderRequest(true, round % 6 == 0 && rig.displayFirmware()); break;
    case BORDER_OFF: rig.borderRequest(rig.leavingToTimer()); break;
    case BORDER_BURST: rig.leavingToTimer() ? rig.borderRequest(true) : rig.borderBurst(); break;
    case DISPLAY_CHANGE: rig.displayChange(); break;
    case MUTE_FLIP: rig.muteFlip(); break;
    case HOTKEY_SWITCH: rig.typedHotkey(3); break;
    case HOTKEY_VIDEO: rig.typedHotkey(1); break;
    case HOTKEY_OPTIMIZE: rig.typedHotkey(0); break;
    case MENU_SWITCH_ALL: rig.menuCommand(32784); break;
    case MENU_SWITCH_AUDIO: rig.menuCommand(32785); break;
    case MENU_SWITCH_VIDEO: rig.menuCommand(32786); break;
    case MENU_OPTIMIZE: rig.menuCommand(32783); break;
    case ICON_DOUBLE_CLICK: rig.iconDoubleClick(); break;
    case TRAY_MENU: rig.trayMenu(); break;
    case OPTIONS: rig.optionsDialog(round % 3); break;
    case ABOUT: rig.aboutDialog(round % 3); break;
    case PIPE_CLIENT: rig.pipeClient(PIPE_CLIENTS[round % 4]); break;
    case SECOND_START: rig.secondStart(); break;
    case EXPLORER_RESTART: rig.explorerRestart(); break;
    case SWAP_SWITCH: rig.swapSwitch(); break;
    }
}

struct Sample {
    double seconds;
    long long series[6];   // private KiB, threads, kernel handles, GDI objects (all, the applet's own), windows
};
int const SERIES_COUNT = 6;
const char *const SERIES[] = {"memory", "threads", "handles", "GDI objects", "GDI objects of its own", "windows"};
// Every GDI object is plotted; the verdict judges the applet's own, not Wine's.
bool const JUDGED[] = {true, true, true, false, true, true};

// Every 10 s or so, always in the same state: between two actions, with the
// border on, so no dialog is open, the attached switch's watcher listens and
// one border loop draws. Samples then compare like with like (a loop holds a
// brush and a region while it draws).
struct Sampler {
    SoakRig *rig;
    DWORD unixPid;
    FILE *csv;
    LONGLONG started;
    double nextAt = 0;
    std::vector<Sample> samples;

    double seconds() const { return Milliseconds(Now() - started) / 1000; }
    bool due() const { return seconds() >= nextAt; }
    void takeWhenDue()
    {
        if (seconds() < nextAt)
            return;
        nextAt += SAMPLE_PERIOD_MS / 1000.0;
        GdiCounts gdi = GdiObjectCounts(rig->appletHandle());
        Sample sample = {seconds(),
                         {PrivateKib(unixPid), UnixThreadCount(unixPid), KernelHandleCount(rig->appletPid()), gdi.all,
                          gdi.applets, WindowCount(rig->appletPid())}};
        fprintf(csv, "%.1f", sample.seconds);
        for (long long value : sample.series)
            fprintf(csv, ",%lld", value);
        fprintf(csv, "\n");
        fflush(csv);
        samples.push_back(sample);
    }
};

// How a series moved after the warm-up: the floor (least value) of its first
// quarter against that of its last. Transient highs (a dialog open, a border
// drawing) leave floors alone; a leak lifts them.
struct Growth {
    bool known = false;
    long long first = 0, last = 0;
    double perHour = 0;
    double hours = 0;
};

Growth GrowthAfterWarmUp(const std::vector<Sample> &samples, int series, double warmUp)
{
    std::vector<const Sample *> after;
    for (const Sample &sample : samples)
        if (sample.seconds >= warmUp)
            after.push_back(&sample);
    Growth growth;
    if (after.size() < 4)
        return growth;
    size_t window = std::max<size_t>(2, after.size() / 4);
    auto floorOf = [&](size_t from) {
        long long least = after[from]->series[series];
        for (size_t index = from; index < from + window; ++index)
            least = std::min(least, after[index]->series[series]);
        return least;
    };
    growth.first = floorOf(0);
    growth.last = floorOf(after.size() - window);
    if (growth.first < 0 || growth.last < 0)
        return growth;
    double span = after[after.size() - window / 2 - 1]->seconds - after[window / 2]->seconds;
    growth.known = span > 0;
    growth.perHour = growth.known ? (growth.last - growth.first) * 3600.0 / span : 0;
    growth.hours = (after.back()->seconds - after.front()->seconds) / 3600;
    return growth;
}

}  // namespace

int main(int argc, char **argv)
{
    double minutes = argc > 1 ? atof(argv[1]) : 10;
    const char *csvPath = argc > 2 ? argv[2] : "soak-samples.csv";
    setvbuf(stdout, nullptr, _IONBF, 0);

    SoakRig rig;
    std::string failure;
    if (!rig.start(&failure)) {
        printf("The soak could not start: %s\n", failure.c_str());
        return 2;
    }
    char prefix[MAX_PATH] = {};
    GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH);
    Sampler sampler;
    sampler.rig = &rig;
    sampler.unixPid = UnixProcessOf(L"VarnelKVM.exe", std::string("WINEPREFIX=") + prefix);
    sampler.csv = fopen(csvPath, "w");
    if (sampler.csv == nullptr) {
        printf("The soak could not write %s\n", csvPath);
        return 2;
    }
    fprintf(sampler.csv, "seconds,private_dirty_kib,threads,kernel_handles,gdi_objects,gdi_objects_own,windows\n");
    sampler.started = Now();
    printf("Soak of %.1f min: applet process %lu (Linux process %lu), samples every 10 s to %s\n", minutes,
           rig.appletPid(), sampler.unixPid, csvPath);

    double const runSeconds = minutes * 60;
    int round = 0;
    size_t step = 0;
    sampler.takeWhenDue();
    while (sampler.seconds() < runSeconds) {
        rig.settleTimer();
        Act(rig, ROUND[step], round);
        rig.waitForExpectedReports();
        if (rig.borderOn() && sampler.due()) {
            Sleep(LOOP_SETTLE_MS);
            sampler.takeWhenDue();
        }
        if (++step == sizeof(ROUND) / sizeof(ROUND[0])) {
            step = 0;
            ++round;
        }
        Sleep(ACTION_GAP_MS);
    }
    bool alive = rig.alive();
    fclose(sampler.csv);
    DWORD slashXExit = 0, appletExit = 0;
    bool ended = alive && rig.finish(&slashXExit, &appletExit);

    int total = 0;
    for (const auto &action : rig.actions)
        total += action.second;
    printf("\nActions, %d in all:\n", total);
    for (const auto &action : rig.actions)
        printf("  %5d  %s\n", action.second, action.first.c_str());
    int faultCount = 0;
    for (const auto &fault : rig.faults) {
        printf("  fault %3d  %s\n", fault.second, fault.first.c_str());
        faultCount += fault.second;
    }

    bool reportsClean = true;
    std::string reportFigures;
    printf("\nReports at the switch, expected / received (lost, extra, out of order):\n");
    for (const auto &kind : rig.tally()) {
        const KindTally &tally = kind.second;
        printf("  %-10s %5zu / %5zu  (%zu, %zu, %zu)\n", kind.first.c_str(), tally.expected, tally.received, tally.lost,
               tally.extra, tally.outOfOrder);
        reportsClean = reportsClean && tally.clean();
        reportFigures += (reportFigures.empty() ? "" : ", ") + kind.first + " " + std::to_string(tally.expected) +
                         "/" + std::to_string(tally.received);
    }
    if (!rig.borderReplies.empty()) {
        std::string slowest = rig.slowestReplyAfter.empty() ? "the slowest in the first action"
                                                            : "the slowest after \"" + rig.slowestReplyAfter + "\"";
        printf("\nBorder request 03 01 to border report 03 04 01, %zu requests: p50 %.2f ms, p99 %.2f ms, max %.2f ms "
               "(%s)\n",
               rig.borderReplies.size(), Percentile(rig.borderReplies, 50), Percentile(rig.borderReplies, 99),
               Percentile(rig.borderReplies, 100), slowest.c_str());
    }

    double warmUp = std::min(WARM_UP_SECONDS, runSeconds / 2);
    printf("\nAfter a warm-up of %.0f s, the least value of the first quarter of the samples against that of the "
           "last:\n", warmUp);
    bool growthClean = true;
    std::string growthFigures;
    for (int series = 0; series < SERIES_COUNT; ++series) {
        if (!JUDGED[series])
            continue;
        Growth growth = GrowthAfterWarmUp(sampler.samples, series, warmUp);
        char figure[128];
        if (!growth.known) {
            snprintf(figure, sizeof(figure), "%s n/a", SERIES[series]);
            growthClean = false;
        } else {
            const char *unit = series == 0 ? " KiB" : "";
            double bound = series == 0 ? MEMORY_GROWTH_KIB_PER_HOUR * std::max(1.0, growth.hours) : 0;
            bool within = growth.last - growth.first <= bound;
            growthClean = growthClean && within;
            snprintf(figure, sizeof(figure), "%s %+lld%s (%+.0f%s/h)", SERIES[series], growth.last - growth.first, unit,
                     growth.perHour, unit);
            printf("  %-24s %lld -> %lld%s in %.1f min (%+.0f%s an hour; bound %+.0f%s)%s\n", SERIES[series],
                   growth.first, growth.last, unit, growth.hours * 60, growth.perHour, unit, bound, unit,
                   within ? "" : "  OUTSIDE");
        }
        growthFigures += (growthFigures.empty() ? "" : ", ") + std::string(figure);
    }
    Growth allGdi = GrowthAfterWarmUp(sampler.samples, 3, warmUp);
    printf("  USER objects: not counted - Wine 8 keeps them in the wineserver and publishes no table of a "
           "process's own, and GetGuiResources answers 0; its windows are counted instead.\n"
           "  GDI objects in all, with Wine's stock and system objects and its cache of window DCs: %lld -> %lld, "
           "not judged.\n",
           allGdi.first, allGdi.last);

    char replies[96] = "no border requests";
    if (!rig.borderReplies.empty())
        snprintf(replies, sizeof(replies), "border reply p50 %.1f, p99 %.1f, max %.1f ms",
                 Percentile(rig.borderReplies, 50), Percentile(rig.borderReplies, 99), Percentile(rig.borderReplies, 100));
    bool pass = alive && ended && slashXExit == 0 && appletExit == 0 && reportsClean && growthClean && faultCount == 0;
    printf("\nSoak %.1f min, %d actions: growth after %.0f s warm-up %s (bounds: memory 256 KiB an hour, at least "
           "256 KiB; the others none); "
           "reports expected/received %s (none lost, extra or out of order: %s); %s; applet %s; /x exit %lu, "
           "applet exit %lu; faults %d -- %s\n",
           runSeconds / 60, total, warmUp, growthFigures.c_str(), reportFigures.c_str(), reportsClean ? "yes" : "NO",
           replies,
           alive ? "alive" : "DEAD", slashXExit, appletExit, faultCount, pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
