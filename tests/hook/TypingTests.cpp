// Real keys, end to end: Wine's Notepad has the keyboard focus, xdotool types
// on the X display, and Quillhook's hook, mapped into Notepad's process by
// the system, posts to the window of this process that called StartHook.
// KeyWitness's hook, installed first and so run after Quillhook's, records
// what the chain was given, in Notepad's process.
//
// How many releases one keystroke gives under Wine: the hook is called once
// each time an application takes a key message from its queue (HC_ACTION),
// and once more each time it only peeks at one (HC_NOREMOVE), as Notepad's
// menu loop does after ALT; the library ignores the peeks. xdotool sends one
// press and one release per key, and a held key repeats presses only. What
// adds releases is Wine's Scroll Lock bookkeeping on Xvfb: the X server has
// no modifier for Scroll_Lock, so X never reports it "on", and at the next X
// event of any other key Wine puts its own toggle back with a made-up Scroll
// Lock press and release (release and press while the key is held). So an odd
// number of Scroll Lock presses comes back with one extra release: after
// "key Scroll_Lock" the next other key brings it, and with "key
// alt+Scroll_Lock" (xdotool lets go of ALT first) it comes at the ALT
// release. The cases here press Scroll Lock in pairs, as the hotkey does.
#include "HookHarness.h"
#include "KeyWitness.h"
#include "Notepad.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

typedef std::vector<Posted> Posts;

DWORD const KEYS_TIMEOUT = 5000;
DWORD const SETTLE_MS = 300;

class TypingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(GetFileAttributesW(L"Z:\\usr\\bin\\xdotool"), INVALID_FILE_ATTRIBUTES)
            << "xdotool is not installed (scripts/setup-debian.sh)";
        ASSERT_TRUE(LoadQuillhook(&library));
        ASSERT_NE(WitnessStart(), nullptr);
        ASSERT_NE(library.startHook(target.window()), nullptr);
        ASSERT_TRUE(notepad.started()) << "Notepad showed no window";
        // A Shift typed on the X display, witnessed in Notepad: from then on
        // xdotool's keys reach Notepad.
        ASSERT_TRUE(notepad.focus(
            [&] {
                EXPECT_EQ(notepad.giveXFocus(), 0);
                WitnessClear();
                EXPECT_EQ(RunUnixCommand("xdotool key shift"), 0);
            },
            [&] {
                for (const WitnessedKey &record : WitnessedKeys())
                    if (record.processId == notepad.processId() && record.virtualKey == VK_SHIFT &&
                        (record.flags & KEY_RELEASED_BIT) != 0)
                        return true;
                return false;
            }));
        CollectPosts();
        WitnessClear();
    }
    void TearDown() override
    {
        if (HasFailure()) {
            HWND foreground = GetForegroundWindow();
            DWORD owner = 0;
            GetWindowThreadProcessId(foreground, &owner);
            printf("Notepad is process %lu; the foreground window %p belongs to process %lu.\n"
                   "The hook chain was given, since the last clear:\n%s",
                   notepad.processId(), (void *)foreground, owner, DescribeWitnessed(WitnessedKeys()).c_str());
        }
        library.stopHook();
        WitnessStop();
        CollectPosts();
    }

    // Types with xdotool and returns what the library posted: the expected
    // number of messages, and whatever else arrives before things go quiet
    // (nothing more must come: each release is reported once).
    Posts Type(const std::string &arguments, size_t expected)
    {
        EXPECT_EQ(RunUnixCommand("xdotool " + arguments), 0) << arguments;
        Posts posts = CollectPostsUntil(expected, KEYS_TIMEOUT);
        Posts late = CollectPosts(SETTLE_MS);
        posts.insert(posts.end(), late.begin(), late.end());
        return posts;
    }

    // One release message for each release an application took (HC_ACTION),
    // with the key and flags the hook was given.
    static Posts ReleasesTaken(const std::vector<WitnessedKey> &records)
    {
        Posts releases;
        for (const WitnessedKey &record : records)
            if (record.code == HC_ACTION && (record.flags & KEY_RELEASED_BIT) != 0)
                releases.push_back(KeyUp(record.virtualKey, record.flags));
        return releases;
    }
    static Posts OnlyReleases(const Posts &posts)
    {
        Posts releases;
        for (const Posted &posted : posts)
            if (posted.message == WM_HOOK_KEYUP)
                releases.push_back(posted);
        return releases;
    }

    QuillhookLibrary library;
    HookTarget target;
    Notepad notepad;
};

TEST_F(TypingTest, TypedWordReachesNotepadAndEachReleaseIsReportedOnce)
{
    Posts posts = Type("type quill", 5);
    std::vector<WitnessedKey> witnessed = WitnessedKeys();

    ASSERT_EQ(posts.size(), 5u);
    const WPARAM word[] = {'Q', 'U', 'I', 'L', 'L'};
    for (size_t index = 0; index < posts.size(); ++index) {
        SCOPED_TRACE(testing::Message() << "letter " << index + 1);
        EXPECT_EQ(posts[index].message, WM_HOOK_KEYUP);
        EXPECT_EQ(posts[index].wParam, word[index]);
    }
    EXPECT_EQ(posts, ReleasesTaken(witnessed));
    // Every press and release went down the chain past Quillhook's hook, in Notepad.
    size_t taken = 0;
    for (const WitnessedKey &record : witnessed) {
        EXPECT_EQ(record.processId, notepad.processId());
        taken += record.code == HC_ACTION;
    }
    EXPECT_EQ(taken, 10u);
    EXPECT_EQ(notepad.text(), L"quill");
}

// Keys typed and the library's messages expected for them, in order: each
// release once, with the flags the chain was given and, where a row names
// bits, those set; each change of the ALT state exactly. ALT held while
// Scroll Lock is pressed twice is the hotkey that moves video and input only.
// ALT+F opens Notepad's File menu, whose loop peeks at each key before it
// takes it, releases included: the library reports only the taking. ALT alone
// leaves the menu bar active, so it comes last.
TEST_F(TypingTest, EachReleaseIsReportedOnceAndEachChangeOfTheAltState)
{
    struct Row {
        const char *keys;
        Posts expected;  // a release's lParam: the bits it must carry
        bool menuPeeks;  // Notepad's menu peeks at these releases
    } const rows[] = {
        {"key Scroll_Lock Scroll_Lock", {KeyUp(VK_SCROLL, KEY_RELEASED_BIT), KeyUp(VK_SCROLL, KEY_RELEASED_BIT)}},
        {"key ctrl ctrl shift", {KeyUp(VK_CONTROL, 0), KeyUp(VK_CONTROL, 0), KeyUp(VK_SHIFT, 0)}},
        {"keydown alt key Scroll_Lock Scroll_Lock keyup alt",
         {AltState(VK_MENU, ALT_CONTEXT_BIT), KeyUp(VK_SCROLL, ALT_CONTEXT_BIT), KeyUp(VK_SCROLL, ALT_CONTEXT_BIT),
          AltState(VK_MENU, 0), KeyUp(VK_MENU, 0)}},
        {"key alt+f", {AltState(VK_MENU, ALT_CONTEXT_BIT), AltState(VK_MENU, 0), KeyUp(VK_MENU, 0), KeyUp('F', 0)}, true},
        {"key Escape", {KeyUp(VK_ESCAPE, 0)}, true},
        {"key alt", {AltState(VK_MENU, ALT_CONTEXT_BIT), AltState(VK_MENU, 0), KeyUp(VK_MENU, 0)}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.keys);
        WitnessClear();
        Posts posts = Type(row.keys, row.expected.size());
        std::vector<WitnessedKey> witnessed = WitnessedKeys();
        if (row.menuPeeks) {
            size_t peekedReleases = 0;
            for (const WitnessedKey &record : witnessed)
                peekedReleases += record.code == HC_NOREMOVE && (record.flags & KEY_RELEASED_BIT) != 0;
            ASSERT_GT(peekedReleases, 0u) << "Notepad's menu no longer peeks at releases; this row checks nothing";
        }
        ASSERT_EQ(posts.size(), row.expected.size());
        for (size_t index = 0; index < posts.size(); ++index) {
            SCOPED_TRACE(testing::Message() << "message " << index + 1);
            const Posted &expected = row.expected[index];
            if (expected.message == WM_HOOK_ALTSTATE) {
                EXPECT_EQ(posts[index], expected);
            } else {
                EXPECT_EQ(posts[index].message, expected.message);
                EXPECT_EQ(posts[index].wParam, expected.wParam);
                EXPECT_EQ(posts[index].lParam & expected.lParam, expected.lParam) << "bits a release carries";
            }
        }
        EXPECT_EQ(OnlyReleases(posts), ReleasesTaken(witnessed));
    }
}

TEST_F(TypingTest, HeldKeyRepeatsButIsReportedOnceOnRelease)
{
    Posts posts = Type("keydown a sleep 0.8 keyup a", 1);
    std::vector<WitnessedKey> witnessed = WitnessedKeys();

    size_t repeats = 0;
    for (const WitnessedKey &record : witnessed)
        repeats += record.code == HC_ACTION && (record.flags & KEY_RELEASED_BIT) == 0 &&
                   (record.flags & KEY_WAS_DOWN_BIT) != 0;
    ASSERT_GT(repeats, 0u) << "the X server did not repeat the held key; this case would check nothing";

    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].message, WM_HOOK_KEYUP);
    EXPECT_EQ(posts[0].wParam, (WPARAM)'A');
    EXPECT_EQ(posts, ReleasesTaken(witnessed));
    EXPECT_EQ(notepad.text(), std::wstring(repeats + 1, L'a'));
}

}  // namespace
