// Start-up and exit as the user, the shell and a second copy see them: single
// instance, the command-line switches, the settings key, the exit paths.
#include "AppletProcess.h"
#include "DebugListener.h"
#include "Registry.h"

#include <gtest/gtest.h>

namespace {

DWORD const EXIT_TIMEOUT = 10000;
// Named exactly so, forward slashes and all: one key right under HKLM.
wchar_t const SAFE_BOOT_KEY[] = L"/System/CurrentControlSet/Control/Safeboot/Minimal";

class StartupTest : public ::testing::Test {
protected:
    CleanRegistry registry;
    DebugListener debug;

    // Starts a copy and waits for its hidden window.
    void startRunning(AppletProcess &applet)
    {
        ASSERT_TRUE(applet.start());
        ASSERT_NE(applet.waitForWindow(), nullptr) << "the applet's window never appeared";
    }

    // Expects the copy to end by itself, at once, with exit code 0.
    void expectEndsAtOnce(AppletProcess &applet)
    {
        DWORD exitCode = 1234;
        ASSERT_TRUE(applet.waitForExit(EXIT_TIMEOUT, &exitCode)) << "the applet did not end";
        EXPECT_EQ(exitCode, 0u);
    }
};

TEST_F(StartupTest, SecondStartEndsAtOnceAndLeavesTheFirstRunning)
{
    AppletProcess first;
    startRunning(first);

    AppletProcess second;
    ASSERT_TRUE(second.start());
    expectEndsAtOnce(second);
    EXPECT_TRUE(first.running());
    EXPECT_EQ(FindAppletWindow(first.pid()), first.window());
    EXPECT_EQ(FindAppletWindow(second.pid()), nullptr);
}

TEST_F(StartupTest, SlashXWithNoCopyRunningEndsBeforeTouchingTheSettings)
{
    AppletProcess alone(L"/x");
    ASSERT_TRUE(alone.start());
    expectEndsAtOnce(alone);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_KEY));
}

// A second start with "/x" ends the running copy through its exit sequence.
// The switch counts wherever its text occurs, case-sensitively: inside a
// longer word, inside the program's own path, but not in upper case.
TEST_F(StartupTest, SwitchesAreFoundAnywhereAndCaseSensitively)
{
    struct Row {
        const wchar_t *arguments;
        const wchar_t *commandLine;  // the whole command line as the caller wrote it, or null
        bool endsTheRunningCopy;
    } const rows[] = {
        {L"/x", nullptr, true},
        {L"/xylophone", nullptr, true},
        {L"--mode=/x", nullptr, true},
        {L"/X", nullptr, false},
        {L"-x x/ /s", nullptr, false},
        // The first word of the command line is the program as the caller named it.
        {L"", L"\"Z:/xtools/VarnelKVM.exe\"", true},
    };
    for (const Row &row : rows) {
        const wchar_t *said = row.commandLine != nullptr ? row.commandLine : row.arguments;
        SCOPED_TRACE(testing::Message() << "command line: " << std::string(said, said + wcslen(said)));
        AppletProcess first;
        startRunning(first);
        AppletProcess second(row.arguments);
        if (row.commandLine != nullptr)
            second.setCommandLine(row.commandLine);
        ASSERT_TRUE(second.start());
        expectEndsAtOnce(second);
        if (row.endsTheRunningCopy) {
            expectEndsAtOnce(first);
        } else {
            // Nothing ends the first.
            EXPECT_FALSE(first.waitForExit(500));
        }
    }
}

// "/s" marks a start at system start-up: it ends at once when "Run on System
// Startup" is off, but only once the settings key exists, and in safe mode
// before it touches the settings; without "/s" neither stops a start.
TEST_F(StartupTest, StartAtBootEndsWhenRunOnStartupIsOffOrInSafeMode)
{
    enum Key { KEY_NOT_LOOKED_AT, KEY_MADE, KEY_MADE_EMPTY, NO_KEY };
    struct Row {
        const char *name;
        bool runOnStartupOff;
        bool safeMode;
        const wchar_t *arguments;
        bool endsAtOnce;
        Key key;
    } const rows[] = {
        {"/s, Run on System Startup off", true, false, L"/s", true, KEY_MADE},
        {"/s, no value: it runs, and writes nothing without a variant flag", false, false, L"/s", false,
         KEY_MADE_EMPTY},
        {"an ordinary start, Run on System Startup off", true, false, L"", false, KEY_NOT_LOOKED_AT},
        {"/s in safe mode", false, true, L"/s", true, NO_KEY},
        {"an ordinary start in safe mode", false, true, L"", false, KEY_NOT_LOOKED_AT},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CleanRegistry::RemoveAll();
        if (row.runOnStartupOff)
            SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"RunOnStartupKey", 0);
        HKEY safeBoot = nullptr;
        if (row.safeMode) {
            ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, SAFE_BOOT_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &safeBoot, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(safeBoot);
        }
        AppletProcess applet(row.arguments);
        if (row.endsAtOnce) {
            ASSERT_TRUE(applet.start());
            expectEndsAtOnce(applet);
        } else {
            startRunning(applet);
        }
        if (row.key != KEY_NOT_LOOKED_AT)
            EXPECT_EQ(RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_KEY), row.key != NO_KEY);
        if (row.key == KEY_MADE_EMPTY)
            EXPECT_TRUE(RegistryValueNames(HKEY_CURRENT_USER, SETTINGS_KEY).empty());
        if (row.safeMode)
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, SAFE_BOOT_KEY);
    }
}

TEST_F(StartupTest, VariantFlagCreatesTheSwitchOnValuesWithTheirDefaults)
{
    SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoButtonKestrel", 1);
    AppletProcess applet;
    startRunning(applet);
    EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnShutdown"), 1u);
    EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnExit"), 0u);
    EXPECT_EQ(RegistryValueNames(HKEY_CURRENT_USER, SETTINGS_KEY).size(), 2u);
    // The variant key is only ever read.
    EXPECT_EQ(RegistryValueNames(HKEY_LOCAL_MACHINE, VARIANT_KEY).size(), 1u);
}

TEST_F(StartupTest, StoredSwitchOnValuesAreKept)
{
    SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoAudioKestrel", 1);
    SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnShutdown", 0);
    SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnExit", 7);
    AppletProcess applet;
    startRunning(applet);
    EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnShutdown"), 0u);
    EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnExit"), 7u);
}

TEST_F(StartupTest, DiagnosticLineBeforeTheHookIsInstalled)
{
    AppletProcess applet;
    startRunning(applet);
    ASSERT_TRUE(applet.waitForStartUp(debug));
    ASSERT_TRUE(debug.catchUp());
    EXPECT_EQ(debug.linesFrom(applet.pid()), std::vector<std::string>{"Starting the hook\n"});
}

TEST_F(StartupTest, ExitCommandAndCloseEndTheProcessWithCodeZero)
{
    struct Row {
        const char *name;
        UINT message;
        WPARAM wParam;
    } const rows[] = {
        {"Exit command", WM_COMMAND, 105},
        {"WM_CLOSE", WM_CLOSE, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        AppletProcess applet;
        startRunning(applet);
        ASSERT_TRUE(applet.post(row.message, row.wParam, 0));
        expectEndsAtOnce(applet);
        EXPECT_EQ(FindAppletWindow(applet.pid()), nullptr);
    }
}

TEST_F(StartupTest, EndSessionLeavesTheAppletRunning)
{
    AppletProcess applet;
    startRunning(applet);
    for (WPARAM ending : {TRUE, FALSE})
        applet.send(WM_ENDSESSION, ending, 0);
    // Nothing ends it.
    EXPECT_FALSE(applet.waitForExit(500));
    EXPECT_EQ(FindAppletWindow(applet.pid()), applet.window());

    // It still answers its Exit command afterwards.
    ASSERT_TRUE(applet.post(WM_COMMAND, 105, 0));
    expectEndsAtOnce(applet);
}

}  // namespace
