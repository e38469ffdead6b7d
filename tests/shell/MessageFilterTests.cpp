// The message filter of an elevated applet, through its seam: stand-ins for
// the two filter calls record which messages are let through, for which
// window, and that nothing is when the applet is not elevated or this
// Windows has neither call.
#include "shell/AppState.h"
#include "shell/MessageFilter.h"

#include <gtest/gtest.h>
#include <set>

namespace {

struct FilterCall {
    HWND window;
    UINT message;
    DWORD action;
};
std::vector<FilterCall> calls;

BOOL WINAPI PerWindowStandIn(HWND window, UINT message, DWORD action, PCHANGEFILTERSTRUCT)
{
    calls.push_back({window, message, action});
    return TRUE;
}

BOOL WINAPI ProcessWideStandIn(UINT message, DWORD action)
{
    calls.push_back({nullptr, message, action});
    return TRUE;
}

TEST(MessageFilter, ElevatedLetsThroughWhatOrdinaryProgramsSendAndNothingElse)
{
    HWND const window = (HWND)(LONG_PTR)0x4242;
    // The hook's two messages, the restarted shell's, the tray icon's, /x's Exit command and a verb's.
    std::set<UINT> const fromOrdinaryPrograms = {WM_HOOK_KEYUP, WM_HOOK_ALTSTATE,
                                                 RegisterWindowMessageW(L"TaskbarCreated"), WM_TRAY_NOTIFY,
                                                 WM_COMMAND, RegisterWindowMessageW(L"VarnelKVM.Verb")};
    struct Row {
        const char *name;
        bool elevated;
        MessageFilterFunctions functions;
        bool allowed;
        HWND window;  // the window the calls name (the Vista call names none)
        DWORD action;
    } const rows[] = {
        {"elevated, Windows 7 and later", true, {PerWindowStandIn, ProcessWideStandIn}, true, window, MSGFLT_ALLOW},
        {"elevated, Vista", true, {nullptr, ProcessWideStandIn}, true, nullptr, MSGFLT_ADD},
        {"elevated, no filter calls (before Vista)", true, {nullptr, nullptr}, false, nullptr, 0},
        {"not elevated", false, {PerWindowStandIn, ProcessWideStandIn}, false, nullptr, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        calls.clear();
        UINT allowed = AllowMessagesFromOrdinaryPrograms(window, row.elevated, row.functions);
        std::set<UINT> messages;
        for (const FilterCall &call : calls) {
            messages.insert(call.message);
            EXPECT_EQ(call.window, row.window);
            EXPECT_EQ(call.action, row.action);
        }
        EXPECT_EQ(calls.size(), messages.size()) << "a message let through twice";
        EXPECT_EQ(messages, row.allowed ? fromOrdinaryPrograms : std::set<UINT>());
        EXPECT_EQ(allowed, (UINT)messages.size());
    }
}

// Wine gives every process an administrator's elevated token (it has no
// integrity levels and no split tokens), and its user32 has both calls: here
// the applet takes the Windows 7 road at every start.
TEST(MessageFilter, TheTokenAndTheFilterCallsAsThisSystemHasThem)
{
    EXPECT_TRUE(RunsElevated());
    MessageFilterFunctions functions = LoadMessageFilterFunctions();
    EXPECT_NE(functions.perWindow, nullptr);
    EXPECT_NE(functions.processWide, nullptr);
}

}  // namespace
