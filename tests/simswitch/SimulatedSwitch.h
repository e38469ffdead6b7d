// A simulated USB KVM switch for tests: it presents HID interfaces that the
// unmodified applet finds through its ordinary SetupAPI and HID calls, records
// every output report written to them, sends input reports to their readers,
// and can be unplugged and plugged with the notifications Windows would send.
// See README.md beside this file for how it works and how a test uses it.
//
//   SimInterface / SwitchInterface / HidInterface - what one interface looks like
//   SimPaddedPath        - a device path with its text placed at a given offset
//   SimulatedSwitch      - the simulator: its interfaces, reports, handles, notices
//   SimStandInsServeThisProcess - this process got the stand-in DLLs
//   HexBytes, HexReports - "01 06 00 00" for messages, logs and comparisons
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// How reading the interface's HID capabilities goes.
enum class SimCaps {
    Readable,            // HidD_GetPreparsedData and HidP_GetCaps succeed
    PreparsedDataFails,  // HidD_GetPreparsedData returns FALSE
    GetCapsFails,        // HidP_GetCaps returns HIDP_STATUS_INVALID_PREPARSED_DATA
};

// One HID interface as the applet sees it. All fields may be changed before add().
struct SimInterface {
    // The path SetupDiGetDeviceInterfaceDetailW gives. The applet opens it with
    // CreateFileW, so it names the pipe below ("\\?\pipe\<pipeName>"); its
    // letter case may be changed freely, as pipe names ignore case.
    std::wstring devicePath;
    // The pipe that is served for the interface; empty: nothing is served and
    // every open fails (ERROR_FILE_NOT_FOUND), as for a device that cannot be opened.
    std::wstring pipeName;
    USHORT vendorId = 0x7E51;
    USHORT productId = 0x5A01;
    USHORT versionNumber = 0x0400;     // high byte: firmware major version
    USHORT outputReportLength = 8;     // HIDP_CAPS.OutputReportByteLength, report id included
    USHORT inputReportLength = 8;      // every input report is sent padded to this length
    USHORT featureReportLength = 0;
    USHORT usagePage = 0xFF00;
    USHORT usage = 0x0001;
    SimCaps caps = SimCaps::Readable;
    bool attributesFail = false;       // HidD_GetAttributes returns FALSE
    bool present = true;               // false: added unplugged; plug() brings it
};

// The HID interface class GUID as text, the last part of every HID device path.
extern const wchar_t *const SIM_HID_CLASS_TEXT;

// An interface with path "\\?\pipe\hid#<hardwareId>#<unique instance>#{HID class}",
// lower case as Windows writes it, e.g. HidInterface(L"vid_046d&pid_c52b&mi_00", 0x046D, 0xC52B).
SimInterface HidInterface(const std::wstring &hardwareId, USHORT vendorId, USHORT productId);
// The switch's own interface for a product id 0x5A01-0x5A06: collection 1
// ("vid_7e51&pid_5a0N&col01") for 5A01-5A04, USB interface 0 ("&mi_00") for 5A05-5A06.
SimInterface SwitchInterface(USHORT productId, USHORT versionNumber = 0x0400, USHORT outputReportLength = 8);
// "\\.\pipe\" + filler + pipeName + trailing filler: the system folds the filler
// ("x\..\" segments) away, so the path opens pipeName, while its text puts
// pipeName at character leadingChars and makes the whole path totalChars long
// (at least as long as it needs). For paths longer than a pipe name may be.
std::wstring SimPaddedPath(const std::wstring &pipeName, size_t leadingChars, size_t totalChars);

// One write the switch received.
struct SimReport {
    int interfaceId = -1;
    std::vector<BYTE> bytes;
    // Exactly the interface's output report length: a real switch accepts only
    // such writes (the system fails the others), so reports() lists only these.
    bool accepted = false;
    DWORD tick = 0;                    // GetTickCount() at arrival
    SYSTEMTIME localTime = {};
};

// What the simulator saw, for a listener (SimSwitch.exe prints these).
struct SimEvent {
    enum Kind { Write, Open, Close, Plug, Unplug, InputSent };
    Kind kind = Write;
    int interfaceId = -1;
    SimReport report;                  // Write and InputSent
    int openCount = 0;                 // Open and Close: handles open afterwards
};

namespace testing {
class AssertionResult;
}

int const SIM_ANY_INTERFACE = -1;
// Which WM_DEVICECHANGE notices plug() and unplug() send.
DWORD const SIM_NOTIFY_NONE = 0;
DWORD const SIM_NOTIFY_INTERFACE = 1;  // DBT_DEVICEARRIVAL / DBT_DEVICEREMOVECOMPLETE with the interface
DWORD const SIM_NOTIFY_NODES = 2;      // DBT_DEVNODES_CHANGED after it
DWORD const SIM_NOTIFY_ALL = SIM_NOTIFY_INTERFACE | SIM_NOTIFY_NODES;

class SimulatedSwitch {
public:
    // A table of its own, named in this process's SIMSWITCH_TABLE so that this
    // process and the programs it starts from now on see it (and no other
    // test's). Also sets WINEDLLOVERRIDES so those programs load the stand-ins.
    SimulatedSwitch();
    // A table of the given name, left as the process found it otherwise:
    // SimSwitch.exe serves "Default", which a program sees when SIMSWITCH_TABLE is unset.
    explicit SimulatedSwitch(const std::wstring &tableName);
    // Unplugs everything (without notices), deletes the registry keys it made
    // and restores the environment variables it set.
    ~SimulatedSwitch();
    SimulatedSwitch(const SimulatedSwitch &) = delete;
    SimulatedSwitch &operator=(const SimulatedSwitch &) = delete;

    bool running() const;              // the table and the serving thread are up
    const std::wstring &tableName() const;

    // Interfaces are listed in the order they were added; an id stays valid.
    int add(const SimInterface &description);  // the interface's id, -1 when the table is full
    const SimInterface &description(int id) const;
    int interfaceCount() const;
    void plug(int id, DWORD notify = SIM_NOTIFY_ALL);
    // Drops every connection (a pending read on it completes with an error,
    // ERROR_PIPE_NOT_CONNECTED) and hides the interface from enumeration.
    void unplug(int id, DWORD notify = SIM_NOTIFY_ALL);
    bool plugged(int id) const;

    // Sends one input report (padded or cut to inputReportLength) to every
    // handle open on the interface; the number of handles it went to.
    int sendInputReport(int id, const std::vector<BYTE> &report);

    // Every write in arrival order, accepted or not.
    std::vector<SimReport> writes(int id = SIM_ANY_INTERFACE) const;
    // The accepted output reports in arrival order.
    std::vector<SimReport> reports(int id = SIM_ANY_INTERFACE) const;
    void clearReports();

    int openCount(int id) const;       // handles open now
    int totalOpens(int id) const;      // opens since it was added

    // The simulator takes a program's open, write or close a moment after the
    // program's call returned. Its waits (SimSwitchWaits.cpp) say on time-out
    // what they waited for and what the switch had seen:
    //   waitForTotalOpens - true when then exactly `count` opens are counted
    //   catchUp           - every connection closed by now taken in full: writes()
    //                       and reports() are then final for them
    //   waitForQuiet      - only where a test asserts that nothing more comes
    testing::AssertionResult waitForReports(size_t count, DWORD timeoutMs = 10000,
                                            int id = SIM_ANY_INTERFACE) const;
    testing::AssertionResult waitForOpenCount(int id, int count, DWORD timeoutMs = 10000) const;
    testing::AssertionResult waitForTotalOpens(int id, int count, DWORD timeoutMs = 10000) const;
    testing::AssertionResult waitForClient(DWORD processId, DWORD timeoutMs = 10000) const;
    testing::AssertionResult catchUp(DWORD timeoutMs = 10000) const;
    void waitForQuiet(DWORD quietMs = 300, DWORD timeoutMs = 5000) const;
    // What the waits look at (the first asked of the system on the simulator's thread).
    bool tookEveryClosedConnection() const;
    DWORD lastActivity() const;
    HANDLE changedEvent() const;  // signalled at each open, close and write

    // Notices go to this window only, when set; otherwise to every top-level
    // window of the notify class ("Morvax") in a process that loaded the stand-ins.
    void setNotifyWindow(HWND window);
    void setNotifyClass(const std::wstring &className);
    bool hasClient(DWORD processId) const;

    // Counts kept by the stand-in DLLs of every process on this table.
    LONG deviceInfoSetsOutstanding() const;   // made by SetupDiGetClassDevsW, not yet destroyed
    LONG preparsedDataOutstanding() const;    // from HidD_GetPreparsedData, not yet freed
    LONG hidEnumerations() const;             // SetupDiGetClassDevsW calls for the HID class

    // For the applet's older-Windows way of matching: HKLM "Enum\HID\<deviceKey>\<instance>"
    // with the REG_BINARY value "Serial". Deleted again by the destructor.
    void addSerialKey(const std::wstring &deviceKey, const std::wstring &instance,
                      const std::vector<BYTE> &serial);

    // Called on the simulator's own thread for everything it sees; it must not
    // call back into this object.
    void setListener(std::function<void(const SimEvent &)> listener);

    struct State;

private:
    std::unique_ptr<State> state_;
};

// True when setupapi.dll and hid.dll as this process imports them are the
// stand-ins (WINEDLLOVERRIDES="setupapi,hid=n,b" and the DLLs beside the exe).
bool SimStandInsServeThisProcess();

std::string HexBytes(const std::vector<BYTE> &bytes);
// Every accepted report of the interface as HexBytes, in arrival order.
std::vector<std::string> HexReports(const SimulatedSwitch &simulator, int id = SIM_ANY_INTERFACE);

// One overlapped read of a device as a program issues it (ReadFileEx): issued,
// then `meanwhile` done, then waited for (SimSwitchWaits.cpp, for tests).
struct InputRead {
    bool done = false;
    DWORD error = 0;
    std::string bytes;  // what it took, as HexBytes
};
InputRead ReadInputReport(HANDLE device, const std::function<void()> &meanwhile);
