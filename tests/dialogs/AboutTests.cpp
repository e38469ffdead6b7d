// The About dialog as the user sees it: the program's version, the switch's
// firmware as the applet knows it, the caption in the user's language, and
// every way of closing it.
#include "DialogDriver.h"
#include "dialogs/Dialogs.h"
#include "shell/Shell.h"

#include <gtest/gtest.h>

namespace {

struct AboutLines {
    std::wstring caption, software, firmware, ok;
};

class AboutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        appState = AppState();
        appState.instance = GetModuleHandleW(nullptr);
    }

    void language(LANGID uiLanguage)
    {
        appState.uiLanguage = uiLanguage;
        LoadUiString(IDS_PRODUCT_NAME, appState.windowTitle);
    }

    AboutLines open()
    {
        AboutLines lines;
        DialogRun run = DriveModalDialog([] { ShowAboutDialog(nullptr); }, [&](HWND dialog) {
            lines = {WindowText(dialog), ControlText(dialog, 1000), ControlText(dialog, 1001), ControlText(dialog, 1)};
            Click(dialog, IDOK);
        });
        EXPECT_TRUE(run.appeared && run.closedByScript);
        return lines;
    }
};

// The test program carries the applet's version block, 1.1.6.0.
TEST_F(AboutTest, ShowsTheSoftwareAndFirmwareVersions)
{
    struct Row {
        USHORT productId, version;
        const wchar_t *firmware;
    } const rows[] = {
        {0, 0x0400, L"Kestrel Not Attached"},
        {0x5A01, 0x0400, L"Firmware Version 4.0"},
        {0x5A04, 0x040A, L"Firmware Version 4.a"},
        {0x5A02, 0x0301, L"Firmware Version 3.1"},
        {0x5A01, 0x0C1F, L"Firmware Version c.1f"},
    };
    language(0x0409);
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.productId << " " << row.version);
        appState.deviceAttributes.ProductID = row.productId;
        appState.deviceAttributes.VersionNumber = row.version;
        AboutLines lines = open();
        EXPECT_EQ(lines.caption, L"About Kestrel");
        EXPECT_EQ(lines.software, L"Software Version 1.1.6.0");
        EXPECT_EQ(lines.firmware, row.firmware);
        EXPECT_EQ(lines.ok, L"OK");
    }
}

// OK ends it with 1; Escape and the close box arrive as command 2 (the icon
// control's identifier) and end it with 2.
TEST_F(AboutTest, OkEscapeAndTheCloseBoxCloseIt)
{
    struct Row {
        const char *name;
        std::function<void(HWND)> close;
        INT_PTR result;
    } const rows[] = {
        {"OK", [](HWND dialog) { Click(dialog, IDOK); }, IDOK},
        {"Escape", [](HWND dialog) { PostMessageW(GetDlgItem(dialog, IDOK), WM_KEYDOWN, VK_ESCAPE, 0); }, IDCANCEL},
        {"close box", [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        INT_PTR result = -1;
        DialogRun run = DriveModalDialog(
            [&] { result = DialogBoxParamW(appState.instance, MAKEINTRESOURCEW(IDD_ABOUT), nullptr, AboutDlgProc, 0); },
            row.close);
        EXPECT_TRUE(run.appeared && run.closedByScript);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(OpenAboutDialog(), nullptr) << "a closed dialog still counts as open";
    }
}

}  // namespace
