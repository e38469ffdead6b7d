// The switch's input report as the watcher hands it over: which reports
// become border requests to the main window, and the lines each one logs.
#include "DebugListener.h"
#include "Wait.h"
#include "device/Device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

wchar_t const FIRST_CLASS[] = L"MorvaxInputReportTest";
wchar_t const SECOND_CLASS[] = L"MorvaxInputReportTest2";

struct Posted {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Posted> posted;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TURN_BORDER_ON || message == WM_TURN_BORDER_OFF) {
        posted.push_back({window, message, wParam, lParam});
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeWindow(const wchar_t *className)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RecordingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    return CreateWindowW(className, L"", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

class InputReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        appState = AppState();
        first = MakeWindow(FIRST_CLASS);
        second = MakeWindow(SECOND_CLASS);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(first);
        DestroyWindow(second);
    }

    DebugListener debug;
    HWND first = nullptr;
    HWND second = nullptr;
};

TEST_F(InputReportTest, BorderRequestsGoToTheWindowOfTheApplet)
{
    struct Row {
        const char *name;
        std::vector<BYTE> report;
        DWORD transferred;
        const wchar_t *className;
        std::vector<std::string> lines;
        UINT message;  // 0: nothing posted
    } const rows[] = {
        {"03 00: border off", {3, 0, 0, 0, 0, 0, 0, 0}, 8, FIRST_CLASS,
         {"3 0 0 0 0 : 0x0\n", "KVM Asked to turn border OFF\n"}, WM_TURN_BORDER_OFF},
        {"03 01: border on", {3, 1, 0, 0, 0, 0, 0, 0}, 8, FIRST_CLASS,
         {"3 1 0 0 0 : 0x1\n", "KVM Asked to turn border ON\n"}, WM_TURN_BORDER_ON},
        {"03 01 with more bytes", {3, 1, 2, 0xAB, 0xFF, 9, 9, 9}, 8, FIRST_CLASS,
         {"3 1 2 ab ff : 0x201\n", "KVM Asked to turn border ON\n"}, WM_TURN_BORDER_ON},
        {"03 07: unknown command", {3, 7, 0, 0, 0, 0, 0, 0}, 8, FIRST_CLASS,
         {"3 7 0 0 0 : 0x7\n", "KVM Sent an unknown command 7\n"}, 0},
        {"03 1f: unknown command", {3, 0x1F, 0, 0, 0, 0, 0, 0}, 8, FIRST_CLASS,
         {"3 1f 0 0 0 : 0x1f\n", "KVM Sent an unknown command 1f\n"}, 0},
        {"02 01: another report", {2, 1, 0, 0, 0, 0, 0, 0}, 8, FIRST_CLASS, {}, 0},
        {"nothing transferred", {3, 1, 0, 0, 0, 0, 0, 0}, 0, FIRST_CLASS, {}, 0},
        {"only the report id transferred", {3, 1, 0, 0, 0, 0, 0, 0}, 1, FIRST_CLASS, {}, 0},
        {"report id and command transferred", {3, 0, 0, 0, 0, 0, 0, 0}, 2, FIRST_CLASS,
         {"3 0 0 0 0 : 0x0\n", "KVM Asked to turn border OFF\n"}, WM_TURN_BORDER_OFF},
        {"the window is looked up afresh", {3, 0, 0, 0, 0, 0, 0, 0}, 8, SECOND_CLASS,
         {"3 0 0 0 0 : 0x0\n", "KVM Asked to turn border OFF\n"}, WM_TURN_BORDER_OFF},
        {"no window of the class", {3, 1, 0, 0, 0, 0, 0, 0}, 8, L"NoSuchWindowClass",
         {"3 1 0 0 0 : 0x1\n", "KVM Asked to turn border ON\n"}, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        lstrcpynW(appState.className, row.className, UI_STRING_CHARS);
        posted.clear();
        debug.clear();

        // What it posted to this thread's windows is queued when it returns:
        // one pass of the pump delivers it.
        HandleInputReport(row.report.data(), row.transferred);
        PumpMessagesFor(0);
        EXPECT_EQ(debug.ownLines(), row.lines);
        if (row.message == 0) {
            EXPECT_TRUE(posted.empty());
        } else {
            ASSERT_EQ(posted.size(), 1u);
            EXPECT_EQ(posted[0].message, row.message);
            EXPECT_EQ(posted[0].window, row.className == SECOND_CLASS ? second : first);
            EXPECT_EQ(posted[0].wParam, 0u);
            EXPECT_EQ(posted[0].lParam, 0);
        }
    }
}

}  // namespace
