// Finding and opening the switch among the HID interfaces.
//   switchIdTable          - the device-path texts that identify the switch
//   CopyPathForMatching    - the upper-case copy of a path that matching reads
//   PathHoldsSwitchId      - does an upper-case text hold a row of the table
//   PathHoldsNoAudioId     - does it hold a row of the no-audio variant
//   PathHoldsVideoSwitchId - does it hold a row of a switch with video
//   MatchesBySerialKey     - the older-Windows match through HKLM "Enum\HID"
//   ForEachHidInterface    - the enumeration both ways in share
//   ReadOutputReportLength - the output report length from the HID capabilities
//   FindSwitchDevice       - open one switch interface for one exchange
//   HidDeviceSet           - the watcher's set of open switch interfaces
#include "Device.h"

#include <cstdlib>
#include <cwchar>

const wchar_t *const switchIdTable[SWITCH_ID_ROWS] = {
    L"VID_7E51&PID_5A01&COL01", L"VID_7E51&PID_5A02&COL01", L"VID_7E51&PID_5A03&COL01",
    L"VID_7E51&PID_5A04&COL01", L"VID_7E51&PID_5A05&MI_00", L"VID_7E51&PID_5A06&MI_00",
};

// Rows of the table (from 0) by what the switch carries: the switches with
// video take the resolution and border reports; the no-audio variant.
static int const VIDEO_ROWS[] = {2, 3};
static int const NO_AUDIO_ROWS[] = {4, 5};

static DWORD const SWITCH_ACCESS = GENERIC_READ | GENERIC_WRITE;
static DWORD const SWITCH_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;
static wchar_t const SERIAL_ROOT_KEY[] = L"Enum\\HID";
static wchar_t const SERIAL_VALUE[] = L"Serial";
static DWORD const KEY_NAME_CHARS = 1024;
static DWORD const SERIAL_DATA_BYTES = 2048;
static DWORD const SERIAL_TEXT_CHARS = 64;
static DWORD const WINDOWS_2000_MAJOR = 5;

// SetupAPI checks cbSize against the fixed part of the record for 32-bit callers.
#if !defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6, "the 32-bit detail record");
#endif

void CopyPathForMatching(const wchar_t *devicePath, wchar_t (&matchingCopy)[MATCHING_COPY_CHARS])
{
    // A zero-filled buffer and at most one character less than it holds: the
    // copy always ends in a terminator, however long the path.
    wmemset(matchingCopy, L'\0', MATCHING_COPY_CHARS);
    wcsncpy(matchingCopy, devicePath, MATCHING_COPY_CHARS - 1);
    CharUpperW(matchingCopy);
}

bool PathHoldsSwitchId(const wchar_t *upperPath)
{
    for (const wchar_t *row : switchIdTable) {
        if (wcsstr(upperPath, row) != nullptr)
            return true;
    }
    return false;
}

template <size_t N> static bool PathHoldsRow(const wchar_t *upperPath, const int (&rows)[N])
{
    for (int row : rows) {
        if (wcsstr(upperPath, switchIdTable[row]) != nullptr)
            return true;
    }
    return false;
}

bool PathHoldsNoAudioId(const wchar_t *upperPath)
{
    return PathHoldsRow(upperPath, NO_AUDIO_ROWS);
}

bool PathHoldsVideoSwitchId(const wchar_t *upperPath)
{
    return PathHoldsRow(upperPath, VIDEO_ROWS);
}

// Does the upper-case path hold the serial number stored in this instance key?
static bool PathHoldsSerial(HKEY instanceKey, const wchar_t *upperPath)
{
    // Zero-filled: a serial shorter than eight bytes must read as a number
    // with leading zero bytes, not with whatever the stack held before.
    BYTE data[SERIAL_DATA_BYTES] = {};
    DWORD size = sizeof(data);
    if (RegQueryValueExW(instanceKey, SERIAL_VALUE, nullptr, nullptr, data, &size) != ERROR_SUCCESS)
        return false;
    unsigned long long serial = 0;
    for (int index = 7; index >= 0; --index)
        serial = (serial << 8) | data[index];
    wchar_t serialText[SERIAL_TEXT_CHARS] = {};
    _snwprintf(serialText, SERIAL_TEXT_CHARS - 1, L"%016I64x", serial);
    CharUpperW(serialText);
    return wcsstr(upperPath, serialText) != nullptr;
}

// Windows before 2000 names HID interfaces without the collection part: the
// switch is the device whose serial, listed under a switch device key, is in the path.
bool MatchesBySerialKey(const wchar_t *upperPath)
{
    HKEY hidKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SERIAL_ROOT_KEY, 0, KEY_READ, &hidKey) != ERROR_SUCCESS)
        return false;
    bool matched = false;
    wchar_t deviceKeyName[KEY_NAME_CHARS];
    for (DWORD deviceIndex = 0; RegEnumKeyW(hidKey, deviceIndex, deviceKeyName, KEY_NAME_CHARS) == ERROR_SUCCESS;
         ++deviceIndex) {
        CharUpperW(deviceKeyName);
        if (!PathHoldsSwitchId(deviceKeyName))
            continue;
        HKEY deviceKey = nullptr;
        if (RegOpenKeyW(hidKey, deviceKeyName, &deviceKey) != ERROR_SUCCESS)
            continue;
        wchar_t instanceName[KEY_NAME_CHARS];
        for (DWORD instanceIndex = 0;
             RegEnumKeyW(deviceKey, instanceIndex, instanceName, KEY_NAME_CHARS) == ERROR_SUCCESS; ++instanceIndex) {
            HKEY instanceKey = nullptr;
            if (RegOpenKeyW(deviceKey, instanceName, &instanceKey) != ERROR_SUCCESS)
                continue;
            if (PathHoldsSerial(instanceKey, upperPath)) {
                matched = true;
                if (PathHoldsNoAudioId(deviceKeyName))
                    appState.noAudio = 1;
            }
            RegCloseKey(instanceKey);
        }
        RegCloseKey(deviceKey);
    }
    RegCloseKey(hidKey);
    return matched;
}

typedef void (*HidPathVisitor)(const wchar_t *devicePath, void *context);

// Hands the device path of every HID interface present to visit(). The set,
// interface data and detail buffer are the caller's, so that HidDeviceSet
// keeps them in its own fields. False when the system gave no list at all.
static bool ForEachHidInterface(const GUID &classGuid, HDEVINFO &deviceInfoSet,
                                SP_DEVICE_INTERFACE_DATA &interfaceData,
                                PSP_DEVICE_INTERFACE_DETAIL_DATA_W &detailData, HidPathVisitor visit, void *context)
{
    deviceInfoSet = SetupDiGetClassDevsW(&classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (deviceInfoSet == INVALID_HANDLE_VALUE)
        return false;
    interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    for (DWORD memberIndex = 0;
         SetupDiEnumDeviceInterfaces(deviceInfoSet, nullptr, &classGuid, memberIndex, &interfaceData);
         ++memberIndex) {
        DWORD requiredSize = 0;
        if (SetupDiGetDeviceInterfaceDetailW(deviceInfoSet, &interfaceData, nullptr, 0, &requiredSize, nullptr) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            continue;
        detailData = (PSP_DEVICE_INTERFACE_DETAIL_DATA_W)malloc(requiredSize);
        if (detailData == nullptr)
            continue;
        detailData->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (SetupDiGetDeviceInterfaceDetailW(deviceInfoSet, &interfaceData, detailData, requiredSize, nullptr,
                                             nullptr))
            visit(detailData->DevicePath, context);
        free(detailData);
        detailData = nullptr;
    }
    SetupDiDestroyDeviceInfoList(deviceInfoSet);
    deviceInfoSet = INVALID_HANDLE_VALUE;
    return true;
}

static HANDLE OpenSwitchInterface(const wchar_t *devicePath, DWORD flags)
{
    return CreateFileW(devicePath, SWITCH_ACCESS, SWITCH_SHARING, nullptr, OPEN_EXISTING, flags, nullptr);
}

// True when the capabilities could be read; *length is then the device's
// output report length, report id included.
static bool ReadOutputReportLength(HANDLE device, DWORD *length)
{
    PHIDP_PREPARSED_DATA preparsedData = nullptr;
    if (!HidD_GetPreparsedData(device, &preparsedData))
        return false;
    HIDP_CAPS capabilities = {};
    bool read = HidP_GetCaps(preparsedData, &capabilities) == HIDP_STATUS_SUCCESS;
    if (read)
        *length = capabilities.OutputReportByteLength;
    HidD_FreePreparsedData(preparsedData);
    return read;
}

struct FindContext {
    HANDLE device;
    DWORD *outputReportLength;
};

static void OpenIfSwitch(const wchar_t *devicePath, void *context)
{
    FindContext *find = static_cast<FindContext *>(context);
    wchar_t upperPath[MATCHING_COPY_CHARS];
    CopyPathForMatching(devicePath, upperPath);
    bool matches;
    if (appState.osVersion.dwMajorVersion >= WINDOWS_2000_MAJOR) {
        matches = PathHoldsSwitchId(upperPath);
        if (PathHoldsNoAudioId(upperPath))
            appState.noAudio = 1;
    } else {
        matches = MatchesBySerialKey(upperPath);
    }
    if (!matches)
        return;

    // The full path, not the matching copy: only matching is cut short.
    HANDLE device = OpenSwitchInterface(devicePath, 0);
    if (device != INVALID_HANDLE_VALUE) {
        appState.deviceAttributes.Size = sizeof(HIDD_ATTRIBUTES);
        HidD_GetAttributes(device, &appState.deviceAttributes);
        *find->outputReportLength = 0;
        ReadOutputReportLength(device, find->outputReportLength);
    }
    // The last match decides; an earlier one is not left open.
    if (find->device != INVALID_HANDLE_VALUE)
        CloseHandle(find->device);
    find->device = device;
}

HANDLE FindSwitchDevice(DWORD *outputReportLength)
{
    if (outputReportLength == nullptr)
        return INVALID_HANDLE_VALUE;
    *outputReportLength = 0;
    GUID classGuid = {};
    HidD_GetHidGuid(&classGuid);

    FindContext find = {INVALID_HANDLE_VALUE, outputReportLength};
    HDEVINFO deviceInfoSet = INVALID_HANDLE_VALUE;
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W detailData = nullptr;
    ForEachHidInterface(classGuid, deviceInfoSet, interfaceData, detailData, OpenIfSwitch, &find);
    return find.device;
}

HidDeviceSet::HidDeviceSet()
    : deviceInfoSet(INVALID_HANDLE_VALUE), interfaceData{}, detailData(nullptr), count(0), classGuid{},
      outputReportLength(0), overlapped(false)
{
    interfaceData.cbSize = sizeof(interfaceData);
    for (HANDLE &handle : handles)
        handle = INVALID_HANDLE_VALUE;
    HidD_GetHidGuid(&classGuid);
}

void HidDeviceSet::setOverlapped()
{
    overlapped = true;
}

void HidDeviceSet::openIfSwitch(const wchar_t *devicePath)
{
    // The whole path, with no cap on its length.
    if (count >= HID_SET_HANDLES)
        return;
    size_t pathChars = wcslen(devicePath);
    wchar_t *upperPath = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, (pathChars + 1) * sizeof(wchar_t));
    if (upperPath == nullptr)
        return;
    CopyMemory(upperPath, devicePath, (pathChars + 1) * sizeof(wchar_t));
    CharUpperBuffW(upperPath, (DWORD)pathChars);
    bool isSwitch = PathHoldsSwitchId(upperPath);
    HeapFree(GetProcessHeap(), 0, upperPath);
    if (!isSwitch)
        return;
    HANDLE device = OpenSwitchInterface(devicePath, overlapped ? FILE_FLAG_OVERLAPPED : 0);
    handles[count] = device;
    if (device == INVALID_HANDLE_VALUE)
        return;  // a failed open takes no slot
    DWORD length = 0;
    if (ReadOutputReportLength(device, &length))
        outputReportLength = length;
    count++;
}

static void OpenIfSwitchIntoSet(const wchar_t *devicePath, void *context)
{
    static_cast<HidDeviceSet *>(context)->openIfSwitch(devicePath);
}

int HidDeviceSet::openAll()
{
    if (!ForEachHidInterface(classGuid, deviceInfoSet, interfaceData, detailData, OpenIfSwitchIntoSet, this))
        return 0;
    return (int)count;
}

void HidDeviceSet::closeAll()
{
    for (HANDLE handle : handles) {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
}
