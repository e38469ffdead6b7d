// No key is ever swallowed. Another system-wide keyboard hook is installed
// first and Quillhook's after it; the newest hook runs first, so every key
// reaches the other hook and the focused window only if Quillhook's
// procedure hands it on. Real key events go in through SendInput, into an
// edit control of this process that has the keyboard focus.
#include "HookHarness.h"
#include "KeyWitness.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <iterator>
#include <utility>
#include <vector>

namespace {

DWORD const KEYS_TIMEOUT = 5000;
DWORD const SETTLE_MS = 200;

void SendKey(WORD virtualKey, bool release)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = (WORD)MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    input.ki.dwFlags = release ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof(input));
}

TEST(HookChain, EveryKeyReachesTheOlderHookAndTheFocusedWindow)
{
    HWND edit = CreateWindowW(L"Edit", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 300, 200, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(edit, nullptr);
    SetForegroundWindow(edit);
    SetFocus(edit);
    ASSERT_TRUE(PumpUntil("the focus in the edit window", [&] { return GetFocus() == edit; }));

    QuillhookLibrary library;
    ASSERT_TRUE(LoadQuillhook(&library));
    HookTarget target;
    ASSERT_NE(WitnessStart(), nullptr);
    ASSERT_NE(library.startHook(target.window()), nullptr);
    CollectPosts();
    WitnessClear();

    // A word, then the Scroll Lock and Control hotkeys.
    const WORD keys[] = {'Q', 'U', 'I', 'L', 'L', VK_SCROLL, VK_SCROLL, VK_CONTROL, VK_CONTROL};
    for (WORD key : keys) {
        SendKey(key, false);
        SendKey(key, true);
    }
    std::vector<Posted> posts = CollectPostsUntil(std::size(keys), KEYS_TIMEOUT);
    // Nothing more comes: one message per release.
    std::vector<Posted> late = CollectPosts(SETTLE_MS);
    posts.insert(posts.end(), late.begin(), late.end());

    std::vector<WitnessedKey> witnessed = WitnessedKeys();
    library.stopHook();
    WitnessStop();

    std::vector<std::pair<DWORD, bool>> sent, seen;
    for (WORD key : keys) {
        sent.push_back({key, false});
        sent.push_back({key, true});
    }
    std::vector<Posted> releasesSeen;
    for (const WitnessedKey &record : witnessed) {
        SCOPED_TRACE(testing::Message() << "key 0x" << std::hex << record.virtualKey << " flags 0x" << record.flags);
        EXPECT_EQ(record.code, HC_ACTION);
        EXPECT_EQ(record.processId, GetCurrentProcessId());
        bool release = (record.flags & KEY_RELEASED_BIT) != 0;
        seen.push_back({record.virtualKey, release});
        if (release)
            releasesSeen.push_back(KeyUp(record.virtualKey, record.flags));
        // Quillhook's release message was already queued when the older hook
        // ran: the two hooks ran in the order this test relies on.
        EXPECT_EQ(record.postWaiting != FALSE, release);
    }
    EXPECT_EQ(seen, sent) << "the older hook missed keys; it was given:\n" << DescribeWitnessed(witnessed);
    EXPECT_EQ(posts, releasesSeen);

    wchar_t text[32] = {};
    GetWindowTextW(edit, text, 32);
    EXPECT_STREQ(text, L"quill");
    DestroyWindow(edit);
}

}  // namespace
