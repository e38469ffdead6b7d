// The applet on each Windows version it tells apart, in a Wine prefix set to
// that version with "winecfg -v" (across-versions.sh runs this program once
// per version, naming it in VARNEL_WINDOWS_VERSION). On every version it must
// start, show its tray icon and switch; below Windows 2000 it finds the switch
// through the serial numbers under HKLM "Enum\HID" instead of its device path;
// Options offers the device sounds from XP on, and the control pipe keeps
// other computers out from Vista on.
#include "DebugListener.h"
#include "Wait.h"
#include "TrayHarness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The versions the applet branches on, and what each should show.
struct WindowsVersion {
    const char *name;               // as "winecfg -v" takes it
    DWORD major;
    DWORD minor;
    bool findsSwitchBySerial;       // the device search's registry path, below 5.0
    bool offersSoundsCheckBox;      // from 5.1
    bool pipeRefusesRemoteClients;  // from 6.0
};

WindowsVersion const VERSIONS[] = {
    {"win98", 4, 10, true, false, false},
    {"win2k", 5, 0, false, false, false},
    {"winxp", 5, 1, false, true, false},
    {"winxp64", 5, 2, false, true, false},
    {"vista", 6, 0, false, true, true},
    {"win7", 6, 1, false, true, true},
    {"win10", 10, 0, false, true, true},
};

WPARAM const MENU_SWITCH_ALL = 32784;
WPARAM const MENU_OPTIONS = 32776;
int const SOUNDS_CHECK_BOX = 1006;
wchar_t const OPTIONS_CAPTION[] = L"Options...";
DWORD const REPORT_WAIT_MS = 5000;
// A serial number as the old registry keeps it (8 bytes, little-endian) and
// as it then appears, in hexadecimal, in the device's path.
BYTE const SERIAL[] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
wchar_t const SERIAL_PATH_ID[] = L"vid_7e51&pid_5a04&fedcba9876543210";
wchar_t const SWITCH_DEVICE_KEY[] = L"VID_7E51&PID_5A04&COL01";
wchar_t const FOREIGN_DEVICE_KEY[] = L"VID_046D&PID_C52B&MI_00";

std::string ReadWholeFile(const wchar_t *path)
{
    std::string text;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

const WindowsVersion *ThisVersion()
{
    const char *name = getenv("VARNEL_WINDOWS_VERSION");
    for (const WindowsVersion &version : VERSIONS)
        if (name != nullptr && strcmp(name, version.name) == 0)
            return &version;
    return nullptr;
}

// The version the system itself reports, whatever a program's manifest says.
RTL_OSVERSIONINFOW SystemVersion()
{
    typedef LONG(WINAPI * RtlGetVersionProc)(RTL_OSVERSIONINFOW *);
    RTL_OSVERSIONINFOW info = {sizeof(info)};
    RtlGetVersionProc getVersion =
        (RtlGetVersionProc)(void *)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    if (getVersion != nullptr)
        getVersion(&info);
    return info;
}

class VersionTest : public ::testing::Test {
protected:
    const WindowsVersion *version = ThisVersion();

    void SetUp() override
    {
        ASSERT_NE(version, nullptr) << "VARNEL_WINDOWS_VERSION names a version this table lacks";
        // Wine's 64-bit prefix takes only the versions that had a 64-bit
        // edition; a 32-bit prefix refusing one is a fault.
        if (getenv("VARNEL_VERSION_REFUSED") != nullptr) {
            if (sizeof(void *) == 8)
                GTEST_SKIP() << "a 64-bit Wine prefix cannot be set to " << version->name;
            FAIL() << "winecfg refused " << version->name;
        }
    }
};

TEST_F(VersionTest, ThePrefixReportsThisVersion)
{
    RTL_OSVERSIONINFOW system = SystemVersion();
    EXPECT_EQ(system.dwMajorVersion, version->major);
    EXPECT_EQ(system.dwMinorVersion, version->minor);
}

// Start-up, the tray icon and a switch report, for the two ways of finding
// the switch: each row is one start of the applet on a desktop of its own.
TEST_F(VersionTest, StartsShowsItsIconAndSwitchesWhereThisVersionFindsTheSwitch)
{
    struct Row {
        const char *name;
        bool serialPath;             // the interface's path carries the serial number
        const wchar_t *serialKey;    // device key holding that serial; null: none
        bool foundFrom5;
        bool foundBelow5;
    } const rows[] = {
        {"the switch's path, no serial key", false, nullptr, true, false},
        {"a serial path, its key under the switch", true, SWITCH_DEVICE_KEY, false, true},
        {"a serial path, its key under another device", true, FOREIGN_DEVICE_KEY, false, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(version->name) + ": " + row.name);
        bool found = version->findsSwitchBySerial ? row.foundBelow5 : row.foundFrom5;
        TrayHarness scene;
        ASSERT_TRUE(scene.ready()) << "the stand-in shell or the applet's icons are missing";
        int id = row.serialPath ? scene.sim.add(HidInterface(SERIAL_PATH_ID, 0x7E51, 0x5A04))
                                : scene.addSwitch(0x5A04, 0x0400);
        if (row.serialKey != nullptr)
            scene.sim.addSerialKey(row.serialKey, L"1&2b3c&0", std::vector<BYTE>(SERIAL, SERIAL + sizeof(SERIAL)));

        DebugListener debug;
        ASSERT_TRUE(scene.startApplet()) << "no window or no tray icon";
        EXPECT_TRUE(debug.waitForLine(scene.applet->pid(), "Starting the hook\n"));
        std::vector<TrayNotification> notifications = scene.notifications();
        ASSERT_FALSE(notifications.empty());
        EXPECT_EQ(notifications[0].message, (DWORD)NIM_ADD);
        EXPECT_EQ(scene.iconShown(notifications[0]), found ? ATTACHED_ICON : NOT_ATTACHED_ICON);

        // Sent, not posted: once the applet answers and the switch catches
        // up, whatever the command wrote is there.
        ASSERT_TRUE(scene.sim.catchUp());
        scene.sim.clearReports();
        ASSERT_TRUE(scene.applet->handled(WM_COMMAND, MENU_SWITCH_ALL));
        ASSERT_TRUE(scene.sim.catchUp());
        if (found) {
            ASSERT_TRUE(scene.sim.waitForReports(1, REPORT_WAIT_MS, id)) << "no switch report";
            EXPECT_EQ(HexBytes(scene.sim.reports(id)[0].bytes), "01 06 00 00 00 00 00 00");
        } else {
            EXPECT_TRUE(scene.sim.writes(id).empty()) << "this Windows should not take it for the switch";
        }
    }
}

// The device sounds setting exists from Windows XP on: before it, Options
// has no check box for it.
TEST_F(VersionTest, OptionsOffersTheSoundsBoxWhereThisVersionHasDeviceSounds)
{
    TrayHarness scene;
    ASSERT_TRUE(scene.ready());
    scene.addSwitch(0x5A04, 0x0400);
    ASSERT_TRUE(scene.startApplet());
    ASSERT_TRUE(scene.applet->post(WM_COMMAND, MENU_OPTIONS));
    HWND options = WaitForDialog(scene.applet->pid(), OPTIONS_CAPTION, REPORT_WAIT_MS);
    ASSERT_NE(options, nullptr) << "Options never opened";
    HWND box = GetDlgItem(options, SOUNDS_CHECK_BOX);
    EXPECT_EQ(box != nullptr && IsWindowVisible(box), version->offersSoundsCheckBox);
    PostMessageW(options, WM_COMMAND, IDCANCEL, 0);
}

// Whether the control pipe keeps other computers out cannot be seen from
// this one, so the pipe mode the applet asks for is read from Wine's own trace
// of CreateNamedPipeW. Wine writes it to the standard error the applet shares
// with this program, which across-versions.sh sends to the file it names.
TEST_F(VersionTest, ThePipeKeepsOtherComputersOutWhereThisVersionCan)
{
    const char *unixPath = getenv("VARNEL_STDERR_FILE");
    ASSERT_NE(unixPath, nullptr) << "run by across-versions.sh, which names the file standard error goes to";
    std::wstring path = L"Z:";
    for (const char *c = unixPath; *c != 0; ++c)
        path += *c == '/' ? L'\\' : (wchar_t)*c;
    size_t const before = ReadWholeFile(path.c_str()).size();

    CleanRegistry registry;
    std::string text;
    {
        wchar_t debugChannels[256] = {};
        GetEnvironmentVariableW(L"WINEDEBUG", debugChannels, 256);
        SetEnvironmentVariableW(L"WINEDEBUG", L"-all,trace+sync");
        AppletProcess applet;
        bool started = applet.start();
        SetEnvironmentVariableW(L"WINEDEBUG", debugChannels[0] != 0 ? debugChannels : nullptr);
        ASSERT_TRUE(started);
        (void)PumpUntil("Wine's trace of the control pipe's creation", [&] {
            text = ReadWholeFile(path.c_str()).substr(before);
            return text.find("Morvax\", ") != std::string::npos;
        }, REPORT_WAIT_MS);
    }

    size_t name = text.find("Morvax\", ");
    ASSERT_NE(name, std::string::npos) << "no trace of the control pipe's creation";
    unsigned long openMode = 0, pipeMode = 0;
    ASSERT_EQ(sscanf(text.c_str() + name + strlen("Morvax\", "), "%lx, %lx", &openMode, &pipeMode), 2);
    EXPECT_EQ((pipeMode & PIPE_REJECT_REMOTE_CLIENTS) != 0, version->pipeRefusesRemoteClients);
    EXPECT_EQ(pipeMode & ~(DWORD)PIPE_REJECT_REMOTE_CLIENTS, (DWORD)(PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE));
}

}  // namespace
