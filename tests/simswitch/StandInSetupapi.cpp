// Stand-in setupapi.dll: lists the simulated switch's interfaces as the HID
// device interfaces present, and passes everything else to Wine's setupapi.
//   Sim_SetupDiGetClassDevsW            - a snapshot of the table for the HID class
//   Sim_SetupDiEnumDeviceInterfaces     - one interface of a snapshot
//   Sim_SetupDiGetDeviceInterfaceDetailW- its device path, with the size protocol of SetupAPI
//   Sim_SetupDiDestroyDeviceInfoList    - frees a snapshot
// A device information set that is not a snapshot goes to Wine's setupapi, so
// the rest of the system (monitors, adapters) is seen as usual.
#include "SimSwitchTable.h"
#include "StandInForwarding.h"

#include <setupapi.h>

#include <cstddef>
#include <set>
#include <string>
#include <vector>

extern const wchar_t SIM_REAL_DLL_NAME[] = L"setupapi.dll";

// The HID interface class, as HidD_GetHidGuid gives it.
static GUID const HID_INTERFACE_CLASS = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
static DWORD const SNAPSHOT_MAGIC = 0x50414E53;  // "SNAP"

struct Snapshot {
    DWORD magic;
    std::vector<std::wstring> devicePaths;
};

static SRWLOCK snapshotsLock = SRWLOCK_INIT;
static std::set<Snapshot *> *liveSnapshots = nullptr;

static Snapshot *AsSnapshot(HDEVINFO set)
{
    AcquireSRWLockShared(&snapshotsLock);
    bool known = liveSnapshots != nullptr && liveSnapshots->count((Snapshot *)set) != 0;
    ReleaseSRWLockShared(&snapshotsLock);
    return known ? (Snapshot *)set : nullptr;
}

typedef HDEVINFO(WINAPI *GetClassDevsProc)(const GUID *, PCWSTR, HWND, DWORD);
typedef BOOL(WINAPI *EnumInterfacesProc)(HDEVINFO, PSP_DEVINFO_DATA, const GUID *, DWORD,
                                         PSP_DEVICE_INTERFACE_DATA);
typedef BOOL(WINAPI *InterfaceDetailProc)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_W,
                                          DWORD, PDWORD, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI *DestroyListProc)(HDEVINFO);

static void RegisterThisProcess(const std::wstring &tableName)
{
    SimTableView view(tableName, false);
    if (!view.valid())
        return;
    SimLockedTable table(view);
    SimRegisterClient(*table, GetCurrentProcessId());
}

extern "C" HDEVINFO WINAPI Sim_SetupDiGetClassDevsW(const GUID *classGuid, PCWSTR enumerator, HWND parent,
                                                    DWORD flags)
{
    bool hidInterfaces = classGuid != nullptr && IsEqualGUID(*classGuid, HID_INTERFACE_CLASS) &&
                         enumerator == nullptr && (flags & DIGCF_DEVICEINTERFACE) != 0 &&
                         (flags & DIGCF_ALLCLASSES) == 0;
    if (hidInterfaces) {
        SimTableView view(SimTableName(), false);
        if (view.valid()) {
            Snapshot *snapshot = new Snapshot{SNAPSHOT_MAGIC, {}};
            {
                SimLockedTable table(view);
                for (const SimInterfaceRecord &record : table->interfaces) {
                    // Without DIGCF_PRESENT, SetupAPI lists interfaces of unplugged devices too.
                    if (record.state == SIM_SLOT_PRESENT ||
                        (record.state == SIM_SLOT_ABSENT && (flags & DIGCF_PRESENT) == 0))
                        snapshot->devicePaths.push_back(record.devicePath);
                }
                table->deviceInfoSetsCreated++;
                table->hidEnumerations++;
                SimRegisterClient(*table, GetCurrentProcessId());
            }
            AcquireSRWLockExclusive(&snapshotsLock);
            if (liveSnapshots == nullptr)
                liveSnapshots = new std::set<Snapshot *>;
            liveSnapshots->insert(snapshot);
            ReleaseSRWLockExclusive(&snapshotsLock);
            return (HDEVINFO)snapshot;
        }
    }
    GetClassDevsProc real = (GetClassDevsProc)SimRealProc("SetupDiGetClassDevsW");
    if (real == nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return INVALID_HANDLE_VALUE;
    }
    return real(classGuid, enumerator, parent, flags);
}

extern "C" BOOL WINAPI Sim_SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo,
                                                      const GUID *classGuid, DWORD memberIndex,
                                                      PSP_DEVICE_INTERFACE_DATA interfaceData)
{
    Snapshot *snapshot = AsSnapshot(set);
    if (snapshot == nullptr) {
        EnumInterfacesProc real = (EnumInterfacesProc)SimRealProc("SetupDiEnumDeviceInterfaces");
        return real != nullptr && real(set, deviceInfo, classGuid, memberIndex, interfaceData);
    }
    if (interfaceData == nullptr || classGuid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (!IsEqualGUID(*classGuid, HID_INTERFACE_CLASS) || memberIndex >= snapshot->devicePaths.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    interfaceData->InterfaceClassGuid = HID_INTERFACE_CLASS;
    interfaceData->Flags = SPINT_ACTIVE;
    interfaceData->Reserved = (ULONG_PTR)memberIndex + 1;  // 0 is never a valid member
    return TRUE;
}

extern "C" BOOL WINAPI Sim_SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                                           PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                           DWORD detailSize, PDWORD requiredSize,
                                                           PSP_DEVINFO_DATA deviceInfo)
{
    Snapshot *snapshot = AsSnapshot(set);
    if (snapshot == nullptr) {
        InterfaceDetailProc real = (InterfaceDetailProc)SimRealProc("SetupDiGetDeviceInterfaceDetailW");
        return real != nullptr && real(set, interfaceData, detail, detailSize, requiredSize, deviceInfo);
    }
    if (interfaceData == nullptr || interfaceData->Reserved == 0 ||
        interfaceData->Reserved > snapshot->devicePaths.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // SetupAPI checks the caller's structure sizes before the buffer size.
    if ((detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) ||
        (detail == nullptr && detailSize != 0)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const std::wstring &path = snapshot->devicePaths[interfaceData->Reserved - 1];
    DWORD needed = (DWORD)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           (path.size() + 1) * sizeof(WCHAR));
    if (requiredSize != nullptr)
        *requiredSize = needed;
    if (detail == nullptr || detailSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    CopyMemory(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    if (deviceInfo != nullptr && deviceInfo->cbSize == sizeof(SP_DEVINFO_DATA)) {
        deviceInfo->ClassGuid = HID_INTERFACE_CLASS;
        deviceInfo->DevInst = (DWORD)interfaceData->Reserved;
        deviceInfo->Reserved = 0;
    }
    return TRUE;
}

extern "C" BOOL WINAPI Sim_SetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    Snapshot *snapshot = AsSnapshot(set);
    if (snapshot == nullptr) {
        DestroyListProc real = (DestroyListProc)SimRealProc("SetupDiDestroyDeviceInfoList");
        return real != nullptr && real(set);
    }
    AcquireSRWLockExclusive(&snapshotsLock);
    liveSnapshots->erase(snapshot);
    ReleaseSRWLockExclusive(&snapshotsLock);
    delete snapshot;

    SimTableView view(SimTableName(), false);
    if (view.valid()) {
        SimLockedTable table(view);
        table->deviceInfoSetsDestroyed++;
    }
    return TRUE;
}

// Lets a test tell that this process got the stand-in rather than Wine's DLL.
extern "C" DWORD WINAPI SimSwitchStandIn()
{
    return SIM_TABLE_LAYOUT;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void *reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        // A program started while a simulator runs is known to it from the
        // start, so arrival notices can reach its windows.
        RegisterThisProcess(SimTableName());
    }
    return TRUE;
}

// The exports other Wine modules import from setupapi.dll (statically or on
// first use), passed on unchanged.
SIM_FORWARD(InstallHinfSectionA)
SIM_FORWARD(SetupCloseFileQueue)
SIM_FORWARD(SetupCloseInfFile)
SIM_FORWARD(SetupCommitFileQueueW)
SIM_FORWARD(SetupDefaultQueueCallbackA)
SIM_FORWARD(SetupDefaultQueueCallbackW)
SIM_FORWARD(SetupDiBuildDriverInfoList)
SIM_FORWARD(SetupDiCallClassInstaller)
SIM_FORWARD(SetupDiClassGuidsFromNameW)
SIM_FORWARD(SetupDiCreateDeviceInfoA)
SIM_FORWARD(SetupDiCreateDeviceInfoList)
SIM_FORWARD(SetupDiCreateDeviceInfoListExW)
SIM_FORWARD(SetupDiCreateDeviceInfoW)
SIM_FORWARD(SetupDiCreateDeviceInterfaceW)
SIM_FORWARD(SetupDiEnumDeviceInfo)
SIM_FORWARD(SetupDiGetClassDescriptionW)
SIM_FORWARD(SetupDiGetClassDevsA)
SIM_FORWARD(SetupDiGetClassDevsExA)
SIM_FORWARD(SetupDiGetClassDevsExW)
SIM_FORWARD(SetupDiGetDeviceInstallParamsW)
SIM_FORWARD(SetupDiGetDeviceInstanceIdA)
SIM_FORWARD(SetupDiGetDeviceInstanceIdW)
SIM_FORWARD(SetupDiGetDeviceInterfaceDetailA)
SIM_FORWARD(SetupDiGetDevicePropertyW)
SIM_FORWARD(SetupDiGetDeviceRegistryPropertyA)
SIM_FORWARD(SetupDiGetDeviceRegistryPropertyW)
SIM_FORWARD(SetupDiGetINFClassW)
SIM_FORWARD(SetupDiOpenDevRegKey)
SIM_FORWARD(SetupDiOpenDeviceInfoW)
SIM_FORWARD(SetupDiSetDeviceInstallParamsW)
SIM_FORWARD(SetupDiSetDevicePropertyW)
SIM_FORWARD(SetupDiSetDeviceRegistryPropertyA)
SIM_FORWARD(SetupDiSetDeviceRegistryPropertyW)
SIM_FORWARD(SetupFindFirstLineA)
SIM_FORWARD(SetupFindFirstLineW)
SIM_FORWARD(SetupFindNextLine)
SIM_FORWARD(SetupFindNextMatchLineW)
SIM_FORWARD(SetupGetFieldCount)
SIM_FORWARD(SetupGetFileCompressionInfoExA)
SIM_FORWARD(SetupGetIntField)
SIM_FORWARD(SetupGetLineTextA)
SIM_FORWARD(SetupGetLineTextW)
SIM_FORWARD(SetupGetStringFieldA)
SIM_FORWARD(SetupGetStringFieldW)
SIM_FORWARD(SetupInitDefaultQueueCallback)
SIM_FORWARD(SetupInitDefaultQueueCallbackEx)
SIM_FORWARD(SetupInstallFromInfSectionA)
SIM_FORWARD(SetupInstallFromInfSectionW)
SIM_FORWARD(SetupIterateCabinetA)
SIM_FORWARD(SetupIterateCabinetW)
SIM_FORWARD(SetupOpenFileQueue)
SIM_FORWARD(SetupOpenInfFileA)
SIM_FORWARD(SetupOpenInfFileW)
SIM_FORWARD(SetupQueueCopyW)
SIM_FORWARD(SetupSetDirectoryIdA)
SIM_FORWARD(SetupSetDirectoryIdW)
SIM_FORWARD(SetupTermDefaultQueueCallback)
