// How quickly the applet answers the switch's border request. Not a test: it
// prints figures (scripts/bench-device.sh).
//
// The applet runs against the simulated switch (a video switch, firmware 4).
// The switch sends input report 03 01; the time is taken from just before
// that send to the border report 03 04 01 00 arriving back at the switch,
// seen on the simulator's own thread. Between requests the switch turns the
// border off again (03 00) and waits for 03 04 00 00.
//
//   SwitchReplyBench.exe [requests (default 100, at least 50)]
#include "AppletProcess.h"
#include "BenchTiming.h"
#include "Registry.h"
#include "SimulatedSwitch.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

int const DEFAULT_REQUESTS = 100;
int const MINIMUM_REQUESTS = 50;
DWORD const REPORT_TIMEOUT_MS = 3000;
DWORD const WATCHER_START_MS = 2000;

// The border reports as they reach the switch, timed on the simulator's thread.
struct BorderWatch {
    HANDLE shown = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE hidden = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    volatile LONGLONG shownAt = 0;

    void onEvent(const SimEvent &event)
    {
        const std::vector<BYTE> &bytes = event.report.bytes;
        if (event.kind != SimEvent::Write || bytes.size() < 3 || bytes[0] != 3 || bytes[1] != 4)
            return;
        if (bytes[2] == 1) {
            shownAt = Now();
            SetEvent(shown);
        } else {
            SetEvent(hidden);
        }
    }
};

}  // namespace

int main(int argc, char **argv)
{
    int requests = argc > 1 ? std::max(atoi(argv[1]), MINIMUM_REQUESTS) : DEFAULT_REQUESTS;
    CleanRegistry registry;
    BorderWatch watch;  // outlives the simulator that calls it
    SimulatedSwitch simulator;
    SimInterface description = SwitchInterface(0x5A03, 0x0400, 8);
    description.present = false;
    int id = simulator.add(description);
    simulator.setListener([&watch](const SimEvent &event) { watch.onEvent(event); });

    AppletProcess applet;
    if (!applet.start() || applet.waitForWindow() == nullptr || !simulator.waitForClient(applet.pid())) {
        fprintf(stderr, "the applet did not start with the simulated switch\n");
        return 1;
    }
    // Plugged in: the greeting shows the border, and the watcher starts after it.
    simulator.plug(id);
    if (WaitForSingleObject(watch.shown, REPORT_TIMEOUT_MS) != WAIT_OBJECT_0) {
        fprintf(stderr, "no border report after the switch arrived (is the border built?)\n");
        return 1;
    }
    if (!simulator.waitForOpenCount(id, 1, WATCHER_START_MS)) {
        fprintf(stderr, "the watcher did not open the switch\n");
        return 1;
    }

    std::vector<double> latencies;
    for (int request = 0; request < requests; ++request) {
        ResetEvent(watch.hidden);
        simulator.sendInputReport(id, {3, 0, 0, 0, 0, 0, 0, 0});
        if (WaitForSingleObject(watch.hidden, REPORT_TIMEOUT_MS) != WAIT_OBJECT_0) {
            fprintf(stderr, "request %d: the border did not go off\n", request);
            return 1;
        }
        ResetEvent(watch.shown);
        LONGLONG sent = Now();
        simulator.sendInputReport(id, {3, 1, 0, 0, 0, 0, 0, 0});
        if (WaitForSingleObject(watch.shown, REPORT_TIMEOUT_MS) != WAIT_OBJECT_0) {
            fprintf(stderr, "request %d: no border report 03 04 01 00\n", request);
            return 1;
        }
        latencies.push_back(Milliseconds(watch.shownAt - sent));
    }
    printf("Border request 03 01 to border report 03 04 01 00, %d requests:\n", requests);
    printf("  p50 %.2f ms, p99 %.2f ms, max %.2f ms (min %.2f ms)\n", Percentile(latencies, 50),
           Percentile(latencies, 99), Percentile(latencies, 100), Percentile(latencies, 0));
    return 0;
}
