// The watcher that listens for the switch's border requests, in the running
// applet: when it starts and ends, what it makes of each input report, and
// how it stands up to a switch plugged and unplugged for a long while.
#include "AppletSwitchRig.h"
#include "HandleCount.h"

#include <algorithm>
#include <random>

namespace {

const char UNKNOWN_7[] = "KVM Sent an unknown command 7\n";
// A border request with bytes of its own: the watcher reads reports in turn,
// so once its lines are heard, every report sent before it has been read.
std::vector<BYTE> const FULL_ON = {3, 1, 2, 3, 4, 5, 6, 7};
const char FULL_ON_LINE[] = "3 1 2 3 4 : 0x201\n";

class WatcherTest : public AppletSwitchTest {
protected:
    // Sends the report, then FULL_ON, and returns the lines the report
    // brought once FULL_ON's have been heard. The watcher's read buffer is
    // left holding FULL_ON's bytes.
    std::vector<std::string> inputLines(AppletProcess &applet, int id, const std::vector<BYTE> &report)
    {
        debug.clear();
        EXPECT_EQ(simulator.sendInputReport(id, report), 1) << "one watcher reads the switch";
        simulator.sendInputReport(id, FULL_ON);
        std::vector<std::string> heard;
        EXPECT_TRUE(WaitUntil("the lines of the report read after it", [&] {
            heard = lines(applet);
            auto marker = std::find(heard.begin(), heard.end(), FULL_ON_LINE);
            return marker != heard.end() && std::find(marker, heard.end(), BORDER_ON_ASKED) != heard.end();
        }, WAIT_MS, [&] { return Listed(heard); }));
        heard.erase(std::find(heard.begin(), heard.end(), FULL_ON_LINE), heard.end());
        return heard;
    }
};

TEST_F(WatcherTest, ASwitchAttachedAtStartUpIsListenedTo)
{
    int id = simulator.add(SwitchInterface(0x5A01, 0x0301));
    AppletProcess applet;
    startApplet(applet);
    ASSERT_TRUE(waitForCount(applet, WATCHER_STARTS, 1));
    ASSERT_TRUE(simulator.waitForOpenCount(id, 1));

    EXPECT_EQ(inputLines(applet, id, {3, 1, 0, 0, 0, 0, 0, 0}),
              (std::vector<std::string>{"3 1 0 0 0 : 0x1\n", BORDER_ON_ASKED}));
    EXPECT_EQ(inputLines(applet, id, {3, 0, 0, 0, 0, 0, 0, 0}),
              (std::vector<std::string>{"3 0 0 0 0 : 0x0\n", BORDER_OFF_ASKED}));

    // At exit the watcher is ended and waited for before the applet's state goes.
    applet.post(WM_COMMAND, 105);
    ASSERT_TRUE(applet.waitForExit(WAIT_MS));
    ASSERT_TRUE(debug.catchUp());
    EXPECT_EQ(countOf(applet, WATCHER_STOPS), 1);
}

TEST_F(WatcherTest, UnpluggingEndsTheWatcherAndPluggingStartsTheNext)
{
    int id = simulator.add(SwitchInterface(0x5A01, 0x0301));
    AppletProcess applet;
    startApplet(applet);
    ASSERT_TRUE(waitForCount(applet, WATCHER_STARTS, 1));

    simulator.unplug(id);
    ASSERT_TRUE(waitForCount(applet, WATCHER_STOPS, 1));
    EXPECT_TRUE(simulator.waitForOpenCount(id, 0));

    simulator.plug(id);
    ASSERT_TRUE(waitForCount(applet, WATCHER_STARTS, 2));
    ASSERT_TRUE(simulator.waitForOpenCount(id, 1));
    EXPECT_EQ(CountOf(inputLines(applet, id, {3, 1, 0, 0, 0, 0, 0, 0}), BORDER_ON_ASKED), 1);

    // Unplugged, then gone again before its next watcher could open it: that
    // watcher ends at once.
    debug.clear();
    simulator.unplug(id);
    simulator.plug(id);
    simulator.unplug(id);
    ASSERT_TRUE(waitForCount(applet, WATCHER_STOPS, 2));
    // Nothing more comes: long enough for another watcher to have started.
    Sleep(2 * WATCHER_DELAY_MS);
    EXPECT_EQ(countOf(applet, WATCHER_STARTS), 1);
    EXPECT_EQ(countOf(applet, WATCHER_STOPS), 2);
    EXPECT_EQ(countOf(applet, "Read Failure\n"), 0);
}

class WatcherReliabilityTest : public WatcherTest {};

TEST_F(WatcherReliabilityTest, InputReportsOfEveryLengthAndAnyBytesAreReadSafely)
{
    SimInterface asWritten = SwitchInterface(0x5A01, 0x0301);
    asWritten.inputReportLength = 0;  // each report arrives with the length it was sent with
    int id = simulator.add(asWritten);
    AppletProcess applet;
    startApplet(applet);
    ASSERT_TRUE(waitForCount(applet, WATCHER_STARTS, 1));
    ASSERT_TRUE(simulator.waitForOpenCount(id, 1));

    // Each row follows one that left 03 01 02 03 04 in the read buffer
    // (FULL_ON): a shorter report must not be taken with the bytes of the one before.
    inputLines(applet, id, {2, 1});
    struct Row {
        std::vector<BYTE> report;
        std::vector<std::string> lines;
    } const rows[] = {
        {{}, {}},
        {{3}, {}},
        {{3, 1}, {"3 1 0 0 0 : 0x1\n", BORDER_ON_ASKED}},
        {{3, 0, 0xFF}, {"3 0 ff 0 0 : 0xff00\n", BORDER_OFF_ASKED}},
        {{3, 1, 2, 3}, {"3 1 2 3 0 : 0x201\n", BORDER_ON_ASKED}},
        {{3, 7, 1, 2, 3}, {"3 7 1 2 3 : 0x107\n", UNKNOWN_7}},
        {{2, 1, 0, 0, 0, 0}, {}},
        {{3, 0, 0, 0, 0, 0, 0}, {"3 0 0 0 0 : 0x0\n", BORDER_OFF_ASKED}},
        {{0, 0, 0, 0, 0, 0, 0, 0}, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(HexBytes(row.report));
        EXPECT_EQ(inputLines(applet, id, row.report), row.lines);
    }

    // Any bytes at all: only 03 00 and 03 01 are border requests.
    std::mt19937 random(20261208);
    int requests = 0;
    std::vector<std::string> all;
    for (int count = 0; count < 60; ++count) {
        std::vector<BYTE> report(random() % 9);
        for (BYTE &value : report)
            value = (BYTE)random();
        if (report.size() >= 1 && random() % 2 == 0)
            report[0] = 3;
        if (report.size() >= 2 && random() % 2 == 0)
            report[1] = (BYTE)(random() % 3);
        requests += report.size() >= 2 && report[0] == 3 && report[1] <= 1 ? 1 : 0;
        std::vector<std::string> heard = inputLines(applet, id, report);
        all.insert(all.end(), heard.begin(), heard.end());
    }
    EXPECT_EQ(CountOf(all, BORDER_ON_ASKED) + CountOf(all, BORDER_OFF_ASKED), requests);
    EXPECT_EQ(countOf(applet, WATCHER_STOPS), 0) << "no report ends the watcher";
    EXPECT_EQ(CountOf(inputLines(applet, id, {3, 1}), BORDER_ON_ASKED), 1);
    EXPECT_TRUE(applet.running());
}

TEST_F(WatcherReliabilityTest, TwoHundredPlugCyclesLeaveOneWatcherAndNoHandlesBehind)
{
    int id = simulator.add(Unplugged(SwitchInterface(0x5A01, 0x0301)));
    AppletProcess applet;
    startApplet(applet);
    // Counted once everything that lasts is made: start-up's last handles
    // come from threads of their own (the pipe's), and the first watcher
    // leaves its thread's handle until the next one starts.
    simulator.plug(id);
    ASSERT_TRUE(WaitUntil("the first watcher started", [&] { return countOf(applet, WATCHER_STARTS) == 1; }));
    simulator.unplug(id);
    ASSERT_TRUE(WaitUntil("the first watcher stopped", [&] { return countOf(applet, WATCHER_STOPS) == 1; }));
    int handlesBefore = (int)KernelHandleCount(applet.pid());
    ASSERT_GT(handlesBefore, 0);

    // Held plugged and unplugged for varied times, some shorter than the
    // watcher's start delay and some longer.
    DWORD const pluggedMs[] = {20, 100, 560, 60};
    DWORD const unpluggedMs[] = {10, 60, 150};
    for (int cycle = 0; cycle < 200; ++cycle) {
        simulator.plug(id);
        Sleep(pluggedMs[cycle % 4]);
        simulator.unplug(id);
        Sleep(unpluggedMs[cycle % 3]);
    }
    // A start timer still pending from the last cycle runs its course; then
    // no watcher is left without a switch: every one started has stopped.
    Sleep(2 * WATCHER_DELAY_MS);
    int starts = 0, stops = 0;
    EXPECT_TRUE(WaitUntil("as many watchers stopped as started", [&] {
        starts = countOf(applet, WATCHER_STARTS);
        stops = countOf(applet, WATCHER_STOPS);
        return starts == stops;
    }, WAIT_MS, [&] { return std::to_string(starts) + " started, " + std::to_string(stops) + " stopped"; }));
    EXPECT_GE(starts, 50) << "the longer plugged spells start a watcher";
    // The last watcher's thread lets its handles go as it ends.
    int handlesAfter = 0;
    EXPECT_TRUE(WaitUntil("the handles back to within 5 of the " + std::to_string(handlesBefore) + " before", [&] {
        handlesAfter = (int)KernelHandleCount(applet.pid());
        return abs(handlesAfter - handlesBefore) <= 5;
    }, WAIT_MS, [&] { return std::to_string(handlesAfter) + " handles"; }));
    RecordProperty("HandlesBefore", handlesBefore);
    RecordProperty("HandlesAfter", handlesAfter);
    printf("handles before the cycles %d, after %d; %d watchers started\n", handlesBefore, handlesAfter, starts);

    // Plugged once more: one watcher, and the user can still switch.
    simulator.plug(id);
    ASSERT_TRUE(waitForCount(applet, WATCHER_STARTS, starts + 1));
    ASSERT_TRUE(simulator.waitForOpenCount(id, 1));
    EXPECT_EQ(CountOf(inputLines(applet, id, {3, 1, 0, 0, 0, 0, 0, 0}), BORDER_ON_ASKED), 1);
    ASSERT_TRUE(simulator.catchUp());
    simulator.clearReports();
    UINT const HOOK_KEYUP = 0x8334;
    ASSERT_TRUE(applet.post(HOOK_KEYUP, VK_CONTROL, 0xC01D0001));
    ASSERT_TRUE(applet.post(HOOK_KEYUP, VK_CONTROL, 0xC01D0001));
    ASSERT_TRUE(simulator.waitForReports(1, WAIT_MS, id));
    EXPECT_EQ(HexReports(simulator, id), std::vector<std::string>{"01 06 00 00 00 00 00 00"});
}

}  // namespace
