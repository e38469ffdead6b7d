// Verbs on the command line, as a shortcut, a macro key or a script uses
// them: a second start asks the running copy to do what its tray menu does,
// and its exit code says what happened; the switch shows what was sent.
#include "AppletSwitchRig.h"

namespace {

int const DONE = 0, USAGE = 1, NO_COPY = 2, CANNOT = 3;
const char ALL[] = "01 06 00 00 00 00 00 00";
const char AUDIO[] = "01 04 00 00 00 00 00 00";
const char VIDEO[] = "01 02 00 00 00 00 00 00";
// Which monitor is on the switch, and so its size, is the display settings' business.
const char RESOLUTION[] = "03 03 <resolution>";
const char BORDER_ASKED_HERE[] = "03 04 01 01 00 00 00 00";
DWORD const VERB_ENDS_MS = 10000;
const char USAGE_LINE[] = "Usage: VarnelKVM.exe switch | switch audio | switch video | optimize\n";

struct VerbRow {
    const wchar_t *arguments;
    int exitCode;
    std::vector<std::string> reports;
};

class VerbTest : public AppletSwitchTest {
protected:
    // A start of the applet with these arguments; its exit code, -1 when it
    // did not end. Only a wrong verb has anything to say, in one line.
    long runVerb(const wchar_t *arguments)
    {
        AppletProcess verb(arguments);
        DWORD exitCode = 0;
        if (!verb.start() || !verb.waitForExit(VERB_ENDS_MS, &exitCode))
            return -1;
        // The listener hears a line a moment after the writer has gone on.
        EXPECT_TRUE(debug.catchUp());
        std::vector<std::string> said = debug.linesFrom(verb.pid());
        EXPECT_EQ(said, exitCode == (DWORD)USAGE ? std::vector<std::string>{USAGE_LINE} : std::vector<std::string>{});
        return (long)exitCode;
    }

    void runRows(AppletProcess &applet, const std::vector<VerbRow> &rows)
    {
        for (const VerbRow &row : rows) {
            SCOPED_TRACE(Utf8(row.arguments));
            simulator.clearReports();
            long exitCode = runVerb(row.arguments);
            EXPECT_EQ(exitCode, row.exitCode);
            // The verb's answer came once the running copy had done its
            // command; the switch records the writes a moment after.
            EXPECT_TRUE(simulator.catchUp());
            std::vector<std::string> reports = HexReports(simulator);
            std::string seen;
            for (std::string &report : reports) {
                seen += " [" + report + "]";
                if (report.compare(0, 6, "03 03 ") == 0)
                    report = RESOLUTION;
            }
            printf("  %-14s -> exit code %ld,%s\n", Utf8(row.arguments).c_str(), exitCode,
                   seen.empty() ? " no report" : seen.c_str());
            EXPECT_EQ(reports, row.reports);
            EXPECT_TRUE(applet.running());
        }
    }

    static std::string Utf8(const std::wstring &text) { return std::string(text.begin(), text.end()); }
};

TEST_F(VerbTest, EachVerbDoesWhatTheMenuOffersForTheSwitchAttached)
{
    struct Case {
        const char *name;
        USHORT productId;  // 0: no switch
        USHORT firmware;
        std::vector<VerbRow> rows;
    } const cases[] = {
        {"firmware 4", 0x5A04, 0x0400,
         {{L"switch", DONE, {ALL}},
          {L"switch audio", DONE, {AUDIO}},
          {L"switch video", DONE, {VIDEO}},
          {L"optimize", DONE, {RESOLUTION, BORDER_ASKED_HERE}},
          {L"optimize", CANNOT, {}}}},  // the border already shows: the menu's command does nothing either
        {"firmware 3", 0x5A01, 0x0301,
         {{L"switch", DONE, {ALL}},
          {L"switch audio", DONE, {AUDIO}},
          {L"switch video", DONE, {VIDEO}},
          {L"optimize", CANNOT, {}}}},
        {"the no-audio switch", 0x5A05, 0x0301,
         {{L"switch", DONE, {ALL}},
          {L"switch audio", CANNOT, {}},
          {L"switch video", CANNOT, {}},
          {L"optimize", CANNOT, {}}}},
        {"no switch", 0, 0,
         {{L"switch", CANNOT, {}},
          {L"switch audio", CANNOT, {}},
          {L"switch video", CANNOT, {}},
          {L"optimize", CANNOT, {}}}},
    };
    for (const Case &each : cases) {
        SCOPED_TRACE(each.name);
        printf("%s:\n", each.name);
        int id = each.productId != 0 ? simulator.add(SwitchInterface(each.productId, each.firmware, 8)) : -1;
        AppletProcess applet;
        startApplet(applet);
        runRows(applet, each.rows);
        if (id >= 0)
            simulator.unplug(id, SIM_NOTIFY_NONE);
    }
}

// Without a running copy a verb ends at once and starts none; words that are
// no verb, or a verb beside anything else, do nothing at all.
TEST_F(VerbTest, NoRunningCopyUnknownWordsAndVerbsWithSwitches)
{
    simulator.add(SwitchInterface(0x5A01, 0x0301, 8));
    EXPECT_EQ(runVerb(L"switch"), NO_COPY);
    EXPECT_EQ(FindAppletWindow(), nullptr) << "a verb started a copy";

    AppletProcess applet;
    startApplet(applet);
    runRows(applet, {
                        {L"jump", USAGE, {}},
                        {L"switch please", USAGE, {}},
                        {L"switch /x", USAGE, {}},
                        {L"/x switch", USAGE, {}},
                        {L"SWITCH Video", DONE, {VIDEO}},
                    });
}

}  // namespace
