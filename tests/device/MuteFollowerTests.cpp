// The speakers' mute state reaching the switch: at start-up from every mixer,
// on each change of the mute control, and as the mute bit of other reports.
// The mixers are simulated (tests/simswitch/SimulatedMixers.h): Wine's own
// mixer never sends MM_MIXM_CONTROL_CHANGE, and its mute belongs to the
// calling process's own audio session, so no test could change it from outside.
#include "AppletSwitchRig.h"
#include "SimulatedMixers.h"

#include <functional>

namespace {

const char UNMUTED[] = "01 00 00 00 00 00 00 00";
const char MUTED[] = "01 01 00 00 00 00 00 00";

SimMixer MixerWith(std::vector<SimMixerLine> lines)
{
    SimMixer mixer;
    mixer.lines = lines;
    return mixer;
}

SimMixerLine Speakers(bool muted)
{
    SimMixerLine line;
    line.muted = muted;
    return line;
}

SimMixerLine Line(DWORD componentType, bool hasMute = true)
{
    SimMixerLine line;
    line.componentType = componentType;
    line.hasMute = hasMute;
    return line;
}

class MuteFollowerTest : public AppletSwitchTest {
protected:
    void SetUp() override { ASSERT_TRUE(mixers.running()); }

    // The switch is attached; the applet starts on the mixers the row presents.
    void startOnMixers(AppletProcess &applet)
    {
        startApplet(applet);
        ASSERT_TRUE(mixers.served(applet.pid())) << "the applet did not load the stand-in winmm.dll";
    }

    SimulatedMixers mixers;
};

TEST_F(MuteFollowerTest, AtStartUpEachMixerWithSpeakersMuteReportsIt)
{
    SimMixer noCaps = MixerWith({Speakers(true)});
    noCaps.capsFail = true;
    SimMixer noOpen = MixerWith({Speakers(true)});
    noOpen.openFails = true;
    struct Row {
        const char *name;
        std::vector<SimMixer> mixers;
        DWORD noAudioRegistry;
        std::vector<std::string> reports;
        int opens;
    } const rows[] = {
        {"no mixer", {}, 0, {}, 0},
        {"speakers not muted", {MixerWith({Speakers(false)})}, 0, {UNMUTED}, 1},
        {"speakers muted", {MixerWith({Speakers(true)})}, 0, {MUTED}, 1},
        {"two mixers", {MixerWith({Speakers(true)}), MixerWith({Speakers(false)})}, 0, {MUTED, UNMUTED}, 2},
        {"the last speakers line wins",
         {MixerWith({Speakers(false), Line(MIXERLINE_COMPONENTTYPE_DST_WAVEIN), Speakers(true)})}, 0, {MUTED}, 1},
        {"no speakers line", {MixerWith({Line(MIXERLINE_COMPONENTTYPE_DST_WAVEIN)})}, 0, {}, 1},
        {"speakers without mute",
         {MixerWith({Line(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, false)})}, 0, {}, 1},
        {"capabilities unreadable", {noCaps, MixerWith({Speakers(false)})}, 0, {UNMUTED}, 1},
        {"open refused", {noOpen, MixerWith({Speakers(false)})}, 0, {UNMUTED}, 1},
        {"no-audio variant", {MixerWith({Speakers(true)})}, 1, {}, 0},
    };
    int id = simulator.add(SwitchInterface(0x5A01, 0x0301));
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SimulatedMixers rowMixers;  // this row's table, for the applet started now
        for (const SimMixer &mixer : row.mixers)
            rowMixers.add(mixer);
        SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoAudioKestrel", row.noAudioRegistry);
        simulator.clearReports();
        AppletProcess applet;
        startApplet(applet);
        ASSERT_TRUE(rowMixers.served(applet.pid())) << "the applet did not load the stand-in winmm.dll";

        // The mixer last opened is closed once the message loop has ended.
        applet.post(WM_COMMAND, 105);
        ASSERT_TRUE(applet.waitForExit(WAIT_MS));
        ASSERT_TRUE(simulator.catchUp());
        EXPECT_EQ(HexReports(simulator, id), row.reports);
        EXPECT_EQ(rowMixers.opensBy(applet.pid()), row.opens);
        EXPECT_EQ(rowMixers.closeCalls(), row.opens > 0 ? 1 : 0);
        CleanRegistry::RemoveAll();
    }
}

TEST_F(MuteFollowerTest, MutingAndUnmutingReachTheSwitchAndVolumeDoesNot)
{
    int id = simulator.add(SwitchInterface(0x5A01, 0x0301));
    int mixer = mixers.add(MixerWith({Speakers(false)}));
    AppletProcess applet;
    startOnMixers(applet);
    struct Row {
        const char *name;
        std::function<void()> change;
        std::vector<std::string> reports;
    } const rows[] = {
        {"mute", [&] { mixers.setMute(mixer, 0, true); }, {MUTED}},
        {"volume while muted", [&] { mixers.changeVolume(mixer, 0); }, {}},
        {"unmute", [&] { mixers.setMute(mixer, 0, false); }, {UNMUTED}},
        {"volume", [&] { mixers.changeVolume(mixer, 0); }, {}},
        {"mute again", [&] { mixers.setMute(mixer, 0, true); }, {MUTED}},
        // Drivers may answer any non-zero value for muted: the switch hears 1.
        {"muted as 0xFFFFFFFF", [&] { mixers.setMute(mixer, 0, -1); }, {MUTED}},
        {"muted as 2", [&] { mixers.setMute(mixer, 0, 2); }, {MUTED}},
        {"unmute once more", [&] { mixers.setMute(mixer, 0, false); }, {UNMUTED}},
        {"muted as 0x100", [&] { mixers.setMute(mixer, 0, 0x100); }, {MUTED}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        simulator.clearReports();
        row.change();
        if (row.reports.empty()) {
            // Nothing comes: the volume is no business of the switch's.
            simulator.waitForQuiet(500);
        } else {
            // One report per change, written before the applet has done with the notice.
            ASSERT_TRUE(simulator.waitForReports(row.reports.size(), WAIT_MS, id));
            ASSERT_TRUE(simulator.catchUp());
        }
        EXPECT_EQ(HexReports(simulator, id), row.reports);
    }

    // Every other switch report carries the mute bit too.
    simulator.clearReports();
    applet.post(WM_COMMAND, 32784);  // Switch All
    ASSERT_TRUE(simulator.waitForReports(1, WAIT_MS, id));
    EXPECT_EQ(HexReports(simulator, id), std::vector<std::string>{"01 07 00 00 00 00 00 00"});
}

TEST_F(MuteFollowerTest, OnlyTheRememberedControlIsFollowed)
{
    // Two mixers: the mute control found last, the second mixer's, is the one followed.
    int id = simulator.add(SwitchInterface(0x5A01, 0x0301));
    int first = mixers.add(MixerWith({Speakers(false)}));
    int second = mixers.add(MixerWith({Speakers(false)}));
    AppletProcess applet;
    startOnMixers(applet);
    simulator.clearReports();

    // Nothing comes from the control that is not followed.
    mixers.setMute(first, 0, true);
    simulator.waitForQuiet(500);
    EXPECT_TRUE(simulator.writes(id).empty());

    mixers.setMute(second, 0, true);
    ASSERT_TRUE(simulator.waitForReports(1, WAIT_MS, id));
    EXPECT_EQ(HexReports(simulator, id), std::vector<std::string>{MUTED});
}

TEST_F(MuteFollowerTest, ANoAudioSwitchEndsTheFollowing)
{
    // The registry says nothing; meeting the no-audio switch, at start-up or
    // when it is plugged in later, does.
    for (bool atStartUp : {true, false}) {
        SCOPED_TRACE(atStartUp ? "attached at start-up" : "plugged in later");
        SimulatedSwitch rowSwitch;
        SimulatedMixers rowMixers;
        int id = rowSwitch.add(atStartUp ? SwitchInterface(0x5A05, 0x0400)
                                         : Unplugged(SwitchInterface(0x5A05, 0x0400)));
        int mixer = rowMixers.add(MixerWith({Speakers(false)}));
        AppletProcess applet;
        ASSERT_TRUE(applet.start());
        ASSERT_NE(applet.waitForWindow(), nullptr);
        ASSERT_TRUE(debug.waitForLine(applet.pid(), STARTING_THE_HOOK));
        ASSERT_TRUE(rowMixers.served(applet.pid()));
        // Start-up is over, and an arrival is greeted before plug() returns.
        if (!atStartUp)
            rowSwitch.plug(id);
        ASSERT_TRUE(rowSwitch.catchUp());
        EXPECT_EQ(HexReports(rowSwitch, id), std::vector<std::string>{UNMUTED}) << "its one greeting";
        rowSwitch.clearReports();

        // Nothing comes from the speakers any more.
        rowMixers.setMute(mixer, 0, true);
        rowSwitch.waitForQuiet(500);
        EXPECT_TRUE(rowSwitch.writes(id).empty());
        applet.post(WM_COMMAND, 32784);
        ASSERT_TRUE(rowSwitch.waitForReports(1, WAIT_MS, id));
        EXPECT_EQ(HexReports(rowSwitch, id), std::vector<std::string>{"01 06 00 00 00 00 00 00"});
    }
}

}  // namespace
