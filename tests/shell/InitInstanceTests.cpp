// Start-up and the exit sequence driven in this process, where the applet's
// record can be looked at: settings as stored in any type, the variant flags,
// the hotkey timers, and what the exit paths undo.
#include "Wait.h"
#include "Registry.h"
#include "shell/Shell.h"
#include "KbHook/Quillhook.h"

#include <gtest/gtest.h>

namespace {

class InProcessApplet : public ::testing::Test {
protected:
    CleanRegistry registry;

    void SetUp() override
    {
        appState = AppState();
        LoadUiString(IDS_CLASS_NAME, appState.windowTitle);
        LoadUiString(IDS_CLASS_NAME, appState.className);
        RegisterMainWindowClass(GetModuleHandleW(nullptr));
    }

    void TearDown() override
    {
        if (appState.mainWindow != nullptr && IsWindow(appState.mainWindow))
            RunExitSequence(false);
        // The optimize timer outlives the exit sequence; this process goes on.
        StopThreadTimer(&appState.optimizeTimerId);
        DrainQuit();
    }

    // Starts from a fresh record, as the applet's entry point does.
    bool start()
    {
        appState = AppState();
        LoadUiString(IDS_CLASS_NAME, appState.windowTitle);
        LoadUiString(IDS_CLASS_NAME, appState.className);
        return InitInstance(GetModuleHandleW(nullptr), SW_HIDE) != FALSE;
    }

    // Removes the WM_QUIT the exit sequence posted; its exit code, or -1 without one.
    static int DrainQuit()
    {
        int exitCode = -1;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                exitCode = (int)message.wParam;
            else
                DispatchMessageW(&message);
        }
        return exitCode;
    }
};

TEST_F(InProcessApplet, MissingValuesGiveTheDefaultsAndAMissingKeyIsCreated)
{
    for (bool parentExists : {false, true}) {
        SCOPED_TRACE(parentExists ? "parent key present" : "no key at all");
        CleanRegistry::RemoveAll();
        if (parentExists)
            SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_PARENT, L"unrelated", 5);
        ASSERT_TRUE(start());
        EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_KEY));
        EXPECT_EQ(appState.runOnStartup, 1u);
        EXPECT_EQ(appState.enableKeys, 1u);
        EXPECT_EQ(appState.activeKey, 17u);
        EXPECT_EQ(appState.enableKeysOptimize, 1u);
        EXPECT_EQ(appState.activeKeyOptimize, 145u);
        EXPECT_EQ(appState.switchOnShutdown, 0u);
        EXPECT_EQ(appState.switchOnExit, 0u);
        EXPECT_EQ(appState.noAudio, 0u);
        EXPECT_EQ(appState.noButton, 0u);
        EXPECT_FALSE(appState.startedAtBoot);
        EXPECT_TRUE(RegistryValueNames(HKEY_CURRENT_USER, SETTINGS_KEY).empty());
        RunExitSequence(false);
        EXPECT_EQ(DrainQuit(), 0);
    }
}

// A value as stored (its type and bytes) and the number read from it.
struct StoredValueRow {
    const char *name;
    DWORD type;
    std::vector<BYTE> data;
    DWORD expected;
};

// A setting is the first four bytes of whatever is stored, little-endian;
// shorter data is padded with zeros, never with stray bytes.
TEST_F(InProcessApplet, SettingsAreReadWhateverTheirType)
{
    StoredValueRow const rows[] = {
        {"dword", REG_DWORD, {0x90, 0, 0, 0}, 144},
        {"binary of four", REG_BINARY, {0x78, 0x56, 0x34, 0x12}, 0x12345678},
        {"binary of two", REG_BINARY, {0x91, 0x00}, 0x91},
        {"binary of one", REG_BINARY, {0x11}, 0x11},
        {"binary of none", REG_BINARY, {}, 0},
        {"binary of six", REG_BINARY, {1, 2, 3, 4, 5, 6}, 0x04030201},
        {"qword", REG_QWORD, {0x2a, 0, 0, 0, 0x99, 0, 0, 0}, 42},
        {"string \"1\"", REG_SZ, {'1', 0, 0, 0}, 0x31},
        {"big-endian dword", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 0x11}, 0x11000000},
    };
    for (const StoredValueRow &row : rows) {
        SCOPED_TRACE(row.name);
        CleanRegistry::RemoveAll();
        // Poison the stack the read buffer will use, so stray bytes would show.
        volatile BYTE poison[4096];
        for (size_t i = 0; i < sizeof(poison); ++i)
            poison[i] = 0xCC;
        SetRegistryValue(HKEY_CURRENT_USER, SETTINGS_KEY, L"ActiveKey", row.type, row.data.data(),
                         (DWORD)row.data.size());
        ASSERT_TRUE(start());
        EXPECT_EQ(appState.activeKey, row.expected);
        RunExitSequence(false);
        DrainQuit();
    }
}

// The variant flags are read into four bytes: a longer value does not fit,
// counts as unreadable and leaves the flag at 0.
TEST_F(InProcessApplet, VariantFlagsAreReadIntoFourBytes)
{
    StoredValueRow const rows[] = {
        {"dword 1", REG_DWORD, {1, 0, 0, 0}, 1},
        {"dword 0", REG_DWORD, {0, 0, 0, 0}, 0},
        {"binary of two", REG_BINARY, {0x02, 0x01}, 0x0102},
        {"string \"1\" (four bytes with its terminator)", REG_SZ, {'1', 0, 0, 0}, 0x31},
        {"qword 1 (too long)", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, 0},
    };
    for (const StoredValueRow &row : rows) {
        SCOPED_TRACE(row.name);
        CleanRegistry::RemoveAll();
        SetRegistryValue(HKEY_LOCAL_MACHINE, VARIANT_KEY, L"NoAudioKestrel", row.type, row.data.data(),
                         (DWORD)row.data.size());
        ASSERT_TRUE(start());
        EXPECT_EQ(appState.noAudio, row.expected);
        EXPECT_EQ(appState.noButton, 0u);
        bool flagged = row.expected != 0;
        EXPECT_EQ(RegistryValueExists(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnShutdown"), flagged);
        EXPECT_EQ(RegistryValueExists(HKEY_CURRENT_USER, SETTINGS_KEY, L"kestrelOnExit"), flagged);
        if (flagged) {
            EXPECT_EQ(appState.switchOnShutdown, 1u);
            EXPECT_EQ(appState.switchOnExit, 0u);
        }
        RunExitSequence(false);
        DrainQuit();
    }
}

TEST_F(InProcessApplet, HotkeyTimersFollowTheirSettings)
{
    struct Row {
        const char *name;
        DWORD enableKeys, enableKeysOptimize;
    } const rows[] = {
        {"both on", 1, 1},
        {"switching off", 0, 1},
        {"optimize off", 1, 0},
        {"both off", 0, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CleanRegistry::RemoveAll();
        SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"EnableKeys", row.enableKeys);
        SetRegistryDword(HKEY_CURRENT_USER, SETTINGS_KEY, L"EnableKeys_Optimize", row.enableKeysOptimize);
        ASSERT_TRUE(start());
        EXPECT_EQ(appState.sequenceTimerId != TIMER_NOT_RUNNING, row.enableKeys != 0);
        EXPECT_EQ(appState.optimizeTimerId != TIMER_NOT_RUNNING, row.enableKeysOptimize != 0);
        // A running timer really is one: stopping it succeeds exactly once.
        if (row.enableKeysOptimize) {
            EXPECT_TRUE(KillTimer(nullptr, appState.optimizeTimerId));
            EXPECT_FALSE(KillTimer(nullptr, appState.optimizeTimerId));
            appState.optimizeTimerId = TIMER_NOT_RUNNING;
        }
        RunExitSequence(false);
        DrainQuit();
    }
}

// Feeds the installed hook one key release, as a process taking keyboard input would.
static void HookSeesKeyRelease()
{
    auto keyboardHook = (HOOKPROC)GetProcAddress(GetModuleHandleW(L"Quillhook.dll"), "_KbHook@12");
    ASSERT_NE(keyboardHook, nullptr);
    keyboardHook(HC_ACTION, 'A', (LPARAM)0xC01E0001);
}

// Leaves any WM_QUIT in place: the system hands it out whatever the filter.
static bool KeyReleasePosted()
{
    MSG message;
    if (!PeekMessageW(&message, nullptr, WM_HOOK_KEYUP, WM_HOOK_KEYUP, PM_NOREMOVE))
        return false;
    if (message.message == WM_QUIT)
        return false;
    PeekMessageW(&message, nullptr, WM_HOOK_KEYUP, WM_HOOK_KEYUP, PM_REMOVE);
    return true;
}

TEST_F(InProcessApplet, DestroyingTheWindowRunsTheExitSequence)
{
    ASSERT_TRUE(start());
    HookSeesKeyRelease();
    EXPECT_TRUE(KeyReleasePosted()) << "the hook was not installed for the main window";
    UINT_PTR sequenceTimer = appState.sequenceTimerId;

    DestroyWindow(appState.mainWindow);

    EXPECT_FALSE(IsWindow(appState.mainWindow));
    EXPECT_FALSE(KillTimer(nullptr, sequenceTimer)) << "the sequence timer is still running";
    HookSeesKeyRelease();
    EXPECT_FALSE(KeyReleasePosted()) << "the hook still reports keys";
    EXPECT_EQ(DrainQuit(), 0);
}

TEST_F(InProcessApplet, EndSessionLeavesWindowTimersAndHookInPlace)
{
    ASSERT_TRUE(start());
    SendMessageW(appState.mainWindow, WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(IsWindow(appState.mainWindow));
    EXPECT_NE(appState.sequenceTimerId, TIMER_NOT_RUNNING);
    HookSeesKeyRelease();
    EXPECT_TRUE(KeyReleasePosted());
    EXPECT_EQ(DrainQuit(), -1) << "no quit was asked for";
}

TEST_F(InProcessApplet, AltStateMessageSetsVideoOnly)
{
    ASSERT_TRUE(start());
    SendMessageW(appState.mainWindow, WM_HOOK_ALTSTATE, VK_MENU, 0x20000000);
    EXPECT_EQ(appState.videoOnly, 1u);
    SendMessageW(appState.mainWindow, WM_HOOK_ALTSTATE, 'A', 0);
    EXPECT_EQ(appState.videoOnly, 0u);
}

}  // namespace
