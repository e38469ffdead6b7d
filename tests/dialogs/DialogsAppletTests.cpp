// The applet's own dialogs, opened from its menu commands in its own process:
// one Options and one About at a time, Cancel felt at exit, and the sounds
// box on Windows 2000 and XP as Wine reports them to the applet.
#include "AppletProcess.h"
#include "DebugListener.h"
#include "DialogDriver.h"
#include "Wait.h"
#include "SoundScheme.h"

#include <gtest/gtest.h>

namespace {

WORD const IDM_ABOUT = 104;
WORD const IDM_EXIT = 105;
WORD const IDM_OPTIONS = 32776;
wchar_t const OPTIONS_CAPTION[] = L"Options...";
wchar_t const ABOUT_CAPTION[] = L"About Kestrel";
std::string const EXIT_SWITCH_LINE = "The app is closing, time to switch\n";
wchar_t const WINE_APP_DEFAULTS[] = L"Software\\Wine\\AppDefaults\\VarnelKVM.exe";

testing::AssertionResult WaitForNoDialog(DWORD processId, const wchar_t *caption, DWORD timeoutMs = 5000)
{
    return PumpUntil("the dialog to close", [&] { return VisibleDialogs(processId, caption).empty(); }, timeoutMs);
}

class DialogsAppletTest : public ::testing::Test {
protected:
    CleanRegistry registry;
    DebugListener debug;
    AppletProcess applet;

    void startApplet()
    {
        ASSERT_TRUE(applet.start());
        ASSERT_NE(applet.waitForWindow(), nullptr) << "the applet's window never appeared";
    }

    // Clicks a control of a dialog in the applet, as the mouse would.
    static void ClickIn(HWND dialog, int control)
    {
        HWND button = GetDlgItem(dialog, control);
        ASSERT_NE(button, nullptr) << control;
        ASSERT_TRUE(IsWindowVisible(button) && IsWindowEnabled(button)) << control << " cannot be clicked";
        DWORD_PTR result = 0;
        SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &result);
    }
};

// A second "Options..." or "About..." brings the open dialog to the front;
// once closed, the next one opens afresh.
TEST_F(DialogsAppletTest, OneOptionsAndOneAboutAtATime)
{
    startApplet();
    applet.post(WM_COMMAND, IDM_OPTIONS);
    HWND options = WaitForDialog(applet.pid(), OPTIONS_CAPTION);
    ASSERT_NE(options, nullptr);
    applet.post(WM_COMMAND, IDM_OPTIONS);
    applet.post(WM_COMMAND, IDM_ABOUT);
    HWND about = WaitForDialog(applet.pid(), ABOUT_CAPTION);
    ASSERT_NE(about, nullptr);
    applet.post(WM_COMMAND, IDM_ABOUT);
    applet.post(WM_COMMAND, IDM_OPTIONS);
    // Nothing more comes: no second dialog of either.
    PumpMessagesFor(1500);
    EXPECT_EQ(VisibleDialogs(applet.pid(), OPTIONS_CAPTION).size(), 1u);
    EXPECT_EQ(VisibleDialogs(applet.pid(), ABOUT_CAPTION).size(), 1u);
    EXPECT_EQ(GetForegroundWindow(), options) << "the last request was for Options";

    ClickIn(about, IDOK);
    ClickIn(options, IDCANCEL);
    ASSERT_TRUE(WaitForNoDialog(applet.pid(), OPTIONS_CAPTION));
    applet.post(WM_COMMAND, IDM_OPTIONS);
    options = WaitForDialog(applet.pid(), OPTIONS_CAPTION);
    ASSERT_NE(options, nullptr) << "a closed Options still counts as open";
    ClickIn(options, IDCANCEL);
}

// The switch-on-exit box ticked and then cancelled, or left unconfirmed at exit,
// does not switch when the applet closes; ticked and confirmed, it does.
TEST_F(DialogsAppletTest, ACancelledSwitchOnExitDoesNotSwitchAtExit)
{
    for (int confirm : {IDCANCEL, IDOK, 0}) {  // 0: Options is still open at exit
        SCOPED_TRACE(confirm == IDOK ? "OK" : confirm == IDCANCEL ? "Cancel" : "still open");
        CleanRegistry::RemoveAll();
        SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoAudioKestrel", 1);
        SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoButtonKestrel", 1);
        AppletProcess variant;
        ASSERT_TRUE(variant.start());
        ASSERT_NE(variant.waitForWindow(), nullptr);
        variant.post(WM_COMMAND, IDM_OPTIONS);
        HWND options = WaitForDialog(variant.pid(), OPTIONS_CAPTION);
        ASSERT_NE(options, nullptr);
        ClickIn(options, 1016);
        if (confirm != 0) {
            ClickIn(options, confirm);
            ASSERT_TRUE(WaitForNoDialog(variant.pid(), OPTIONS_CAPTION));
        }
        variant.post(WM_COMMAND, IDM_EXIT);
        ASSERT_TRUE(variant.waitForExit(10000));
        ASSERT_TRUE(debug.catchUp());
        size_t lines = 0;
        for (const std::string &line : debug.linesFrom(variant.pid()))
            lines += line == EXIT_SWITCH_LINE ? 1 : 0;
        EXPECT_EQ(lines, confirm == IDOK ? 1u : 0u);
    }
}

// Wine tells the applet alone which Windows it runs on. On Windows 2000 the
// sounds box is hidden and OK leaves the sounds alone; on XP it shows them
// on, and unticked and confirmed it turns them off.
TEST_F(DialogsAppletTest, TheSoundsBoxExistsFromWindowsXP)
{
    SoundSchemeSandbox scheme;
    if (!scheme.ours())
        GTEST_SKIP() << "this user has device sounds of its own; they are left alone";
    struct VersionOverride {
        ~VersionOverride() { DeleteRegistryTree(HKEY_CURRENT_USER, WINE_APP_DEFAULTS); }
    } override;
    struct Row {
        const wchar_t *version;
        const char *state;
        bool untick;
    } const rows[] = {{L"win2k", "hidden", false}, {L"winxp", "checked", true}};
    wchar_t const sound[] = L"C:\\Windows\\Media\\Windows Hardware Insert.wav";
    SetSoundValue(CONNECT_CURRENT, nullptr, REG_SZ, sound);
    SetSoundValue(DISCONNECT_CURRENT, nullptr, REG_SZ, sound);
    std::string const playing = DescribeSoundValue(CONNECT_CURRENT, nullptr);
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.version, row.version + wcslen(row.version)));
        SetRegistryValue(HKEY_CURRENT_USER, WINE_APP_DEFAULTS, L"Version", REG_SZ, row.version,
                         (DWORD)(wcslen(row.version) + 1) * sizeof(wchar_t));
        AppletProcess older;
        ASSERT_TRUE(older.start());
        ASSERT_NE(older.waitForWindow(), nullptr);
        older.post(WM_COMMAND, IDM_OPTIONS);
        HWND options = WaitForDialog(older.pid(), OPTIONS_CAPTION);
        ASSERT_NE(options, nullptr);
        EXPECT_EQ(ControlState(options, 1006), row.state);
        if (row.untick)
            ClickIn(options, 1006);
        ClickIn(options, IDOK);
        ASSERT_TRUE(WaitForNoDialog(older.pid(), OPTIONS_CAPTION));
        std::string const expected = row.untick ? "1:0:" : playing;
        EXPECT_EQ(DescribeSoundValue(CONNECT_CURRENT, nullptr), expected);
        EXPECT_EQ(DescribeSoundValue(DISCONNECT_CURRENT, nullptr), expected);
    }
}

}  // namespace
