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

// A second start ends at once; with "/x" it ends the running copy through its
// exit sequence, and leaves it running otherwise. The switch counts wherever
// its text occurs, case-sensitively: inside a longer word, inside the
// program's own path, but not in upper case.
TEST_F(StartupTest, ASecondStartEndsAtOnceAndWithSlashXEndsTheFirst)
{
    struct Row {
        const wchar_t *arguments;
        const wchar_t *commandLine;  // the whole command line as the caller wrote it, or null
        bool endsTheRunningCopy;
    } const rows[] = {
        {L"", nullptr, false},
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
            EXPECT_EQ(FindAppletWindow(first.pid()), first.window());
            EXPECT_EQ(FindAppletWindow(second.pid()), nullptr);
        }
    }
}

// "/x" with no copy running ends at once, before it touches the settings.
// "/s" marks a start at system start-up: it ends at once when "Run on System
// Startup" is off, but only once the settings key exists, and in safe mode
// before it touches the settings; without "/s" neither stops a start.
TEST_F(StartupTest, AStartEndsAtOnceOnlyWhereItsSwitchesAndTheSettingsSaySo)
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
        {"/x with no copy running", false, false, L"/x", true, NO_KEY},
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
        if (row.key != KEY_NOT_LOOKED_AT) {
            EXPECT_EQ(RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_KEY), row.key != NO_KEY);
        }
        if (row.key == KEY_MADE_EMPTY) {
            EXPECT_TRUE(RegistryValueNames(HKEY_CURRENT_USER, SETTINGS_KEY).empty());
        }
        if (row.safeMode)
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, SAFE_BOOT_KEY);
    }
}

// The variants with the switching features create the switch-on values with
// their defaults when they are missing, and keep them when they are stored;
// the variant key is only ever read.
TEST_F(StartupTest, TheVariantsSwitchOnValuesAreCreatedWithTheirDefaultsOrKept)
{
    struct Row {
        const wchar_t *variantFlag;
        bool stored;  // kestrelOnShutdown 0 and kestrelOnExit 7 stored before the start
        DWORD onShutdown, onExit;
    } const rows[] = {
        {L"NoButtonKestrel", false, 1, 0},
        {L"NoAudioKestrel", true, 0, 7},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.variantFlag, row.variantFlag + wcslen(row.variantFlag)));
        CleanRegistry::RemoveAll();
        SetRegistryDword(HKEY_LOCAL_MACHINE, VARIANT_KEY, row.variantFlag, 1);
        if (row.stored) {
            SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnShutdown", 0);
            SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnExit", 7);
        }
        AppletProcess applet;
        startRunning(applet);
        EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnShutdown"), row.onShutdown);
        EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnExit"), row.onExit);
        EXPECT_EQ(RegistryValueNames(HKEY_CURRENT_USER, SETTINGS_KEY).size(), 2u);
        EXPECT_EQ(RegistryValueNames(HKEY_LOCAL_MACHINE, VARIANT_KEY).size(), 1u);
    }
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
