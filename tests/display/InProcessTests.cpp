// The display code in this process: the stored monitor choice, the prompts,
// the border timer's end, and the frame the border loop draws, on a memory
// surface the size of the monitor.
#include "DisplayTestSupport.h"
#include "FrameSurface.h"
#include "Wait.h"
#include "Registry.h"
#include "display/Display.h"
#include "shell/Shell.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class DisplayInProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        appState = AppState();
        appState.instance = GetModuleHandleW(nullptr);
        appState.borderEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    void TearDown() override
    {
        CloseMonitorPrompts(true);
        CloseHandle(appState.borderEvent);
        if (appState.borderTimerId != TIMER_NOT_RUNNING)
            KillTimer(nullptr, appState.borderTimerId);
    }

    static MONITORINFOEXW Primary()
    {
        MONITORINFOEXW info = {};
        info.cbSize = sizeof(info);
        GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
        return info;
    }

    CleanRegistry registry;
};

TEST_F(DisplayInProcess, TheStoredChoiceMatchesExactly)
{
    std::wstring name = Primary().szDevice;
    std::wstring lower = name;
    for (wchar_t &c : lower)
        c = towlower(c);
    struct Row {
        const char *name;
        bool present;
        std::wstring stored;
        bool withTerminator;
        int chosen;
    };
    Row const rows[] = {
        {"nothing stored", false, L"", false, 0},
        {"stored without terminator, as the applet writes it", true, name, false, 1},
        {"stored with a terminator, as another writer might", true, name, true, 1},
        {"another letter case", true, lower, false, 0},
        {"a longer name that begins the same", true, name + L"0", false, 0},
        {"a shorter name", true, name.substr(0, name.size() - 1), false, 0},
        {"an empty name", true, L"", false, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CleanRegistry::RemoveAll();
        if (row.present)
            StoreChoice(L"DefaultDisplay", row.stored, row.withTerminator);
        EXPECT_EQ(IsChosenMonitor(name.c_str()), row.chosen);
    }
}

TEST_F(DisplayInProcess, SavingStoresBareCharactersAndTheMonitorCount)
{
    ASSERT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, SETTINGS_KEY));
    EXPECT_EQ(SaveChosenMonitor(L"\\\\.\\DISPLAY2"), 0);
    DWORD type = 0;
    EXPECT_EQ(StoredValue(L"DefaultDisplay", &type), TextBytes(L"\\\\.\\DISPLAY2")) << "12 characters, 24 bytes";
    EXPECT_EQ(type, (DWORD)REG_MULTI_SZ);
    EXPECT_EQ(StoredValue(L"NumDisplays", &type), TextBytes(std::to_wstring(GetSystemMetrics(SM_CMONITORS))));
    EXPECT_EQ(type, (DWORD)REG_MULTI_SZ);
    EXPECT_EQ(IsChosenMonitor(L"\\\\.\\DISPLAY2"), 1);
}

// One prompt per monitor, centred in its work area, in the UI language; OK on
// one stores the monitor under it and closes every prompt, a second set too.
TEST_F(DisplayInProcess, OkOnAPromptStoresItsMonitorAndClosesAllPrompts)
{
    Bystander otherProgram(false);
    PromptForPrimaryMonitor();
    PromptForPrimaryMonitor();
    std::vector<HWND> prompts = PromptWindows(GetCurrentProcessId());
    ASSERT_EQ(prompts.size(), 2u * GetSystemMetrics(SM_CMONITORS));

    MONITORINFOEXW primary = Primary();
    HWND prompt = prompts.front();
    RECT area = {};
    GetWindowRect(prompt, &area);
    int width = area.right - area.left, height = area.bottom - area.top;
    EXPECT_EQ(area.left, primary.rcWork.left + ((primary.rcWork.right - primary.rcWork.left) - width) / 2);
    EXPECT_EQ(area.top, primary.rcWork.top + ((primary.rcWork.bottom - primary.rcWork.top) - height) / 2);
    wchar_t text[128] = {};
    GetWindowTextW(prompt, text, 128);
    EXPECT_STREQ(text, L"Primary Monitor");
    GetDlgItemTextW(prompt, -1, text, 128);
    EXPECT_STREQ(text, L"This Is My Primary Monitor Connected To The KVM");
    GetDlgItemTextW(prompt, IDOK, text, 128);
    EXPECT_STREQ(text, L"OK");
    EXPECT_EQ(GetWindowLongPtrW(prompt, GWL_STYLE) & WS_SYSMENU, 0) << "no close box";

    SendMessageW(prompt, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(PumpUntil("the prompts to close", [] { return PromptWindows(GetCurrentProcessId()).empty(); }));
    EXPECT_EQ(StoredValue(L"DefaultDisplay"), TextBytes(primary.szDevice));
    EXPECT_EQ(otherProgram.closeMessagesSeen(), 0) << "the prompts' message went to another program";
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list)
{
    ((std::vector<LANGID> *)list)->push_back(language);
    return TRUE;
}

// The prompt's sentence is seen whole in every language, on its one line,
// with OK still near the middle.
TEST_F(DisplayInProcess, ThePromptShowsItsWholeSentenceInEveryLanguage)
{
    std::vector<LANGID> languages;
    WORD const promptTextBlock = 132 / 16 + 1;
    EnumResourceLanguagesW(GetModuleHandleW(nullptr), RT_STRING, MAKEINTRESOURCEW(promptTextBlock), CollectLanguage,
                           (LONG_PTR)&languages);
    ASSERT_EQ(languages.size(), 10u);
    for (LANGID language : languages) {
        SCOPED_TRACE(std::to_string(language));
        appState.uiLanguage = language;
        // Never shown: under Wine without a window manager, hiding a shown window takes a second.
        HWND prompt = CreateMonitorPrompt(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY));
        ASSERT_NE(prompt, nullptr);
        HWND line = GetDlgItem(prompt, -1);
        wchar_t text[128] = {};
        int length = GetWindowTextW(line, text, 128);
        HDC dc = GetDC(line);
        HGDIOBJ previous = SelectObject(dc, (HFONT)SendMessageW(line, WM_GETFONT, 0, 0));
        SIZE needed = {};
        GetTextExtentPoint32W(dc, text, length, &needed);
        SelectObject(dc, previous);
        ReleaseDC(line, dc);
        RECT lineArea = {}, promptArea = {}, okArea = {};
        GetClientRect(line, &lineArea);
        EXPECT_LE(needed.cx, lineArea.right) << "the sentence is cut off";
        GetClientRect(prompt, &promptArea);
        GetWindowRect(GetDlgItem(prompt, IDOK), &okArea);
        MapWindowPoints(nullptr, prompt, (POINT *)&okArea, 2);
        EXPECT_GT(okArea.left, promptArea.right / 4) << "OK is not near the middle";
        EXPECT_LT(okArea.right, promptArea.right * 3 / 4) << "OK is not near the middle";
        DestroyWindow(prompt);
    }
}

// When the border's time is up, prompts still open close without a choice,
// and no other program is sent the prompts' message.
TEST_F(DisplayInProcess, TheBorderTimerClosesOpenPromptsOnly)
{
    Bystander otherProgram(false);
    PromptForPrimaryMonitor();
    ASSERT_FALSE(PromptWindows(GetCurrentProcessId()).empty());
    appState.borderOn = 1;
    OnBorderTimer();
    EXPECT_EQ(appState.borderOn, 0u);
    EXPECT_TRUE(PumpUntil("the prompts to close", [] { return PromptWindows(GetCurrentProcessId()).empty(); }));
    EXPECT_TRUE(StoredValue(L"DefaultDisplay").empty());
    // Nothing comes to the other program.
    PumpMessagesFor(200);
    EXPECT_EQ(otherProgram.closeMessagesSeen(), 0) << "the prompts' message went to another program";
}

// A display change while the border shows: a new loop draws it where the monitor is now, and its
// time runs on (a restarted timer would replace the id that stands for the running one here).
TEST_F(DisplayInProcess, ADisplayChangeRedrawsTheShowingBorderWithoutGivingItNewTime)
{
    appState.deviceAttributes.VersionNumber = 0x0400;
    appState.borderOn = 1;
    appState.borderTimerId = 0x7E51;
    LONG drawing = CurrentBorderLoop();
    OnDisplayChange();
    EXPECT_EQ(CurrentBorderLoop(), drawing + 1) << "the old loop goes on with its old rectangle";
    EXPECT_EQ(appState.borderTimerId, (UINT_PTR)0x7E51);
    appState.borderTimerId = TIMER_NOT_RUNNING;
    EndBorderForExit();
    // Under Wine a loop's DirectDraw set-up can outlast the exit's bound on a
    // busy machine, and this process must not end in the middle of it.
    WaitForBorderLoops(60000);
}

// A loop that a newer one replaced ends and leaves the stop signal alone: it
// may be meant for the loop that draws now.
TEST_F(DisplayInProcess, AReplacedLoopLeavesTheStopSignalToTheCurrentOne)
{
    FrameSurface surface(64, 64);
    SetBorderEvent(appState.borderEvent);
    SetEvent(appState.borderEvent);
    EXPECT_FALSE(DrawBorderOn(surface.dc(), CurrentBorderLoop() - 1)) << "no loop ran";
    EXPECT_EQ(WaitForSingleObject(appState.borderEvent, 0), (DWORD)WAIT_OBJECT_0) << "the signal was cleared";
    SetBorderEvent(nullptr);
}

// A single monitor gets its frame whatever name is stored; the frame is three
// white pixels along the inside of each edge and nothing else.
TEST_F(DisplayInProcess, TheLoopDrawsAThreePixelWhiteFrameRoundTheMonitor)
{
    if (GetSystemMetrics(SM_CMONITORS) != 1)
        GTEST_SKIP() << "the two-monitor tests cover this display";
    MONITORINFOEXW primary = Primary();
    int width = primary.rcMonitor.right - primary.rcMonitor.left;
    int height = primary.rcMonitor.bottom - primary.rcMonitor.top;
    for (const wchar_t *stored : {L"", L"\\\\.\\DISPLAY7"}) {
        SCOPED_TRACE(std::string("stored name of ") + std::to_string(wcslen(stored)) + " characters");
        if (*stored != L'\0')
            StoreChoice(L"DefaultDisplay", stored);
        FrameSurface surface(width, height);
        LoopOutcome outcome = DrawBorderOnSurface(surface);
        EXPECT_TRUE(outcome.ended);
        EXPECT_FALSE(outcome.result) << "the enumeration stops at the monitor it drew on";
        EXPECT_EQ(FrameMismatches(surface, RECT{0, 0, width, height}), "");
    }
}

}  // namespace
