// The running applet and the switch: the tray menu's switching commands, and
// the switch on exit and on shutdown of the variant that asks for them, as the
// simulated switch receives them.
#include "AppletSwitchRig.h"

namespace {

WORD const EXIT_COMMAND = 105;
const char SWITCH_LINE[] = "Sending Switch\n";
const char EXIT_LINE[] = "The app is closing, time to switch\n";
const char SHUTDOWN_LINE[] = "The system is shutting down, time to switch\n";

// The command a switch report carries (bits 1-2 of byte 1); -1 when the bytes
// are not a switch report. Bit 0, the mute state, is the mixer's business.
int SwitchCommandOf(const std::vector<BYTE> &report)
{
    if (report.size() != 8 || report[0] != 1 || (report[1] & 0xF8) != 0)
        return -1;
    for (size_t index = 2; index < report.size(); ++index) {
        if (report[index] != 0)
            return -1;
    }
    return report[1] >> 1;
}

struct Variant {
    DWORD noAudio, noButton, switchOnExit, switchOnShutdown;
};

// Commands are sent, not posted: once handled() has the answer, the applet has
// carried the command out, and once the listener and the switch have caught
// up, its lines and reports are all there.
class SwitchCommandTest : public AppletSwitchTest {
protected:
    // The product variant and the user's settings, then the applet itself.
    void startApplet(const Variant &variant, AppletProcess &applet)
    {
        SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoAudioKestrel", variant.noAudio);
        SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoButtonKestrel", variant.noButton);
        SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnExit", variant.switchOnExit);
        SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnShutdown", variant.switchOnShutdown);
        AppletSwitchTest::startApplet(applet);
    }

    std::vector<std::string> appletLines(AppletProcess &applet)
    {
        EXPECT_TRUE(simulator.catchUp());
        EXPECT_TRUE(debug.catchUp());
        return lines(applet);
    }
};

TEST_F(SwitchCommandTest, TheSwitchingItemsOfBothMenusSendTheirCommand)
{
    int id = simulator.add(SwitchInterface(0x5A04, 0x0400, 8));
    AppletProcess applet;
    startApplet({0, 0, 0, 0}, applet);
    ASSERT_TRUE(simulator.waitForOpenCount(id, 1)) << "the watcher of the switch attached at start-up";
    struct Row {
        WORD command;
        int switchCommand;
    } const rows[] = {
        {32773, 3}, {32779, 2}, {32780, 1},  // menu 129
        {32784, 3}, {32785, 2}, {32786, 1},  // menu 130
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.command);
        simulator.clearReports();
        debug.clear();
        ASSERT_TRUE(applet.handled(WM_COMMAND, row.command));
        std::vector<std::string> lines = appletLines(applet);
        std::vector<SimReport> reports = simulator.reports(id);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(SwitchCommandOf(reports[0].bytes), row.switchCommand) << HexBytes(reports[0].bytes);
        EXPECT_EQ(lines, std::vector<std::string>{SWITCH_LINE});
        EXPECT_EQ(simulator.openCount(id), 1) << "the switch is closed again after each report; the watcher's "
                                                 "handle stays";
    }
}

TEST_F(SwitchCommandTest, WithoutASwitchTheItemsSendNothingAndLogNothing)
{
    simulator.add(HidInterface(L"vid_7e51&pid_5a04&col02", 0x7E51, 0x5A04));
    AppletProcess applet;
    startApplet({0, 0, 0, 0}, applet);
    debug.clear();
    for (WORD command : {32773, 32779, 32780, 32784, 32785, 32786})
        ASSERT_TRUE(applet.handled(WM_COMMAND, command));
    EXPECT_EQ(CountOf(appletLines(applet), SWITCH_LINE), 0);
    EXPECT_TRUE(simulator.writes().empty());
    EXPECT_TRUE(applet.running());
}

// How the applet is told to end: the installers send the Exit command with a
// mark of their own, and expect no switch in the middle of an install.
enum class ExitBy { ExitCommand, Close, InstallersExit };
LPARAM const INSTALLERS_MARK = 0x564B494E;

TEST_F(SwitchCommandTest, OnExitTheVariantSwitchesOnceAndOthersNever)
{
    struct Row {
        const char *name;
        Variant variant;
        ExitBy exitBy;
        bool switches;
    } const rows[] = {
        {"all three set, Exit command", {1, 1, 1, 1}, ExitBy::ExitCommand, true},
        {"all three set, WM_CLOSE", {1, 1, 1, 0}, ExitBy::Close, true},
        {"all three set, an installer's Exit command", {1, 1, 1, 1}, ExitBy::InstallersExit, false},
        {"audio variant, Exit command", {0, 1, 1, 1}, ExitBy::ExitCommand, false},
        {"button variant, Exit command", {1, 0, 1, 1}, ExitBy::ExitCommand, false},
        {"setting off, Exit command", {1, 1, 0, 1}, ExitBy::ExitCommand, false},
        {"audio variant, WM_CLOSE", {0, 1, 1, 1}, ExitBy::Close, false},
        {"button variant, WM_CLOSE", {1, 0, 1, 1}, ExitBy::Close, false},
        {"setting off, WM_CLOSE", {1, 1, 0, 1}, ExitBy::Close, false},
    };
    int id = simulator.add(SwitchInterface(0x5A01, 0x0400, 8));
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        simulator.clearReports();
        debug.clear();
        AppletProcess applet;
        startApplet(row.variant, applet);
        LPARAM mark = row.exitBy == ExitBy::InstallersExit ? INSTALLERS_MARK : 0;
        if (row.exitBy != ExitBy::Close)
            ASSERT_TRUE(applet.post(WM_COMMAND, EXIT_COMMAND, mark));
        else
            ASSERT_TRUE(applet.post(WM_CLOSE));
        DWORD exitCode = 1;
        ASSERT_TRUE(applet.waitForExit(WAIT_MS, &exitCode));
        EXPECT_EQ(exitCode, 0u);

        std::vector<std::string> lines = appletLines(applet);
        std::vector<SimReport> reports = simulator.reports(id);
        if (row.switches) {
            ASSERT_EQ(reports.size(), 1u) << "exactly once per exit";
            EXPECT_EQ(SwitchCommandOf(reports[0].bytes), 3) << HexBytes(reports[0].bytes);
            EXPECT_EQ(CountOf(lines, EXIT_LINE), 1);
            EXPECT_EQ(CountOf(lines, SWITCH_LINE), 1);
        } else {
            EXPECT_TRUE(simulator.writes(id).empty());
            EXPECT_EQ(CountOf(lines, EXIT_LINE), 0);
        }
        CleanRegistry::RemoveAll();
    }
}

TEST_F(SwitchCommandTest, OnShutdownTheVariantSwitchesAndKeepsRunning)
{
    struct Row {
        const char *name;
        Variant variant;
        bool switches;
    } const rows[] = {
        {"all three set", {1, 1, 0, 1}, true},
        {"audio variant", {0, 1, 1, 1}, false},
        {"button variant", {1, 0, 1, 1}, false},
        {"setting off", {1, 1, 1, 0}, false},
    };
    int id = simulator.add(SwitchInterface(0x5A01, 0x0400, 8));
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        simulator.clearReports();
        debug.clear();
        AppletProcess applet;
        startApplet(row.variant, applet);
        // Whatever wParam says: the session may end or not.
        applet.send(WM_ENDSESSION, TRUE, 0);
        applet.send(WM_ENDSESSION, FALSE, 0);

        std::vector<std::string> lines = appletLines(applet);
        std::vector<SimReport> reports = simulator.reports(id);
        if (row.switches) {
            ASSERT_EQ(reports.size(), 2u);
            EXPECT_EQ(SwitchCommandOf(reports[0].bytes), 3) << HexBytes(reports[0].bytes);
            EXPECT_EQ(SwitchCommandOf(reports[1].bytes), 3) << HexBytes(reports[1].bytes);
            EXPECT_EQ(CountOf(lines, SHUTDOWN_LINE), 2);
        } else {
            EXPECT_TRUE(simulator.writes(id).empty());
            EXPECT_EQ(CountOf(lines, SHUTDOWN_LINE), 0);
        }
        EXPECT_EQ(CountOf(lines, EXIT_LINE), 0) << "the exit sequence does not run";
        EXPECT_TRUE(applet.running());
        EXPECT_EQ(FindAppletWindow(applet.pid()), applet.window());
        CleanRegistry::RemoveAll();
    }
}

// The registry says audio variant; meeting a no-audio switch once makes the
// variant that switches at shutdown for the rest of the run, meeting an audio
// one leaves it alone. The shutdown's report goes to the switch attached then.
TEST_F(SwitchCommandTest, TheSwitchMetDecidesTheVariantForTheRestOfTheRun)
{
    for (USHORT met : {0x5A05, 0x5A01}) {
        bool noAudio = met == 0x5A05;
        SCOPED_TRACE(noAudio ? "a no-audio switch met" : "an audio switch met");
        int metSwitch = simulator.add(SwitchInterface(met, 0x0400, 8));
        int laterSwitch = simulator.add(Unplugged(SwitchInterface(0x5A01, 0x0400, 8)));
        AppletProcess applet;
        startApplet({0, 1, 0, 1}, applet);

        ASSERT_TRUE(applet.handled(WM_COMMAND, 32784));
        ASSERT_TRUE(simulator.waitForReports(1, WAIT_MS, metSwitch));
        simulator.unplug(metSwitch, SIM_NOTIFY_NONE);
        simulator.plug(laterSwitch, SIM_NOTIFY_NONE);
        debug.clear();

        applet.send(WM_ENDSESSION, TRUE, 0);
        std::vector<std::string> lines = appletLines(applet);
        std::vector<SimReport> reports = simulator.reports(laterSwitch);
        if (noAudio) {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(SwitchCommandOf(reports[0].bytes), 3);
        } else {
            EXPECT_TRUE(simulator.writes(laterSwitch).empty());
        }
        EXPECT_EQ(CountOf(lines, SHUTDOWN_LINE), noAudio ? 1 : 0);
        simulator.unplug(laterSwitch, SIM_NOTIFY_NONE);
        CleanRegistry::RemoveAll();
    }
}

// Wine reports Windows 98 to the applet alone: it then matches the switch
// through HKLM "Enum\HID" and the serial numbers there.
class OldWindowsVersion {
public:
    OldWindowsVersion() { SetRegistryValue(HKEY_CURRENT_USER, KEY, L"Version", REG_SZ, L"win98", sizeof(L"win98")); }
    ~OldWindowsVersion() { DeleteRegistryTree(HKEY_CURRENT_USER, KEY); }

private:
    static constexpr const wchar_t *KEY = L"Software\\Wine\\AppDefaults\\VarnelKVM.exe";
};

TEST_F(SwitchCommandTest, OnWindows98TheSwitchIsFoundByItsSerial)
{
    OldWindowsVersion windows98;
    simulator.addSerialKey(L"VID_7E51&PID_5A01&COL01", L"1&2b3c&0", {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE});
    int bySerial = simulator.add(HidInterface(L"vid_7e51&pid_5a01&fedcba9876543210", 0x7E51, 0x5A01));
    AppletProcess applet;
    startApplet({0, 0, 0, 0}, applet);
    ASSERT_TRUE(applet.handled(WM_COMMAND, 32784));
    ASSERT_TRUE(simulator.waitForReports(1, WAIT_MS, bySerial));

    // Without its serial key the same kind of path is not the switch there.
    simulator.unplug(bySerial, SIM_NOTIFY_NONE);
    int withoutKey = simulator.add(SwitchInterface(0x5A01, 0x0400, 8));
    simulator.clearReports();
    ASSERT_TRUE(applet.handled(WM_COMMAND, 32784));
    ASSERT_TRUE(simulator.catchUp());
    EXPECT_TRUE(simulator.writes(withoutKey).empty());
}

}  // namespace
