// The hotkeys as a user types them: Notepad has the keyboard focus, xdotool
// types on the X display, Quillhook's hook in Notepad's process posts each
// release to the applet, and the simulated switch shows what the applet sent.
//
// Wine on Xvfb adds Scroll Lock releases of its own after an odd number of
// Scroll Lock presses (the X server has no modifier for it, so Wine resets its
// toggle at the next other key). Every case here presses it in pairs, and the
// focus probe types a letter first, so each case starts with the toggle settled.
#include "HotkeyRig.h"
#include "Registry.h"
#include "TypingRig.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

DWORD const DEFAULT_KEY = 0;          // no "ActiveKey" stored: Control, Control
DWORD const THREE_KEYS = 0xFFFFFFFF;  // "ActiveKey" -1: Control, Control, Shift
USHORT const PLAIN_FIRMWARE = 0x0300;
USHORT const DISPLAY_FIRMWARE = 0x0400;
BYTE const SWITCH_REPORT_ID = 1;
BYTE const SWITCH_ALL_BITS = 3 << 1;
BYTE const SWITCH_VIDEO_BITS = 1 << 1;
BYTE const MUTE_BIT = 1;

// Long enough for a window (500 ms) and an ALT delay (513 ms) to have passed.
DWORD const NOTHING_SENT_WAIT_MS = 1300;
// ALT held past the first ALT-delay tick.
DWORD const ALT_HELD_MS = 800;
DWORD const REPORT_TIMEOUT_MS = 3000;
DWORD const QUIET_MS = 300;

enum Expect { SWITCHES_ALL, SWITCHES_VIDEO, SENDS_NOTHING, OPTIMIZES, DOES_NOT_OPTIMIZE };

struct TypingCase {
    const char *name;
    DWORD activeKey;
    USHORT firmware;
    const char *typed;          // xdotool arguments
    const char *typedLater;     // after ALT_HELD_MS with nothing sent, or null
    Expect expect;
    // For a case that sends nothing: a sequence typed afterwards that does
    // switch, so "nothing" means the applet heard the keys and said no.
    const char *thenSwitching = nullptr;
};

void PrintTo(const TypingCase &row, std::ostream *out)
{
    *out << row.name;
}

TypingCase const cases[] = {
    {"Control Control switches everything", DEFAULT_KEY, PLAIN_FIRMWARE, "key ctrl ctrl", nullptr, SWITCHES_ALL},
    {"Control A Control still switches", DEFAULT_KEY, PLAIN_FIRMWARE, "key ctrl a ctrl", nullptr, SWITCHES_ALL},
    {"ALT held switches video once ALT is up", DEFAULT_KEY, PLAIN_FIRMWARE, "keydown alt key ctrl ctrl", "keyup alt", SWITCHES_VIDEO},
    {"ActiveKey -1: Control Control Shift switches", THREE_KEYS, PLAIN_FIRMWARE, "key ctrl ctrl shift", nullptr, SWITCHES_ALL},
    {"ActiveKey -1: Control X Control Shift does not", THREE_KEYS, PLAIN_FIRMWARE, "key ctrl x ctrl shift", nullptr, SENDS_NOTHING, "key ctrl ctrl shift"},
    {"ActiveKey -1: Control Control alone does not", THREE_KEYS, PLAIN_FIRMWARE, "key ctrl ctrl", nullptr, SENDS_NOTHING, "key ctrl ctrl shift"},
    {"display firmware: Scroll Lock twice optimizes", DEFAULT_KEY, DISPLAY_FIRMWARE, "key Scroll_Lock Scroll_Lock", nullptr, OPTIMIZES},
    {"other firmware: Scroll Lock twice does not", DEFAULT_KEY, PLAIN_FIRMWARE, "key Scroll_Lock Scroll_Lock", nullptr, DOES_NOT_OPTIMIZE, "key ctrl ctrl"},
};

std::string Hex(BYTE value)
{
    char text[8];
    snprintf(text, sizeof(text), "%02X", value);
    return text;
}

class HotkeyTyping : public ::testing::TestWithParam<TypingCase> {
protected:
    static void SetUpTestSuite() { notepad.reset(new Notepad()); }
    static void TearDownTestSuite() { notepad.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(XdotoolInstalled()) << "xdotool is not installed (scripts/setup-debian.sh)";
        ASSERT_TRUE(notepad->started()) << "Notepad showed no window";
        ASSERT_TRUE(debug.listening());
        TypingCase const &row = GetParam();
        if (row.activeKey != DEFAULT_KEY)
            SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"ActiveKey", row.activeKey);
        SetMonitorChosen();
        simulated.reset(new SimulatedSwitch());
        ASSERT_TRUE(simulated->running());
        simulated->add(SwitchInterface(row.firmware == DISPLAY_FIRMWARE ? 0x5A03 : 0x5A01, row.firmware));
        applet.reset(new RunningApplet(debug, *simulated));
        ASSERT_TRUE(applet->start()) << "the applet did not start with its hook";
        // A letter that no sequence uses; its X event also lets Wine settle
        // its Scroll Lock toggle before the case starts.
        ASSERT_TRUE(notepad->focus([] {
            notepad->giveXFocus();
            RunUnixCommand("xdotool key z");
        })) << "keys typed with xdotool never reached Notepad";
        // The probe letter is behind us: what the switch gets from here on is the case's.
        ASSERT_TRUE(simulated->catchUp());
        simulated->clearReports();
    }

    void TearDown() override
    {
        RunUnixCommand("xdotool keyup alt ctrl shift");
        applet.reset();
        simulated.reset();
    }

    void type(const char *arguments)
    {
        ASSERT_EQ(RunUnixCommand(std::string("xdotool ") + arguments), 0) << arguments;
    }

    std::vector<SimReport> switchReports()
    {
        std::vector<SimReport> found;
        for (const SimReport &report : simulated->reports()) {
            if (!report.bytes.empty() && report.bytes[0] == SWITCH_REPORT_ID)
                found.push_back(report);
        }
        return found;
    }

    int linesFromApplet(const std::string &line) { return CountOf(debug.linesFrom(applet->pid()), line); }

    void expectSwitchReport(BYTE commandBits, const char *line)
    {
        ASSERT_TRUE(WaitUntil("a switch report", [&] { return !switchReports().empty(); }, REPORT_TIMEOUT_MS,
                              [&] { return everythingSeen(); }));
        // Nothing more comes: one sequence, one report.
        simulated->waitForQuiet(QUIET_MS);
        std::vector<SimReport> reports = switchReports();
        ASSERT_EQ(reports.size(), 1u) << everythingSeen();
        std::vector<BYTE> const &bytes = reports[0].bytes;
        ASSERT_EQ(bytes.size(), 8u);
        EXPECT_EQ(Hex(bytes[1] & ~MUTE_BIT), Hex(commandBits)) << HexBytes(bytes);
        if (applet->startupMuteBit() >= 0) {
            EXPECT_EQ(bytes[1] & MUTE_BIT, applet->startupMuteBit()) << "the mute bit as it stands";
        }
        for (size_t index = 2; index < bytes.size(); ++index)
            EXPECT_EQ(bytes[index], 0) << HexBytes(bytes);
        EXPECT_EQ(linesFromApplet(line), 1);
    }

    // For a failure message: every report at the switch and every applet line.
    std::string everythingSeen()
    {
        std::string seen = "reports at the switch:";
        for (const SimReport &report : simulated->reports())
            seen += "\n  " + HexBytes(report.bytes) + " at " + std::to_string(report.tick);
        seen += "\napplet's debug lines:";
        for (const std::string &line : debug.linesFrom(applet->pid()))
            seen += "\n  " + line;
        return seen;
    }

    static std::unique_ptr<Notepad> notepad;
    CleanRegistry registry;
    DebugListener debug;
    std::unique_ptr<SimulatedSwitch> simulated;
    std::unique_ptr<RunningApplet> applet;
};

std::unique_ptr<Notepad> HotkeyTyping::notepad;

TEST_P(HotkeyTyping, AsTheUserTypes)
{
    TypingCase const &row = GetParam();
    ASSERT_NO_FATAL_FAILURE(type(row.typed));
    if (row.typedLater != nullptr) {
        // Nothing comes while ALT is held.
        Sleep(ALT_HELD_MS);
        EXPECT_TRUE(switchReports().empty()) << "sent while ALT was still held";
        EXPECT_EQ(linesFromApplet("VIDSW!!!\n") + linesFromApplet("SWITCH!!!\n"), 0);
        ASSERT_NO_FATAL_FAILURE(type(row.typedLater));
    }

    switch (row.expect) {
    case SWITCHES_ALL:
        expectSwitchReport(SWITCH_ALL_BITS, "SWITCH!!!\n");
        break;
    case SWITCHES_VIDEO:
        expectSwitchReport(SWITCH_VIDEO_BITS, "VIDSW!!!\n");
        break;
    case SENDS_NOTHING:
    case DOES_NOT_OPTIMIZE:
        // Nothing comes: the windows the keys opened close unanswered first.
        Sleep(NOTHING_SENT_WAIT_MS);
        EXPECT_TRUE(switchReports().empty());
        EXPECT_EQ(linesFromApplet("SWITCH!!!\n") + linesFromApplet("VIDSW!!!\n"), 0);
        EXPECT_EQ(linesFromApplet("Optimize Hotkey Hit\n"), 0);
        ASSERT_NE(row.thenSwitching, nullptr);
        ASSERT_NO_FATAL_FAILURE(type(row.thenSwitching));
        expectSwitchReport(SWITCH_ALL_BITS, "SWITCH!!!\n");
        break;
    case OPTIMIZES:
        EXPECT_TRUE(debug.waitForLine(applet->pid(), "Optimize Hotkey Hit\n", REPORT_TIMEOUT_MS));
        // Nothing more comes: one sequence, one optimisation.
        debug.waitForQuiet(QUIET_MS);
        EXPECT_EQ(linesFromApplet("Optimize Hotkey Hit\n"), 1);
        EXPECT_TRUE(switchReports().empty()) << "optimizing moves nothing";
        break;
    }
}

std::string CaseName(const ::testing::TestParamInfo<TypingCase> &info)
{
    std::string name = std::to_string(info.index) + "_";
    for (const char *c = info.param.name; *c != 0; ++c)
        name += isalnum((unsigned char)*c) ? *c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, HotkeyTyping, ::testing::ValuesIn(cases), CaseName);

}  // namespace
