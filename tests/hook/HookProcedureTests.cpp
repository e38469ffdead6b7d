// The keyboard procedure driven directly. The test process is the applet (it
// calls StartHook with its window, which installs the real system-wide hook)
// and also the application with the keyboard focus: it calls KbHook with the
// arguments the system would pass, and the library's posts land in its own
// queue. HookProbe.exe plays a second application that gets the focus.
#include "AppletProcess.h"
#include "HookHarness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<Posted> Posts;

// Keystroke flags as the system passes them on a US keyboard: repeat count,
// scan code, ALT context (bit 29), previous state (30), transition (31).
LPARAM const A_DOWN = 0x001E0001;
LPARAM const A_REPEAT = 0x401E0001;
LPARAM const A_UP = (LPARAM)0xC01E0001;
LPARAM const ALT_DOWN = 0x20380001;
LPARAM const ALT_REPEAT = 0x60380001;
LPARAM const ALT_UP = (LPARAM)0xC0380001;
LPARAM const F_DOWN_WITH_ALT = 0x20210001;
LPARAM const F_UP_WITH_ALT = (LPARAM)0xE0210001;
LPARAM const SCROLL_UP = (LPARAM)0xC0460001;
LPARAM const SCROLL_UP_WITH_ALT = (LPARAM)0xE0460001;

int const HSHELL_WINDOW_ACTIVATED = 4;
int const HSHELL_WINDOW_CREATED = 1;
DWORD const PROBE_TIMEOUT = 15000;
DWORD const PROBE_FAILED = 0xFFFFFFFF;

class HookProcedureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(LoadQuillhook(&library)) << "Quillhook.dll or one of its exports is missing";
        shared = FindSharedHookData(library.module);
        ASSERT_NE(shared, nullptr);
        ASSERT_NE(target.window(), nullptr);
        hook = library.startHook(target.window());
        ASSERT_NE(hook, nullptr);
        ForgetAlt();
    }
    void TearDown() override
    {
        library.stopHook();
        CollectPosts();
    }

    // Back to a last ALT bit of 0 in this process, as in a process that has
    // just mapped the library.
    void ForgetAlt()
    {
        library.kbHook(HC_ACTION, 'A', A_DOWN);
        CollectPosts();
    }
    Posts Feed(int code, WPARAM virtualKey, LPARAM flags)
    {
        library.kbHook(code, virtualKey, flags);
        return CollectPosts();
    }
    void ExpectCleared()
    {
        EXPECT_EQ(shared->shellHook, nullptr);
        EXPECT_EQ(shared->keyboardHook, nullptr);
        EXPECT_EQ(shared->targetWindow, nullptr);
    }

    QuillhookLibrary library;
    HookTarget target;
    volatile SharedHookData *shared = nullptr;
    HHOOK hook = nullptr;
};

// Feeds events to HookProbe.exe, a process of its own; its exit code, or PROBE_FAILED.
DWORD RunProbe(const std::wstring &events)
{
    AppletProcess probe(events, L"HookProbe.exe");
    DWORD exitCode = PROBE_FAILED;
    if (!probe.start() || !probe.waitForExit(PROBE_TIMEOUT, &exitCode))
        return PROBE_FAILED;
    return exitCode;
}

struct EventRow {
    const char *what;
    int code;
    WPARAM virtualKey;
    LPARAM flags;
    Posts expected;
};

TEST_F(HookProcedureTest, EachEventFromAFreshAltState)
{
    const EventRow rows[] = {
        {"key pressed", HC_ACTION, 'A', A_DOWN, {}},
        {"key released", HC_ACTION, 'A', A_UP, {KeyUp('A', A_UP)}},
        {"release with only the transition bit", HC_ACTION, VK_SCROLL, KEY_RELEASED_BIT,
         {KeyUp(VK_SCROLL, KEY_RELEASED_BIT)}},
        {"release of an unassigned key code", HC_ACTION, 0xE8, A_UP, {KeyUp(0xE8, A_UP)}},
        {"release with bits above the key code", HC_ACTION, 0x10091, SCROLL_UP, {KeyUp(0x10091, SCROLL_UP)}},
        {"release peeked at (HC_NOREMOVE)", HC_NOREMOVE, 'A', A_UP, {}},
        {"release with a negative code", -1, 'A', A_UP, {}},
        {"ALT pressed", HC_ACTION, VK_MENU, ALT_DOWN, {AltState(VK_MENU, ALT_CONTEXT_BIT)}},
        {"ALT press peeked at", HC_NOREMOVE, VK_MENU, ALT_DOWN, {}},
        {"ALT press with a negative code", -1, VK_MENU, ALT_DOWN, {}},
        {"release while ALT is held: the ALT change comes first", HC_ACTION, VK_SCROLL, SCROLL_UP_WITH_ALT,
         {AltState(VK_SCROLL, ALT_CONTEXT_BIT), KeyUp(VK_SCROLL, SCROLL_UP_WITH_ALT)}},
    };
    for (const EventRow &row : rows) {
        SCOPED_TRACE(row.what);
        ForgetAlt();
        EXPECT_EQ(Feed(row.code, row.virtualKey, row.flags), row.expected);
    }
}

struct Step {
    int code;
    WPARAM virtualKey;
    LPARAM flags;
    Posts expected;
};

struct Sequence {
    const char *what;
    std::vector<Step> steps;
};

TEST_F(HookProcedureTest, KeystrokeSequences)
{
    const Sequence sequences[] = {
        {"the menu loop peeks at a release, then takes it",
         {{HC_NOREMOVE, 'A', A_UP, {}}, {HC_NOREMOVE, 'A', A_UP, {}}, {HC_ACTION, 'A', A_UP, {KeyUp('A', A_UP)}}}},
        {"a held key repeats, then is released",
         {{HC_ACTION, 'A', A_DOWN, {}},
          {HC_ACTION, 'A', A_REPEAT, {}},
          {HC_ACTION, 'A', A_REPEAT, {}},
          {HC_ACTION, 'A', A_UP, {KeyUp('A', A_UP)}}}},
        {"ALT pressed, held and released alone",
         {{HC_ACTION, VK_MENU, ALT_DOWN, {AltState(VK_MENU, ALT_CONTEXT_BIT)}},
          {HC_ACTION, VK_MENU, ALT_REPEAT, {}},
          {HC_ACTION, VK_MENU, ALT_UP, {AltState(VK_MENU, 0), KeyUp(VK_MENU, ALT_UP)}},
          {HC_ACTION, 'A', A_DOWN, {}}}},
        {"ALT+F",
         {{HC_ACTION, VK_MENU, ALT_DOWN, {AltState(VK_MENU, ALT_CONTEXT_BIT)}},
          {HC_ACTION, 'F', F_DOWN_WITH_ALT, {}},
          {HC_ACTION, 'F', F_UP_WITH_ALT, {KeyUp('F', F_UP_WITH_ALT)}},
          {HC_ACTION, VK_MENU, ALT_UP, {AltState(VK_MENU, 0), KeyUp(VK_MENU, ALT_UP)}},
          {HC_ACTION, 'A', A_DOWN, {}}}},
        {"peeks do not move the ALT state",
         {{HC_NOREMOVE, VK_MENU, ALT_DOWN, {}},
          {HC_ACTION, VK_MENU, ALT_DOWN, {AltState(VK_MENU, ALT_CONTEXT_BIT)}},
          {HC_NOREMOVE, VK_MENU, ALT_UP, {}},
          {HC_ACTION, VK_MENU, ALT_UP, {AltState(VK_MENU, 0), KeyUp(VK_MENU, ALT_UP)}}}},
    };
    for (const Sequence &sequence : sequences) {
        ForgetAlt();
        for (size_t index = 0; index < sequence.steps.size(); ++index) {
            const Step &step = sequence.steps[index];
            SCOPED_TRACE(testing::Message() << sequence.what << ", step " << index + 1);
            EXPECT_EQ(Feed(step.code, step.virtualKey, step.flags), step.expected);
        }
    }
}

TEST_F(HookProcedureTest, StartHookPublishesItsWindowAndHook)
{
    EXPECT_EQ(shared->shellHook, nullptr);
    EXPECT_EQ(shared->keyboardHook, hook);
    EXPECT_EQ(shared->targetWindow, target.window());
}

TEST_F(HookProcedureTest, KeyUpIsNotPostedWhenTheWindowIsGone)
{
    ASSERT_NE(library.stopHook(), FALSE);
    ASSERT_NE(library.startHook(nullptr), nullptr);
    // IsWindow rejects a null window, yet PostMessage still delivers to it,
    // as a message to this thread: a release posted without the test would
    // show here. The ALT change is posted without that test.
    Posts expected = {Posted{WM_HOOK_ALTSTATE, VK_SCROLL, ALT_CONTEXT_BIT, false}};
    EXPECT_EQ(Feed(HC_ACTION, VK_SCROLL, SCROLL_UP_WITH_ALT), expected);
}

TEST_F(HookProcedureTest, StopHookClearsEverythingAndSilencesTheProcedure)
{
    shared->shellHook = hook;   // no export sets it; StopHook must clear it all the same
    EXPECT_NE(library.stopHook(), FALSE);
    ExpectCleared();
    EXPECT_EQ(Feed(HC_ACTION, VK_SCROLL, SCROLL_UP_WITH_ALT), Posts{});
}

TEST_F(HookProcedureTest, SecondStopHookFailsAndEverythingStaysCleared)
{
    ASSERT_NE(library.stopHook(), FALSE);
    EXPECT_EQ(library.stopHook(), FALSE);
    ExpectCleared();
    EXPECT_EQ(Feed(HC_ACTION, VK_SCROLL, SCROLL_UP_WITH_ALT), Posts{});
}

TEST_F(HookProcedureTest, ShellProcedureIsSilentWithoutItsHook)
{
    EXPECT_EQ(library.quillhook(HSHELL_WINDOW_ACTIVATED, (WPARAM)target.window(), 0x1234), 0);
    EXPECT_EQ(CollectPosts(), Posts{});
}

// Never installed, but exported: were a shell hook ever set, the procedure
// would report activations of live windows to the applet's window.
TEST_F(HookProcedureTest, ShellProcedureReportsActivationOnceItHasAHook)
{
    HookTarget gone;
    HWND goneWindow = gone.window();
    gone.destroy();
    struct Row {
        const char *what;
        bool targetSet;
        int code;
        HWND activated;
        Posts expected;
    } const rows[] = {
        {"a live window activated", true, HSHELL_WINDOW_ACTIVATED, target.window(),
         {Activate((WPARAM)target.window(), 0x1234)}},
        {"a window that is gone", true, HSHELL_WINDOW_ACTIVATED, goneWindow, {}},
        {"another shell event", true, HSHELL_WINDOW_CREATED, target.window(), {}},
        {"no window to tell", false, HSHELL_WINDOW_ACTIVATED, target.window(), {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        shared->shellHook = hook;
        shared->targetWindow = row.targetSet ? target.window() : nullptr;
        library.quillhook(row.code, (WPARAM)row.activated, 0x1234);
        EXPECT_EQ(CollectPosts(), row.expected);
    }
    shared->shellHook = nullptr;
    shared->targetWindow = target.window();
}

TEST_F(HookProcedureTest, AnotherProcessPostsToTheWindowGivenToStartHook)
{
    ASSERT_EQ(RunProbe(L"0 0x91 0xC0460001"), 0u);
    EXPECT_EQ(CollectPosts(), (Posts{KeyUp(VK_SCROLL, SCROLL_UP)}));
}

TEST_F(HookProcedureTest, AltBitIsJudgedAgainstEachProcessesOwnLastValue)
{
    ASSERT_EQ(Feed(HC_ACTION, VK_MENU, ALT_DOWN), (Posts{AltState(VK_MENU, ALT_CONTEXT_BIT)}));

    struct Row {
        const char *what;
        const wchar_t *events;
        Posts expected;
    } const rows[] = {
        {"a first event without ALT elsewhere is no change there", L"0 0x41 0x001E0001", {}},
        {"a first event with ALT elsewhere is a change there", L"0 0x12 0x20380001",
         {AltState(VK_MENU, ALT_CONTEXT_BIT)}},
        {"ALT pressed, held and released elsewhere", L"0 0x12 0x20380001 0 0x12 0x60380001 0 0x12 0xC0380001",
         {AltState(VK_MENU, ALT_CONTEXT_BIT), AltState(VK_MENU, 0), KeyUp(VK_MENU, ALT_UP)}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(RunProbe(row.events), 0u);
        EXPECT_EQ(CollectPosts(), row.expected);
    }

    // Whatever the others reported, this process still holds the bit.
    EXPECT_EQ(Feed(HC_ACTION, 'F', F_DOWN_WITH_ALT), Posts{});
    EXPECT_EQ(Feed(HC_ACTION, VK_MENU, ALT_UP), (Posts{AltState(VK_MENU, 0), KeyUp(VK_MENU, ALT_UP)}));
}

TEST_F(HookProcedureTest, AnotherProcessIsSilentAfterStopHook)
{
    ASSERT_NE(library.stopHook(), FALSE);
    ASSERT_EQ(RunProbe(L"0 0x12 0x20380001 0 0x91 0xE0460001"), 0u);
    EXPECT_EQ(CollectPosts(), Posts{});
}

}  // namespace
