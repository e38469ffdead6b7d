// The simulated switch's interface table: a named shared memory block that
// the simulator writes and the stand-in setupapi.dll and hid.dll read, so a
// program that enumerates HID interfaces sees the interfaces a test presents.
//   SimTableName        - the table this process uses (SIMSWITCH_TABLE or "Default")
//   SimTableView        - opens (or creates) the block and its lock
//   SimLockedTable      - holds the lock for one look or one change
//   SimFindByPipeName   - the interface whose pipe a handle is connected to
//   SimRegisterClient   - notes a process that uses the table
//
// Nothing here may write to the debug output: the applet's own diagnostic
// lines are what the tests read there.
#pragma once

#include <windows.h>

#include <string>

// Environment variable naming the table; a test's simulator sets it so that
// it and the programs it starts share one table, apart from other tests.
wchar_t const SIM_TABLE_VARIABLE[] = L"SIMSWITCH_TABLE";
wchar_t const SIM_DEFAULT_TABLE[] = L"Default";

DWORD const SIM_TABLE_MAGIC = 0x53574953;     // "SIWS"
DWORD const SIM_TABLE_LAYOUT = 1;             // bump when the layout below changes
int const SIM_MAX_INTERFACES = 32;
int const SIM_MAX_CLIENTS = 16;
DWORD const SIM_PATH_CHARS = 2048;            // room for paths past the applet's 1023-character copy
DWORD const SIM_PIPE_CHARS = 256;             // the longest pipe name the system accepts

// State of one interface slot.
LONG const SIM_SLOT_FREE = 0;
LONG const SIM_SLOT_PRESENT = 1;              // plugged in: enumerated and served
LONG const SIM_SLOT_ABSENT = 2;               // unplugged: neither enumerated nor served

// How reading an interface's HID capabilities fails (none by default).
LONG const SIM_CAPS_READABLE = 0;
LONG const SIM_CAPS_PREPARSED_FAILS = 1;      // HidD_GetPreparsedData returns FALSE
LONG const SIM_CAPS_GETCAPS_FAILS = 2;        // HidP_GetCaps returns HIDP_STATUS_INVALID_PREPARSED_DATA

struct SimInterfaceRecord {
    LONG state;
    USHORT vendorId;
    USHORT productId;
    USHORT versionNumber;
    USHORT inputReportLength;
    USHORT outputReportLength;
    USHORT featureReportLength;
    USHORT usagePage;
    USHORT usage;
    LONG capsFailure;
    LONG attributesFail;                      // HidD_GetAttributes returns FALSE
    WCHAR devicePath[SIM_PATH_CHARS];         // as SetupDiGetDeviceInterfaceDetailW gives it
    WCHAR pipeName[SIM_PIPE_CHARS];           // the pipe behind it (without \\.\pipe\), empty when none
};

struct SimTableBlock {
    DWORD magic;
    DWORD layout;
    DWORD hostProcessId;
    // Statistics kept by the stand-in DLLs, for leak checks.
    LONG deviceInfoSetsCreated;
    LONG deviceInfoSetsDestroyed;
    LONG preparsedDataAllocated;
    LONG preparsedDataFreed;
    LONG hidEnumerations;                     // SetupDiGetClassDevsW calls for the HID class
    DWORD clients[SIM_MAX_CLIENTS];           // processes that loaded the stand-in DLLs
    SimInterfaceRecord interfaces[SIM_MAX_INTERFACES];
};

// The table this process uses.
std::wstring SimTableName();

class SimTableView {
public:
    // create: make the block when missing (the simulator); otherwise open only.
    SimTableView(const std::wstring &tableName, bool create);
    ~SimTableView();
    SimTableView(const SimTableView &) = delete;
    SimTableView &operator=(const SimTableView &) = delete;

    bool valid() const { return block_ != nullptr; }
    SimTableBlock *block() const { return block_; }
    void lock();
    void unlock();

private:
    HANDLE mapping_ = nullptr;
    HANDLE mutex_ = nullptr;
    SimTableBlock *block_ = nullptr;
};

class SimLockedTable {
public:
    explicit SimLockedTable(SimTableView &view) : view_(view) { view_.lock(); }
    ~SimLockedTable() { view_.unlock(); }
    SimTableBlock *operator->() const { return view_.block(); }
    SimTableBlock &operator*() const { return *view_.block(); }

private:
    SimTableView &view_;
};

// The plugged-in slot whose pipe has this name (any letter case), or -1. Caller holds the lock.
int SimFindByPipeName(const SimTableBlock &table, const wchar_t *pipeName);
// Adds the process to the table's clients unless it is there. Caller holds the lock.
void SimRegisterClient(SimTableBlock &table, DWORD processId);
// The pipe name inside a device path (after \\?\pipe\ or \\.\pipe\), or empty.
std::wstring SimPipeNameOf(const std::wstring &devicePath);
