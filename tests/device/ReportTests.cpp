// The output reports as the switch receives them: their bytes on devices of
// different report lengths, the diagnostic line of each send, and what
// happens when the switch is absent or its capabilities cannot be read.
#include "DebugListener.h"
#include "DeviceTestSupport.h"
#include "display/Display.h"

#include <functional>

namespace {

class ReportTest : public SimulatedSwitchTest {
protected:
    std::vector<std::string> ourLines() { return debug.ownLines(); }

    DebugListener debug;
};

TEST(ReportBytes, TheResolutionIsWrittenMostSignificantByteFirst)
{
    struct Row {
        DWORD width, height;
        const char *bytes;
    } const rows[] = {
        {1280, 1024, "03 03 05 00 04 00 00 00"},
        {1920, 1080, "03 03 07 80 04 38 00 00"},
        {0x1234, 0x5678, "03 03 12 34 56 78 00 00"},
        {0, 0, "03 03 00 00 00 00 00 00"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.width << "x" << row.height);
        ReportBytes report = ResolutionReport((row.width << 16) | row.height);
        EXPECT_EQ(HexBytes(std::vector<BYTE>(report.bytes, report.bytes + REPORT_DEFINED_BYTES)), row.bytes);
    }
}

struct SendRow {
    const char *name;
    std::function<void()> send;
    DWORD muteState, borderOn, optimizeRequested;
    std::vector<BYTE> bytes;   // the defined bytes
    const char *line;
};

// The resolution report carries what GetPrimaryResolution says at the time.
std::vector<BYTE> ResolutionBytesNow()
{
    DWORD resolution = GetPrimaryResolution();
    return {3, 3, (BYTE)(resolution >> 24), (BYTE)(resolution >> 16), (BYTE)(resolution >> 8), (BYTE)resolution, 0, 0};
}

TEST_F(ReportTest, EachReportReachesTheSwitchWithItsBytesAndItsLine)
{
    const char *const switchLine = "Sending Switch\n";
    std::vector<SendRow> const rows = {
        {"switch none, muted", [] { SendSwitchCommand(SWITCH_NONE); }, 1, 0, 0, {1, 1}, switchLine},
        {"switch none", [] { SendSwitchCommand(SWITCH_NONE); }, 0, 0, 0, {1, 0}, switchLine},
        {"switch video", [] { SendSwitchCommand(SWITCH_VIDEO); }, 0, 0, 0, {1, 2}, switchLine},
        {"switch video, muted", [] { SendSwitchCommand(SWITCH_VIDEO); }, 1, 0, 0, {1, 3}, switchLine},
        {"switch audio", [] { SendSwitchCommand(SWITCH_AUDIO); }, 0, 0, 0, {1, 4}, switchLine},
        {"switch audio, muted", [] { SendSwitchCommand(SWITCH_AUDIO); }, 1, 0, 0, {1, 5}, switchLine},
        {"switch all", [] { SendSwitchCommand(SWITCH_ALL); }, 0, 0, 0, {1, 6}, switchLine},
        {"switch all, muted", [] { SendSwitchCommand(SWITCH_ALL); }, 1, 0, 0, {1, 7}, switchLine},
        {"resolution", [] { SendResolutionReport(); }, 1, 1, 1, ResolutionBytesNow(), "Sending resolution\n"},
        {"border off", [] { SendBorderReport(); }, 1, 0, 0, {3, 4, 0, 0}, "Sendng border response\n"},
        {"border on", [] { SendBorderReport(); }, 0, 1, 0, {3, 4, 1, 0}, "Sendng border response\n"},
        {"border on, optimizing", [] { SendBorderReport(); }, 0, 1, 1, {3, 4, 1, 1}, "Sendng border response\n"},
    };
    for (USHORT length : {8, 16}) {
        for (const SendRow &row : rows) {
            SCOPED_TRACE(testing::Message() << row.name << ", " << length << "-byte reports");
            ResetAppState();
            appState.muteState = row.muteState;
            appState.borderOn = row.borderOn;
            appState.optimizeRequested = row.optimizeRequested;
            int id = simulator.add(SwitchInterface(0x5A04, 0x0400, length));
            debug.clear();

            row.send();
            ASSERT_TRUE(simulator.catchUp());
            std::vector<SimReport> writes = simulator.writes(id);
            ASSERT_EQ(writes.size(), 1u) << "one write";
            EXPECT_EQ(HexBytes(writes[0].bytes), HexBytes(Padded(row.bytes, length)));
            EXPECT_EQ(ourLines(), std::vector<std::string>{row.line});
            EXPECT_EQ(simulator.totalOpens(id), 1);
            EXPECT_TRUE(simulator.waitForOpenCount(id, 0, DEVICE_WAIT_MS)) << "closed after the write";
            EXPECT_EQ(simulator.deviceInfoSetsOutstanding(), 0);
            EXPECT_EQ(simulator.preparsedDataOutstanding(), 0);
            simulator.unplug(id, SIM_NOTIFY_NONE);
            simulator.clearReports();
        }
    }
}

TEST_F(ReportTest, ADeviceWithShortReportsGetsTheFirstBytesOnly)
{
    int id = simulator.add(SwitchInterface(0x5A03, 0x0400, 2));
    appState.borderOn = 1;
    SendSwitchCommand(SWITCH_ALL);
    SendBorderReport();
    ASSERT_TRUE(simulator.waitForReports(2, DEVICE_WAIT_MS, id));
    std::vector<SimReport> reports = simulator.reports(id);
    EXPECT_EQ(HexBytes(reports[0].bytes), "01 06");
    EXPECT_EQ(HexBytes(reports[1].bytes), "03 04");
}

TEST_F(ReportTest, UnreadableCapabilitiesWriteNothingUsefulAndBreakNothing)
{
    for (SimCaps caps : {SimCaps::PreparsedDataFails, SimCaps::GetCapsFails}) {
        SCOPED_TRACE(caps == SimCaps::PreparsedDataFails ? "HidD_GetPreparsedData fails" : "HidP_GetCaps fails");
        ResetAppState();
        SimInterface description = SwitchInterface(0x5A01, 0x0400, 8);
        description.caps = caps;
        int broken = simulator.add(description);
        debug.clear();

        SendSwitchCommand(SWITCH_ALL);
        SendResolutionReport();
        SendBorderReport();
        // The switch was opened, so the lines are written; the writes have no length.
        EXPECT_EQ(ourLines(), (std::vector<std::string>{"Sending Switch\n", "Sending resolution\n",
                                                         "Sendng border response\n"}));
        ASSERT_TRUE(simulator.catchUp());
        for (const SimReport &write : simulator.writes(broken))
            EXPECT_TRUE(write.bytes.empty()) << HexBytes(write.bytes);
        EXPECT_TRUE(simulator.reports(broken).empty());
        EXPECT_TRUE(simulator.waitForOpenCount(broken, 0, DEVICE_WAIT_MS));

        // A sound switch in its place works as ever.
        simulator.unplug(broken, SIM_NOTIFY_NONE);
        int sound = simulator.add(SwitchInterface(0x5A01, 0x0400, 8));
        SendSwitchCommand(SWITCH_ALL);
        ASSERT_TRUE(simulator.waitForReports(1, DEVICE_WAIT_MS, sound));
        EXPECT_EQ(HexBytes(simulator.reports(sound)[0].bytes), "01 06 00 00 00 00 00 00");
        simulator.unplug(sound, SIM_NOTIFY_NONE);
        simulator.clearReports();
    }
}

TEST_F(ReportTest, WithoutASwitchNothingIsWrittenAndNothingLogged)
{
    struct Row {
        const char *name;
        std::function<void(SimulatedSwitch &)> present;
    } const rows[] = {
        {"no HID interface at all", [](SimulatedSwitch &) {}},
        {"only other devices",
         [](SimulatedSwitch &local) {
             local.add(HidInterface(L"vid_046d&pid_c52b&mi_00", 0x046D, 0xC52B));
             local.add(HidInterface(L"vid_7e51&pid_5a01&col02", 0x7E51, 0x5A01));
         }},
        {"a switch that cannot be opened",
         [](SimulatedSwitch &local) {
             SimInterface description = SwitchInterface(0x5A01);
             description.pipeName.clear();
             local.add(description);
         }},
        {"a switch that was unplugged",
         [](SimulatedSwitch &local) { local.unplug(local.add(SwitchInterface(0x5A04)), SIM_NOTIFY_NONE); }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ResetAppState();
        SimulatedSwitch local;
        row.present(local);
        debug.clear();

        SendSwitchCommand(SWITCH_ALL);
        SendResolutionReport();
        SendBorderReport();
        EXPECT_TRUE(ourLines().empty());
        ASSERT_TRUE(local.catchUp());
        EXPECT_TRUE(local.writes().empty());
        EXPECT_EQ(local.hidEnumerations(), 3) << "each send looked for the switch";
    }
}

}  // namespace
