// The applet declares itself DPI aware per monitor (system-wide on older Windows), so that Windows tells it
// real pixels at any display scaling: the switch hears the true resolution and
// the frame lies on the monitor's edge. Wine does not scale sizes for programs
// that are not DPI aware (and reports every window, aware or not, as aware
// per monitor), so nothing here can show the scaling itself: the manifest is
// read the way the system reads it when the applet starts.
#include "AppletProcess.h"  // BinaryFolder

#include <gtest/gtest.h>

#include <string>

namespace {

WORD const MANIFEST_ID = 1;

wchar_t const SETTINGS_2005[] = L"http://schemas.microsoft.com/SMI/2005/WindowsSettings";
wchar_t const SETTINGS_2016[] = L"http://schemas.microsoft.com/SMI/2016/WindowsSettings";

std::wstring Setting(HANDLE context, const wchar_t *settingsNamespace, const wchar_t *name)
{
    wchar_t value[64] = {};
    SIZE_T written = 0;
    if (!QueryActCtxSettingsW(0, context, settingsNamespace, name, value, 64, &written))
        return L"<none>";
    return value;
}

TEST(DpiAwareness, TheManifestDeclaresPerMonitorAwarenessWithSystemAsFallback)
{
    std::wstring program = BinaryFolder() + L"\\VarnelKVM.exe";
    ACTCTXW description = {};
    description.cbSize = sizeof(description);
    description.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    description.lpSource = program.c_str();
    description.lpResourceName = MAKEINTRESOURCEW(MANIFEST_ID);
    HANDLE context = CreateActCtxW(&description);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "the manifest does not parse: " << GetLastError();
    EXPECT_EQ(Setting(context, SETTINGS_2005, L"dpiAware"), L"true");
    EXPECT_EQ(Setting(context, SETTINGS_2016, L"dpiAwareness"), L"PerMonitorV2, system");
    ReleaseActCtx(context);
}

}  // namespace
