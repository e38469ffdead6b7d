// Finding and opening the switch: which interfaces are the switch, what is
// learnt from them, which one wins, and the watcher's set of handles.
#include "DeviceTestSupport.h"

#include <cwchar>

#if defined(_MSC_VER)
#define NO_INLINE __declspec(noinline)
#else
#define NO_INLINE __attribute__((noinline))
#endif

namespace {

class DiscoveryTest : public SimulatedSwitchTest {
protected:
    // FindSwitchDevice as every send calls it.
    HANDLE find(DWORD *length)
    {
        *length = 0xDEAD;
        return FindSwitchDevice(length);
    }
};

HIDD_ATTRIBUTES const UNTOUCHED_ATTRIBUTES = {12, 0x1111, 0x2222, 0x3333};

bool SameAttributes(const HIDD_ATTRIBUTES &a, const HIDD_ATTRIBUTES &b)
{
    return a.Size == b.Size && a.VendorID == b.VendorID && a.ProductID == b.ProductID &&
           a.VersionNumber == b.VersionNumber;
}

TEST_F(DiscoveryTest, EveryRowOfTheTableIsTheSwitchInAnyLetterCase)
{
    struct Row {
        USHORT productId;
        bool noAudio;
    } const rows[] = {{0x5A01, false}, {0x5A02, false}, {0x5A03, false},
                      {0x5A04, false}, {0x5A05, true},  {0x5A06, true}};
    const char *const cases[] = {"as Windows writes it", "upper case", "lower case"};
    for (const Row &row : rows) {
        for (int letterCase = 0; letterCase < 3; ++letterCase) {
            SCOPED_TRACE(testing::Message() << std::hex << "product " << row.productId << ", " << cases[letterCase]);
            ResetAppState();
            SimInterface description = SwitchInterface(row.productId, 0x0301, 16);
            if (letterCase > 0)
                description = WithPathCase(description, letterCase == 1);
            int id = simulator.add(description);

            DWORD length;
            DeviceHandle device(find(&length));
            ASSERT_TRUE(device.valid());
            EXPECT_EQ(length, 16u);
            EXPECT_EQ(appState.deviceAttributes.Size, sizeof(HIDD_ATTRIBUTES));
            EXPECT_EQ(appState.deviceAttributes.VendorID, 0x7E51);
            EXPECT_EQ(appState.deviceAttributes.ProductID, row.productId);
            EXPECT_EQ(appState.deviceAttributes.VersionNumber, 0x0301);
            EXPECT_EQ(appState.noAudio, row.noAudio ? 1u : 0u);
            EXPECT_TRUE(simulator.waitForOpenCount(id, 1, DEVICE_WAIT_MS));
            simulator.unplug(id, SIM_NOTIFY_NONE);
        }
    }
}

TEST_F(DiscoveryTest, OtherInterfacesAreNotTheSwitchAndAreNotOpened)
{
    struct Row {
        const wchar_t *hardwareId;
        USHORT vendorId;
        USHORT productId;
    } const rows[] = {
        {L"vid_7e51&pid_5a01&col02", 0x7E51, 0x5A01},  // the second collection of each switch
        {L"vid_7e51&pid_5a02&col02", 0x7E51, 0x5A02},
        {L"vid_7e51&pid_5a03&col02", 0x7E51, 0x5A03},
        {L"vid_7e51&pid_5a04&col02", 0x7E51, 0x5A04},
        {L"vid_7e51&pid_5a05&mi_01", 0x7E51, 0x5A05},  // another USB interface of the no-audio model
        {L"vid_7e51&pid_5a06&col01", 0x7E51, 0x5A06},  // the no-audio model is matched by interface only
        {L"vid_7e51&pid_5a07&col01", 0x7E51, 0x5A07},
        {L"vid_7e52&pid_5a01&col01", 0x7E52, 0x5A01},
        {L"vid_046d&pid_c52b&mi_00", 0x046D, 0xC52B},  // a keyboard receiver
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.hardwareId);
        ResetAppState();
        appState.deviceAttributes = UNTOUCHED_ATTRIBUTES;
        int id = simulator.add(HidInterface(row.hardwareId, row.vendorId, row.productId));

        DWORD length;
        EXPECT_EQ(find(&length), INVALID_HANDLE_VALUE);
        EXPECT_EQ(length, 0u);
        EXPECT_TRUE(SameAttributes(appState.deviceAttributes, UNTOUCHED_ATTRIBUTES));
        EXPECT_EQ(appState.noAudio, 0u);
        EXPECT_EQ(simulator.totalOpens(id), 0);
        simulator.unplug(id, SIM_NOTIFY_NONE);
    }
}

TEST_F(DiscoveryTest, WithNoInterfaceAtAllNothingChanges)
{
    appState.deviceAttributes = UNTOUCHED_ATTRIBUTES;
    DWORD length;
    EXPECT_EQ(find(&length), INVALID_HANDLE_VALUE);
    EXPECT_EQ(length, 0u);
    EXPECT_TRUE(SameAttributes(appState.deviceAttributes, UNTOUCHED_ATTRIBUTES));
    EXPECT_EQ(simulator.hidEnumerations(), 1);
    EXPECT_EQ(simulator.deviceInfoSetsOutstanding(), 0);
}

TEST_F(DiscoveryTest, ANullLengthPointerReturnsAtOnce)
{
    simulator.add(SwitchInterface(0x5A01));
    EXPECT_EQ(FindSwitchDevice(nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(simulator.hidEnumerations(), 0) << "no enumeration at all";
}

TEST_F(DiscoveryTest, OnlyTheFirst1023CharactersOfAPathAreMatchedButTheWholePathIsOpened)
{
    // The switch id "VID_7E51&PID_5A01&COL01" stands in the pipe name after "hid#".
    size_t const idOffsetInName = 4;
    size_t const idChars = wcslen(switchIdTable[0]);
    size_t const pathChars = 1400;
    struct Row {
        const char *name;
        size_t idStart;
        bool matches;
    } const rows[] = {
        {"id ends at the 1023rd character", MATCHING_COPY_CHARS - 1 - idChars, true},
        {"id ends one character later", MATCHING_COPY_CHARS - idChars, false},
        {"id well inside, path 1400 characters long", 500, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ResetAppState();
        SimInterface description = SwitchInterface(0x5A01);
        description.devicePath = SimPaddedPath(description.pipeName, row.idStart - idOffsetInName, pathChars);
        description = WithPathCase(description, true);
        ASSERT_EQ(description.devicePath.size(), pathChars);
        ASSERT_EQ(description.devicePath.find(switchIdTable[0]), row.idStart);
        int id = simulator.add(description);

        DWORD length;
        DeviceHandle device(find(&length));
        EXPECT_EQ(device.valid(), row.matches);
        EXPECT_TRUE(simulator.waitForTotalOpens(id, row.matches ? 1 : 0))
            << "a match opens the interface by its whole path, which is the only one that names the pipe";

        // The watcher's set reads the whole path, with no cap.
        HidDeviceSet set;
        EXPECT_EQ(set.openAll(), 1);
        set.closeAll();
        simulator.unplug(id, SIM_NOTIFY_NONE);
    }
}

TEST_F(DiscoveryTest, OfTwoSwitchesTheLastListedWinsAndTheOtherIsClosed)
{
    SimInterface first = SwitchInterface(0x5A01, 0x0301, 16);
    SimInterface second = SwitchInterface(0x5A03, 0x0400, 8);
    for (bool swapped : {false, true}) {
        SCOPED_TRACE(swapped ? "the video switch listed first" : "the video switch listed last");
        ResetAppState();
        SimulatedSwitch local;  // a table of its own for each order
        int earlier = local.add(swapped ? second : first);
        int later = local.add(swapped ? first : second);
        const SimInterface &winner = local.description(later);

        DWORD length;
        DeviceHandle device(find(&length));
        ASSERT_TRUE(device.valid());
        EXPECT_EQ(appState.deviceAttributes.ProductID, winner.productId);
        EXPECT_EQ(appState.deviceAttributes.VersionNumber, winner.versionNumber);
        EXPECT_EQ(length, winner.outputReportLength);
        EXPECT_TRUE(local.waitForTotalOpens(earlier, 1)) << "the earlier match was opened";
        EXPECT_TRUE(local.waitForOpenCount(earlier, 0, DEVICE_WAIT_MS)) << "and not left open";
        EXPECT_EQ(local.openCount(later), 1);

        std::vector<BYTE> report(length, 0);
        report[0] = 1;
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(device.get(), report.data(), length, &written, nullptr));
        EXPECT_TRUE(local.waitForReports(1, DEVICE_WAIT_MS, later));
        EXPECT_TRUE(local.reports(earlier).empty());
    }
}

TEST_F(DiscoveryTest, TheLastMatchDecidesEvenWhenItCannotBeOpened)
{
    int opened = simulator.add(SwitchInterface(0x5A02, 0x0301, 16));
    SimInterface unopenable = SwitchInterface(0x5A04, 0x0400, 8);
    unopenable.pipeName.clear();
    simulator.add(unopenable);

    DWORD length;
    EXPECT_EQ(find(&length), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(simulator.waitForOpenCount(opened, 0, DEVICE_WAIT_MS)) << "the earlier handle is closed";
    EXPECT_EQ(simulator.totalOpens(opened), 1);
    // What the last interface that did open said.
    EXPECT_EQ(appState.deviceAttributes.ProductID, 0x5A02);
    EXPECT_EQ(length, 16u);
}

TEST_F(DiscoveryTest, UnreadableCapabilitiesGiveALengthOfZero)
{
    for (SimCaps caps : {SimCaps::PreparsedDataFails, SimCaps::GetCapsFails}) {
        SCOPED_TRACE(caps == SimCaps::PreparsedDataFails ? "HidD_GetPreparsedData fails" : "HidP_GetCaps fails");
        ResetAppState();
        SimInterface description = SwitchInterface(0x5A01, 0x0400, 8);
        description.caps = caps;
        int id = simulator.add(description);

        DWORD length;
        DeviceHandle device(find(&length));
        EXPECT_TRUE(device.valid());
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(appState.deviceAttributes.ProductID, 0x5A01);
        EXPECT_EQ(simulator.preparsedDataOutstanding(), 0) << "preparsed data is released after reading";
        simulator.unplug(id, SIM_NOTIFY_NONE);
    }
}

TEST_F(DiscoveryTest, TheNoAudioRowsSetTheFlagForTheLifeOfTheProcess)
{
    for (USHORT productId : {0x5A05, 0x5A06}) {
        SCOPED_TRACE(testing::Message() << std::hex << productId);
        ResetAppState();
        SimulatedSwitch local;
        int noAudioSwitch = local.add(SwitchInterface(productId));
        DWORD length;
        { DeviceHandle device(find(&length)); }
        EXPECT_EQ(appState.noAudio, 1u);

        local.unplug(noAudioSwitch, SIM_NOTIFY_NONE);
        EXPECT_EQ(find(&length), INVALID_HANDLE_VALUE);
        EXPECT_EQ(appState.noAudio, 1u) << "after the switch has gone";
        local.add(SwitchInterface(0x5A01));
        { DeviceHandle device(find(&length)); }
        EXPECT_EQ(appState.noAudio, 1u) << "after another switch came";
    }
}

// Leaves recognisable garbage where the calls that follow keep their locals,
// so a buffer that is read before it is filled shows it.
NO_INLINE void PoisonStack()
{
    volatile BYTE garbage[64 * 1024];
    for (size_t index = 0; index < sizeof(garbage); ++index)
        garbage[index] = 0xA5;
}

// An instance key with no "Serial" value, under a device key the simulator
// already made (and so deletes).
void AddInstanceWithoutSerial(const std::wstring &deviceKey, const std::wstring &instance)
{
    std::wstring key = L"Enum\\HID\\" + deviceKey + L"\\" + instance;
    HKEY created = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                        nullptr) == ERROR_SUCCESS)
        RegCloseKey(created);
}

// The version of Windows before 2000: HID paths carry no collection, so the
// switch is found through the serial numbers under HKLM "Enum\HID".
TEST_F(DiscoveryTest, BeforeWindows2000TheSerialUnderASwitchKeyIsLookedForInThePath)
{
    struct Row {
        const char *name;
        const wchar_t *deviceKey;
        std::vector<BYTE> serial;          // empty: no "Serial" value
        const wchar_t *pathPart;           // where the interface's path carries its serial
        bool matches;
        bool noAudio;
    } const rows[] = {
        {"eight bytes, little-endian", L"VID_7E51&PID_5A01&COL01", {0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00},
         L"vid_7e51&pid_5a01&0011223344556677", true, false},
        {"two bytes read as a zero-extended number", L"VID_7E51&PID_5A02&COL01", {0x34, 0x12},
         L"vid_7e51&pid_5a02&0000000000001234", true, false},
        {"one byte", L"VID_7E51&PID_5A03&COL01", {0xAB}, L"vid_7e51&pid_5a03&00000000000000ab", true, false},
        {"only the first eight of ten bytes", L"VID_7E51&PID_5A04&COL01",
         {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0xFF, 0xFF}, L"vid_7e51&pid_5a04&0102030405060708", true,
         false},
        {"device key in lower case", L"vid_7e51&pid_5a01&col01", {0x01}, L"vid_7e51&pid_5a01&0000000000000001",
         true, false},
        {"no-audio model", L"VID_7E51&PID_5A05&MI_00", {0x42}, L"vid_7e51&pid_5a05&0000000000000042", true, true},
        {"serial under a foreign device key", L"VID_046D&PID_C52B&MI_00", {0x42},
         L"vid_7e51&pid_5a01&0000000000000042", false, false},
        {"serial not in the path", L"VID_7E51&PID_5A01&COL01", {0x43}, L"vid_7e51&pid_5a01&0000000000000042", false,
         false},
        {"no serial value", L"VID_7E51&PID_5A01&COL01", {}, L"vid_7e51&pid_5a01&0000000000000000", false, false},
        {"switch id in the path but no key", nullptr, {}, L"vid_7e51&pid_5a01&col01", false, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ResetAppState();
        appState.osVersion.dwMajorVersion = 4;
        SimulatedSwitch local;  // its registry keys go with it
        if (row.deviceKey != nullptr) {
            // An instance without the serial first: every instance is looked at.
            local.addSerialKey(row.deviceKey, L"1&other&0", {0x99, 0x99});
            if (!row.serial.empty())
                local.addSerialKey(row.deviceKey, L"2&switch&0", row.serial);
            else
                AddInstanceWithoutSerial(row.deviceKey, L"2&switch&0");
        }
        int id = local.add(HidInterface(row.pathPart, 0x7E51, 0x5A01));

        DWORD length;
        PoisonStack();
        DeviceHandle device(find(&length));
        EXPECT_EQ(device.valid(), row.matches);
        EXPECT_TRUE(local.waitForTotalOpens(id, row.matches ? 1 : 0));
        EXPECT_EQ(appState.noAudio, row.noAudio ? 1u : 0u);
    }
}

TEST_F(DiscoveryTest, TheWatchersSetOpensTheFirstFiveOfSix)
{
    std::vector<int> ids;
    USHORT const products[] = {0x5A01, 0x5A02, 0x5A03, 0x5A04, 0x5A05, 0x5A06};
    for (int index = 0; index < 6; ++index)
        ids.push_back(simulator.add(SwitchInterface(products[index], 0x0400, (USHORT)(8 + index))));

    HidDeviceSet set;
    EXPECT_EQ(set.openAll(), 5);
    EXPECT_EQ(set.count, 5u);
    for (int index = 0; index < 5; ++index) {
        SCOPED_TRACE(index);
        EXPECT_NE(set.handles[index], INVALID_HANDLE_VALUE);
        EXPECT_TRUE(simulator.waitForOpenCount(ids[index], 1, DEVICE_WAIT_MS));
    }
    EXPECT_EQ(simulator.totalOpens(ids[5]), 0) << "the sixth is not opened";
    EXPECT_EQ(set.outputReportLength, 12u) << "the length of the last one opened";
    EXPECT_EQ(set.deviceInfoSet, INVALID_HANDLE_VALUE) << "the list exists only while openAll runs";
    EXPECT_EQ(simulator.deviceInfoSetsOutstanding(), 0);

    set.closeAll();
    for (int index = 0; index < 5; ++index)
        EXPECT_TRUE(simulator.waitForOpenCount(ids[index], 0, DEVICE_WAIT_MS));
}

TEST_F(DiscoveryTest, TheWatchersSetSkipsWhatIsNotTheSwitchOrWillNotOpen)
{
    // Windows version, variant flag and identity play no part in the set.
    appState.osVersion.dwMajorVersion = 4;
    appState.deviceAttributes = UNTOUCHED_ATTRIBUTES;
    int first = simulator.add(SwitchInterface(0x5A01));
    simulator.add(HidInterface(L"vid_046d&pid_c52b&mi_00", 0x046D, 0xC52B));
    SimInterface unopenable = SwitchInterface(0x5A02);
    unopenable.pipeName.clear();
    simulator.add(unopenable);
    simulator.add(HidInterface(L"vid_7e51&pid_5a03&col02", 0x7E51, 0x5A03));
    int last = simulator.add(SwitchInterface(0x5A05, 0x0400, 16));

    HidDeviceSet set;
    EXPECT_EQ(set.openAll(), 2);
    EXPECT_NE(set.handles[0], INVALID_HANDLE_VALUE);
    EXPECT_NE(set.handles[1], INVALID_HANDLE_VALUE);
    EXPECT_EQ(set.handles[2], INVALID_HANDLE_VALUE) << "a failed open takes no slot";
    EXPECT_TRUE(simulator.waitForTotalOpens(first, 1));
    EXPECT_TRUE(simulator.waitForTotalOpens(last, 1));
    EXPECT_EQ(set.outputReportLength, 16u);
    EXPECT_EQ(appState.noAudio, 0u);
    EXPECT_TRUE(SameAttributes(appState.deviceAttributes, UNTOUCHED_ATTRIBUTES));
    set.closeAll();
}

TEST_F(DiscoveryTest, AnOverlappedSetCanWaitForTheSwitchsInputReport)
{
    int id = simulator.add(SwitchInterface(0x5A03));
    HidDeviceSet set;
    set.setOverlapped();
    ASSERT_EQ(set.openAll(), 1);
    ASSERT_TRUE(simulator.waitForOpenCount(id, 1, DEVICE_WAIT_MS));

    InputRead read = ReadInputReport(set.handles[0], [&] { EXPECT_EQ(simulator.sendInputReport(id, {3, 1}), 1); });
    ASSERT_TRUE(read.done);
    EXPECT_EQ(read.error, 0u);
    EXPECT_EQ(read.bytes.substr(0, 5), "03 01");
    CancelIo(set.handles[0]);
    set.closeAll();
}

}  // namespace
