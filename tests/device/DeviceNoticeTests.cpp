// Device notices whose record is missing, shorter than it claims, or whose
// name has no terminator: the arrival handler reads them within dbch_size
// and no further. Each record ends where an inaccessible page begins, so a
// read past its end stops the test at once.
#include "DeviceTestSupport.h"
#include "shell/Shell.h"

#include <dbt.h>

#include <cstddef>
#include <cstring>

namespace {

size_t const NAME_OFFSET = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);

// A device-interface record: the header claims `claimedSize` bytes; `name`
// follows with no terminator unless it carries one.
std::vector<BYTE> InterfaceRecord(const std::wstring &name, DWORD claimedSize)
{
    std::vector<BYTE> bytes(NAME_OFFSET + name.size() * sizeof(wchar_t));
    DEV_BROADCAST_HDR header = {claimedSize, DBT_DEVTYP_DEVICEINTERFACE, 0};
    memcpy(bytes.data(), &header, sizeof(header));
    memcpy(bytes.data() + NAME_OFFSET, name.data(), name.size() * sizeof(wchar_t));
    return bytes;
}

// The first `length` bytes of a record that names nothing.
std::vector<BYTE> HeaderOnly(DWORD claimedSize, size_t length)
{
    std::vector<BYTE> bytes = InterfaceRecord(L"", claimedSize);
    bytes.resize(length);
    return bytes;
}

// Bytes placed so that the last one is the last readable byte before a page
// the process may not touch.
class RecordBeforeGuardPage {
public:
    explicit RecordBeforeGuardPage(const std::vector<BYTE> &bytes)
    {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        size_t page = system.dwPageSize;
        base_ = (BYTE *)VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD old = 0;
        VirtualProtect(base_ + page, page, PAGE_NOACCESS, &old);
        record_ = base_ + page - bytes.size();
        memcpy(record_, bytes.data(), bytes.size());
    }
    ~RecordBeforeGuardPage() { VirtualFree(base_, 0, MEM_RELEASE); }
    LPARAM lParam() const { return (LPARAM)record_; }

private:
    BYTE *base_ = nullptr;
    BYTE *record_ = nullptr;
};

class DeviceNoticeTest : public SimulatedSwitchTest {};

TEST_F(DeviceNoticeTest, MalformedArrivalRecordsAreReadWithinTheirSize)
{
    int id = simulator.add(SwitchInterface(0x5A01, 0x0301));
    std::wstring switchPath = simulator.description(id).devicePath;
    std::wstring terminated = switchPath + L'\0';
    // The switch's path cut just before its product id ends.
    size_t cut = switchPath.find(L"5a01") + 3;
    DWORD cutSize = (DWORD)(NAME_OFFSET + cut * sizeof(wchar_t));
    DWORD fullSize = (DWORD)(NAME_OFFSET + terminated.size() * sizeof(wchar_t));

    struct Row {
        const char *name;
        bool hasRecord;
        std::vector<BYTE> record;
        bool isSwitch;
    } const rows[] = {
        {"no record at all", false, {}, false},
        {"only the size and type, claiming 8 bytes", true, HeaderOnly(8, 8), false},
        {"a header claiming less than the name's offset", true, HeaderOnly(20, 20), false},
        {"the switch's name with no terminator", true,
         InterfaceRecord(switchPath, (DWORD)(NAME_OFFSET + switchPath.size() * sizeof(wchar_t))), true},
        {"the switch's name, but the size ends inside it", true, InterfaceRecord(terminated, cutSize), false},
        {"a well-formed record of the switch", true, InterfaceRecord(terminated, fullSize), true},
    };

    HWND window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ResetAppState();
        appState.trayIcon.hWnd = window;
        appState.attachedIcon = LoadIconW(nullptr, (LPCWSTR)IDI_APPLICATION);
        appState.deviceAttributes.ProductID = 0x1234;  // from a switch met before
        simulator.clearReports();
        LONG enumerations = simulator.hidEnumerations();

        RecordBeforeGuardPage placed(row.record);
        OnDeviceChange(DBT_DEVICEARRIVAL, row.hasRecord ? placed.lParam() : 0);

        // The simulator records a report a moment after the write returns.
        ASSERT_TRUE(simulator.catchUp());
        EXPECT_EQ(appState.trayIcon.hIcon, appState.attachedIcon) << "the icon is refreshed";
        EXPECT_EQ(appState.deviceAttributes.ProductID, 0x5A01) << "cleared, then read again from the switch";
        std::vector<SimReport> reports = simulator.reports(id);
        if (row.isSwitch) {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(HexBytes(reports[0].bytes), "01 00 00 00 00 00 00 00");
            EXPECT_NE(appState.watcherStartTimerId, TIMER_NOT_RUNNING);
        } else {
            EXPECT_TRUE(reports.empty());
            EXPECT_EQ(appState.watcherStartTimerId, TIMER_NOT_RUNNING);
            EXPECT_EQ(simulator.hidEnumerations() - enumerations, 1) << "only the icon refresh looks for the switch";
        }
        StopThreadTimer(&appState.watcherStartTimerId);
    }
    DestroyWindow(window);
}

}  // namespace
