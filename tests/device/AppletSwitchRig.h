// What the black-box tests of the switch talking back share: the running
// applet, the simulated switch it finds, and its diagnostic lines.
#pragma once

#include "AppletProcess.h"
#include "DebugListener.h"
#include "Registry.h"
#include "SimulatedSwitch.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

const char STARTING_THE_HOOK[] = "Starting the hook\n";
const char WATCHER_STARTS[] = "Got a StartTreadTimerID... starting WatchWorkerThread\n";
const char WATCHER_STOPS[] = "Stopping WatchThreadWorker\n";
const char BORDER_ON_ASKED[] = "KVM Asked to turn border ON\n";
const char BORDER_OFF_ASKED[] = "KVM Asked to turn border OFF\n";
// The watcher waits this long after an arrival before it opens the switch.
DWORD const WATCHER_DELAY_MS = 515;

class AppletSwitchTest : public ::testing::Test {
protected:
    // Starts the applet on whatever the simulator presents. Start-up ends
    // with the hook: by then it has written every line and report of its
    // own, and once the switch has taken them the test's own begin.
    void startApplet(AppletProcess &applet)
    {
        ASSERT_TRUE(applet.start());
        ASSERT_NE(applet.waitForWindow(), nullptr);
        ASSERT_TRUE(debug.waitForLine(applet.pid(), STARTING_THE_HOOK));
        ASSERT_TRUE(simulator.hasClient(applet.pid())) << "the applet did not load the stand-in DLLs";
        ASSERT_TRUE(simulator.catchUp());
    }

    std::vector<std::string> lines(AppletProcess &applet) { return debug.linesFrom(applet.pid()); }
    int countOf(AppletProcess &applet, const char *line) { return CountOf(lines(applet), line); }
    testing::AssertionResult waitForCount(AppletProcess &applet, const char *line, int count)
    {
        return debug.waitForCount(applet.pid(), line, count);
    }

    CleanRegistry registry;
    DebugListener debug;
    SimulatedSwitch simulator;
};

// A switch interface that is not plugged in yet.
inline SimInterface Unplugged(SimInterface description)
{
    description.present = false;
    return description;
}
