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

TEST_F(StartupTest, SlashXEndsTheRunningCopyThroughItsExitSequence)
{
    AppletProcess first;
    startRunning(first);

    AppletProcess second(L"/x");
    ASSERT_TRUE(second.start());
    expectEndsAtOnce(second);
    expectEndsAtOnce(first);
}

TEST_F(StartupTest, SlashXWithNoCopyRunningEndsBeforeTouchingTheSettings)
{
    AppletProcess alone(L"/x");
    ASSERT_TRUE(alone.start());
    expectEndsAtOnce(alone);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_KEY));
}

// A switch counts wherever its text occurs, case-sensitively: inside a longer
// word, inside the program's own path, but not in upper case.
TEST_F(StartupTest, SwitchesAreFoundAnywhereAndCaseSensitively)
{
    struct Row {
        const wchar_t *arguments;
        bool endsTheRunningCopy;
    } const rows[] = {
        {L"/xylophone", true},
        {L"--mode=/x", true},
        {L"/X", false},
        {L"-x x/ /s", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "arguments: " << std::string(row.arguments, row.arguments + wcslen(row.arguments)));
        AppletProcess first;
        startRunning(first);
        AppletProcess second(row.arguments);
        ASSERT_TRUE(second.start());
        expectEndsAtOnce(second);
        if (row.endsTheRunningCopy) {
            expectEndsAtOnce(first);
        } else {
            EXPECT_FALSE(first.waitForExit(500));
        }
    }
}

TEST_F(StartupTest, SlashXInsideTheProgramPathCounts)
{
    AppletProcess first;
    startRunning(first);

    AppletProcess second;
    // The first word of the command line is the program as the caller named it.
    second.setCommandLine(L"\"Z:/xtools/VarnelKVM.exe\"");
    ASSERT_TRUE(second.start());
    expectEndsAtOnce(second);
    expectEndsAtOnce(first);
}

TEST_F(StartupTest, StartAtBootEndsWhenRunOnStartupIsOffButOnlyAfterTheKeyExists)
{
    SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"RunOnStartupKey", 0);
    AppletProcess atBoot(L"/s");
    ASSERT_TRUE(atBoot.start());
    expectEndsAtOnce(atBoot);
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_KEY));
}

TEST_F(StartupTest, StartAtBootRunsWithoutTheValueAndCreatesTheKey)
{
    AppletProcess atBoot(L"/s");
    startRunning(atBoot);
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_KEY));
    EXPECT_TRUE(RegistryValueNames(HKEY_CURRENT_USER, SETTINGS_KEY).empty())
        << "nothing is written without a variant flag";
}

TEST_F(StartupTest, RunOnStartupOffDoesNotStopAnOrdinaryStart)
{
    SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"RunOnStartupKey", 0);
    AppletProcess plain;
    startRunning(plain);
}

TEST_F(StartupTest, StartAtBootInSafeModeEndsBeforeTheSettings)
{
    HKEY safeBoot = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, SAFE_BOOT_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &safeBoot, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(safeBoot);

    AppletProcess atBoot(L"/s");
    ASSERT_TRUE(atBoot.start());
    expectEndsAtOnce(atBoot);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_KEY));

    // Without "/s" safe mode plays no part.
    AppletProcess plain;
    startRunning(plain);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, SAFE_BOOT_KEY);
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
    ASSERT_TRUE(debug.waitForLine(applet.pid(), "Starting the hook\n"));
    debug.waitForQuiet();
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
    EXPECT_FALSE(applet.waitForExit(500));
    EXPECT_EQ(FindAppletWindow(applet.pid()), applet.window());

    // It still answers its Exit command afterwards.
    ASSERT_TRUE(applet.post(WM_COMMAND, 105, 0));
    expectEndsAtOnce(applet);
}

}  // namespace
