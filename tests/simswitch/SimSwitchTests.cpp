// The simulated switch itself: what a program sees of it through the ordinary
// SetupAPI, HID and file calls, and what the simulator records. Every device
// test stands on these behaving like the system and a real switch.
#include "AppletProcess.h"
#include "Registry.h"
#include "SimulatedSwitch.h"
#include "Wait.h"

#include <dbt.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

GUID HidClass()
{
    GUID guid;
    HidD_GetHidGuid(&guid);
    return guid;
}

// The device paths SetupAPI lists for the HID class, as the applet lists them.
std::vector<std::wstring> ListHidPaths(DWORD flags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)
{
    std::vector<std::wstring> paths;
    GUID hid = HidClass();
    HDEVINFO set = SetupDiGetClassDevsW(&hid, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE)
        return paths;
    SP_DEVICE_INTERFACE_DATA interfaceData = {sizeof(interfaceData)};
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid, index, &interfaceData); ++index) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required, nullptr);
        std::vector<BYTE> buffer(required);
        auto detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, required, nullptr, nullptr))
            paths.push_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

HANDLE Open(const std::wstring &path, DWORD flags = 0)
{
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

bool Write(HANDLE device, const std::vector<BYTE> &bytes)
{
    DWORD written = 0;
    BYTE none = 0;
    return WriteFile(device, bytes.empty() ? &none : bytes.data(), (DWORD)bytes.size(), &written, nullptr) != FALSE;
}

class SimSwitchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(simulator.running());
        ASSERT_TRUE(SimStandInsServeThisProcess())
            << "run with WINEDLLOVERRIDES=\"setupapi,hid=n,b\" (tests/simswitch/wine-run-with-stand-ins)";
    }

    SimulatedSwitch simulator;
};

TEST_F(SimSwitchTest, OtherDeviceClassesStillComeFromTheSystem)
{
    // Wine's user32 and gdi32 reach setupapi.dll for monitors and adapters: in
    // a process with the stand-in they must still be answered.
    HDEVINFO monitors = SetupDiGetClassDevsW(&GUID_DEVCLASS_MONITOR, nullptr, nullptr, DIGCF_PRESENT);
    ASSERT_NE(monitors, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA device = {sizeof(device)};
    EXPECT_TRUE(SetupDiEnumDeviceInfo(monitors, 0, &device));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(monitors));

    UINT32 paths = 0, modes = 0;
    EXPECT_EQ(GetDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &paths, &modes), ERROR_SUCCESS);
    EXPECT_GE(paths, 1u);
}

TEST_F(SimSwitchTest, EnumerationFollowsTheSetupApiProtocol)
{
    int present = simulator.add(SwitchInterface(0x5A01));
    SimInterface unpluggedOne = SwitchInterface(0x5A02);
    unpluggedOne.present = false;
    simulator.add(unpluggedOne);
    const std::wstring &path = simulator.description(present).devicePath;

    GUID hid = HidClass();
    HDEVINFO set = SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    EXPECT_EQ(simulator.deviceInfoSetsOutstanding(), 1);

    SP_DEVICE_INTERFACE_DATA interfaceData = {sizeof(interfaceData) + 4};
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &interfaceData));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_USER_BUFFER);
    interfaceData.cbSize = sizeof(interfaceData);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &interfaceData));
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 1, &interfaceData));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &interfaceData));

    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, sizeof(DWORD) + (path.size() + 1) * sizeof(wchar_t));

    std::vector<BYTE> buffer(required);
    auto detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
    // The other architecture's size is refused: 8 in a 32-bit process, 6 in a 64-bit one.
    DWORD const ownSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    detail->cbSize = ownSize == 6 ? 8 : 6;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, required, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_USER_BUFFER);
    detail->cbSize = ownSize;
#if !defined(_WIN64)
    EXPECT_EQ(detail->cbSize, 6u) << "the fixed part of the structure in a 32-bit process";
#endif
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, required - 2, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, required, nullptr, nullptr));
    EXPECT_EQ(std::wstring(detail->DevicePath), path);

    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(simulator.deviceInfoSetsOutstanding(), 0);
    EXPECT_EQ(ListHidPaths(DIGCF_DEVICEINTERFACE).size(), 2u) << "without DIGCF_PRESENT unplugged ones are listed";
}

TEST_F(SimSwitchTest, AttributesAndCapabilitiesComeFromTheDescription)
{
    struct Row {
        const char *name;
        USHORT version;
        USHORT outputLength;
        SimCaps caps;
        BOOLEAN preparsedRead;
        NTSTATUS capsStatus;
    } const rows[] = {
        {"firmware 4.0, 8 bytes", 0x0400, 8, SimCaps::Readable, TRUE, HIDP_STATUS_SUCCESS},
        {"firmware 3.1, 16 bytes", 0x0301, 16, SimCaps::Readable, TRUE, HIDP_STATUS_SUCCESS},
        {"preparsed data fails", 0x0400, 8, SimCaps::PreparsedDataFails, FALSE, 0},
        {"HidP_GetCaps fails", 0x0400, 8, SimCaps::GetCapsFails, TRUE, HIDP_STATUS_INVALID_PREPARSED_DATA},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SimInterface description = SwitchInterface(0x5A03, row.version, row.outputLength);
        description.caps = row.caps;
        int id = simulator.add(description);
        HANDLE device = Open(description.devicePath);
        ASSERT_NE(device, INVALID_HANDLE_VALUE);

        HIDD_ATTRIBUTES attributes = {sizeof(attributes)};
        ASSERT_TRUE(HidD_GetAttributes(device, &attributes));
        EXPECT_EQ(attributes.VendorID, 0x7E51);
        EXPECT_EQ(attributes.ProductID, 0x5A03);
        EXPECT_EQ(attributes.VersionNumber, row.version);

        PHIDP_PREPARSED_DATA preparsed = nullptr;
        ASSERT_EQ(HidD_GetPreparsedData(device, &preparsed), row.preparsedRead);
        if (row.preparsedRead) {
            HIDP_CAPS caps = {};
            EXPECT_EQ(HidP_GetCaps(preparsed, &caps), row.capsStatus);
            if (row.capsStatus == HIDP_STATUS_SUCCESS) {
                EXPECT_EQ(caps.OutputReportByteLength, row.outputLength);
            }
            EXPECT_EQ(simulator.preparsedDataOutstanding(), 1);
            EXPECT_TRUE(HidD_FreePreparsedData(preparsed));
        }
        EXPECT_EQ(simulator.preparsedDataOutstanding(), 0);
        CloseHandle(device);
        simulator.unplug(id, SIM_NOTIFY_NONE);
    }
}

TEST_F(SimSwitchTest, AnInterfaceWithoutAPipeCannotBeOpened)
{
    SimInterface description = SwitchInterface(0x5A01);
    description.pipeName.clear();
    simulator.add(description);
    ASSERT_EQ(ListHidPaths().size(), 1u);
    EXPECT_EQ(Open(description.devicePath), INVALID_HANDLE_VALUE);
}

TEST_F(SimSwitchTest, EveryWriteIsRecordedAndOnlyWholeReportsAccepted)
{
    int id = simulator.add(SwitchInterface(0x5A01, 0x0400, 8));
    HANDLE device = Open(simulator.description(id).devicePath);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    std::vector<BYTE> whole = {1, 6, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(Write(device, whole));
    EXPECT_TRUE(Write(device, {3, 3, 5}));
    EXPECT_TRUE(Write(device, {}));
    EXPECT_TRUE(Write(device, whole));
    CloseHandle(device);
    ASSERT_TRUE(simulator.catchUp());

    std::vector<SimReport> writes = simulator.writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[1].bytes.size(), 3u);
    EXPECT_FALSE(writes[1].accepted);
    EXPECT_TRUE(writes[2].bytes.empty());
    EXPECT_FALSE(writes[2].accepted);
    std::vector<SimReport> reports = simulator.reports(id);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(HexBytes(reports[0].bytes), "01 06 00 00 00 00 00 00");
    EXPECT_LE(reports[0].tick, reports[1].tick);
}

TEST_F(SimSwitchTest, OpenCountsFollowTheHandles)
{
    int id = simulator.add(SwitchInterface(0x5A04));
    const std::wstring &path = simulator.description(id).devicePath;
    HANDLE first = Open(path);
    HANDLE second = Open(path, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(simulator.waitForOpenCount(id, 2));
    CloseHandle(first);
    EXPECT_TRUE(simulator.waitForOpenCount(id, 1));

    // The applet lists and opens the switch afresh for every report and never
    // waits for a busy device: reports sent back to back must all get through.
    int const rounds = 12;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(ListHidPaths().size(), 1u);
        HANDLE quick = Open(path);
        ASSERT_NE(quick, INVALID_HANDLE_VALUE) << GetLastError();
        EXPECT_TRUE(Write(quick, {1, (BYTE)round, 0, 0, 0, 0, 0, 0}));
        CloseHandle(quick);
    }
    CloseHandle(second);
    ASSERT_TRUE(simulator.catchUp());
    EXPECT_EQ(simulator.openCount(id), 0);
    EXPECT_EQ(simulator.totalOpens(id), rounds + 2);
    std::vector<SimReport> reports = simulator.reports(id);
    ASSERT_EQ(reports.size(), (size_t)rounds);
    EXPECT_EQ(reports.back().bytes[1], rounds - 1) << "in the order written";
}

TEST_F(SimSwitchTest, InputReportsCompleteAPendingReadOneReportAtATime)
{
    int id = simulator.add(SwitchInterface(0x5A03));
    HANDLE device = Open(simulator.description(id).devicePath, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(simulator.waitForOpenCount(id, 1));
    HIDD_ATTRIBUTES attributes = {sizeof(attributes)};
    ASSERT_TRUE(HidD_GetAttributes(device, &attributes)) << "programs ask about a device before they read it";

    // Padded to the input report length.
    InputRead read = ReadInputReport(device, [&] { EXPECT_EQ(simulator.sendInputReport(id, {3, 1}), 1); });
    EXPECT_TRUE(read.done && read.error == 0);
    EXPECT_EQ(read.bytes, "03 01 00 00 00 00 00 00");
    // Two reports waiting: each read takes one whole, as HID hands them out.
    EXPECT_EQ(simulator.sendInputReport(id, {2, 1}), 1);
    EXPECT_EQ(simulator.sendInputReport(id, {3, 0, 7}), 1);
    EXPECT_EQ(ReadInputReport(device, [] {}).bytes, "02 01 00 00 00 00 00 00");
    EXPECT_EQ(ReadInputReport(device, [] {}).bytes, "03 00 07 00 00 00 00 00");
    CloseHandle(device);
}

// A window that keeps the device-change notices it gets.
struct Notice {
    WPARAM event;
    DWORD deviceType;
    GUID classGuid;
    std::wstring name;
};
std::vector<Notice> notices;

LRESULT CALLBACK NoticeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DEVICECHANGE) {
        Notice notice = {wParam, 0, {}, L""};
        auto header = reinterpret_cast<DEV_BROADCAST_HDR *>(lParam);
        if (header != nullptr) {
            notice.deviceType = header->dbch_devicetype;
            if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
                auto deviceInterface = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(lParam);
                notice.classGuid = deviceInterface->dbcc_classguid;
                notice.name = deviceInterface->dbcc_name;
            }
        }
        notices.push_back(notice);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Wine has been seen to refuse the first window of a test started on a
// busy machine: the window is asked for again until it comes.
HWND MakeNoticeWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = NoticeWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"SimSwitchNoticeTest";
    RegisterClassW(&windowClass);
    HWND window = nullptr;
    DWORD error = 0;
    EXPECT_TRUE(WaitUntil("a window to hear the notices", [&] {
        window = CreateWindowW(L"SimSwitchNoticeTest", L"", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        error = GetLastError();
        return window != nullptr;
    }, WAIT_MS, [&] { return "CreateWindowW failed, error " + std::to_string(error); }));
    return window;
}

TEST_F(SimSwitchTest, UnplugFailsThePendingReadAndNotifiesAsWindowsDoes)
{
    HWND window = MakeNoticeWindow();
    ASSERT_NE(window, nullptr);
    simulator.setNotifyWindow(window);
    int id = simulator.add(SwitchInterface(0x5A01));
    const std::wstring path = simulator.description(id).devicePath;
    HANDLE device = Open(path, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    InputRead read = ReadInputReport(device, [&] {
        notices.clear();
        simulator.unplug(id);
    });
    ASSERT_TRUE(read.done);
    EXPECT_NE(read.error, 0u);
    EXPECT_TRUE(simulator.waitForOpenCount(id, 0));
    EXPECT_TRUE(ListHidPaths().empty());
    EXPECT_EQ(Open(path), INVALID_HANDLE_VALUE);
    HIDD_ATTRIBUTES attributes = {sizeof(attributes)};
    EXPECT_FALSE(HidD_GetAttributes(device, &attributes)) << "a removed device answers nothing";
    CloseHandle(device);

    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].event, (WPARAM)DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(notices[0].deviceType, (DWORD)DBT_DEVTYP_DEVICEINTERFACE);
    EXPECT_TRUE(IsEqualGUID(notices[0].classGuid, HidClass()));
    EXPECT_EQ(notices[0].name, path);
    EXPECT_EQ(notices[1].event, (WPARAM)DBT_DEVNODES_CHANGED);

    notices.clear();
    simulator.plug(id);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].event, (WPARAM)DBT_DEVICEARRIVAL);
    EXPECT_EQ(notices[0].name, path);
    EXPECT_EQ(notices[1].event, (WPARAM)DBT_DEVNODES_CHANGED);
    HANDLE again = Open(path);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
    DestroyWindow(window);
}

TEST_F(SimSwitchTest, APaddedPathOpensItsPipeWhereverItsTextStands)
{
    int id = simulator.add(SwitchInterface(0x5A01));
    const std::wstring &pipeName = simulator.description(id).pipeName;
    std::wstring path = SimPaddedPath(pipeName, 1000, 1300);
    EXPECT_EQ(path.find(pipeName), 1000u);
    EXPECT_EQ(path.size(), 1300u);
    HANDLE device = Open(path);
    EXPECT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(device);
    EXPECT_EQ(Open(path.substr(0, 1023)), INVALID_HANDLE_VALUE) << "a cut path names no pipe";
}

TEST_F(SimSwitchTest, SerialKeysAreMadeAndRemovedAgain)
{
    std::wstring instanceKey = L"Enum\\HID\\VID_7E51&PID_5A01&COL01\\SimTest";
    {
        SimulatedSwitch other;
        other.addSerialKey(L"VID_7E51&PID_5A01&COL01", L"SimTest", {0x11, 0x22});
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, instanceKey.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
        BYTE data[16] = {};
        DWORD size = sizeof(data), type = 0;
        EXPECT_EQ(RegQueryValueExW(key, L"Serial", nullptr, &type, data, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, (DWORD)REG_BINARY);
        EXPECT_EQ(size, 2u);
        RegCloseKey(key);
    }
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, instanceKey.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
}

TEST_F(SimSwitchTest, AProgramStartedNowUsesTheStandInsAndThisTable)
{
    CleanRegistry registry;
    AppletProcess applet;
    ASSERT_TRUE(applet.start());
    ASSERT_NE(applet.waitForWindow(), nullptr);
    EXPECT_TRUE(simulator.waitForClient(applet.pid()));
}

// SimSwitch.exe as a script drives it: standard input for commands, one line
// of standard output per event.
class ToolProcess {
public:
    explicit ToolProcess(const std::wstring &arguments)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        HANDLE outputWrite = nullptr, inputRead = nullptr;
        CreatePipe(&output_, &outputWrite, &inherit, 0);
        CreatePipe(&inputRead, &input_, &inherit, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup = {sizeof(startup)};
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = inputRead;
        startup.hStdOutput = outputWrite;
        startup.hStdError = outputWrite;
        std::wstring commandLine = L"\"" + BinaryFolder() + L"\\SimSwitch.exe\" " + arguments;
        started_ = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &process_) != FALSE;
        CloseHandle(outputWrite);
        CloseHandle(inputRead);
    }
    ~ToolProcess()
    {
        if (started_) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process_.hProcess, 1);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        CloseHandle(output_);
        CloseHandle(input_);
    }
    bool started() const { return started_; }
    // Reads output until a line starting with `start` (true) or the end (false).
    bool waitForLine(const std::string &fragment, std::string *line = nullptr)
    {
        for (;;) {
            size_t end;
            while ((end = pending_.find('\n')) != std::string::npos) {
                std::string next = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                if (!next.empty() && next.back() == '\r')
                    next.pop_back();
                if (next.find(fragment) != std::string::npos) {
                    if (line != nullptr)
                        *line = next;
                    return true;
                }
            }
            char buffer[512];
            DWORD read = 0;
            if (!ReadFile(output_, buffer, sizeof(buffer), &read, nullptr) || read == 0)
                return false;
            pending_.append(buffer, read);
        }
    }
    void send(const std::string &command)
    {
        DWORD written = 0;
        WriteFile(input_, command.data(), (DWORD)command.size(), &written, nullptr);
    }
    bool waitForExit(DWORD *code)
    {
        if (WaitForSingleObject(process_.hProcess, WAIT_MS) != WAIT_OBJECT_0)
            return false;
        GetExitCodeProcess(process_.hProcess, code);
        return true;
    }

private:
    PROCESS_INFORMATION process_ = {};
    HANDLE output_ = nullptr;
    HANDLE input_ = nullptr;
    bool started_ = false;
    std::string pending_;
};

TEST_F(SimSwitchTest, TheToolPrintsEachReportItReceives)
{
    HWND window = MakeNoticeWindow();
    ASSERT_NE(window, nullptr);
    ToolProcess tool(L"--table ToolTest --notify-class SimSwitchNoticeTest --interface 5a04:0400:8 "
                     L"--interface 5a01:0301:16,col02");
    ASSERT_TRUE(tool.started());
    ASSERT_TRUE(tool.waitForLine("ready"));

    // This process looks at the tool's table from now on.
    SetEnvironmentVariableW(L"SIMSWITCH_TABLE", L"ToolTest");
    std::vector<std::wstring> paths = ListHidPaths();
    SetEnvironmentVariableW(L"SIMSWITCH_TABLE", simulator.tableName().c_str());
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_NE(paths[0].find(L"vid_7e51&pid_5a04&col01"), std::wstring::npos);
    EXPECT_NE(paths[1].find(L"vid_7e51&pid_5a01&col02"), std::wstring::npos);

    HANDLE device = Open(paths[0]);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Write(device, {3, 3, 5, 0, 4, 0, 0, 0}));
    CloseHandle(device);
    std::string line;
    ASSERT_TRUE(tool.waitForLine(" report 0 ", &line));
    EXPECT_NE(line.find("report 0 len 8: 03 03 05 00 04 00 00 00"), std::string::npos) << line;
    EXPECT_EQ(line[2], ':') << "starts with the time of day: " << line;

    // Notices cross to this process (a user of the tool's table) intact.
    notices.clear();
    tool.send("unplug 0\n");
    EXPECT_TRUE(PumpUntil("the unplug's two notices", [] { return notices.size() >= 2; }));
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].event, (WPARAM)DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(notices[0].name, paths[0]);
    EXPECT_TRUE(IsEqualGUID(notices[0].classGuid, HidClass()));
    EXPECT_EQ(notices[1].event, (WPARAM)DBT_DEVNODES_CHANGED);
    DestroyWindow(window);

    tool.send("quit\n");
    DWORD code = 1;
    ASSERT_TRUE(tool.waitForExit(&code));
    EXPECT_EQ(code, 0u);
}

}  // namespace
