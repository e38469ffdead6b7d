// Stand-in hid.dll: answers the HID questions about a handle opened on one of
// the simulated switch's interfaces (its attributes and capabilities) from the
// interface table, and passes every other handle to Wine's hid.dll.
//   Sim_HidD_GetHidGuid        - the HID interface class
//   Sim_HidD_GetAttributes     - vendor, product and version of the interface
//   Sim_HidD_GetPreparsedData  - a small block that carries the report lengths
//   Sim_HidP_GetCaps           - the capabilities from that block
//   Sim_HidD_FreePreparsedData - releases the block
// A handle belongs to the simulator when it is a pipe whose name is one of the
// table's pipe names; the name comes from the handle itself. Asked about such
// a handle, the stand-in also has it read whole reports (ReadWholeReports).
#include "SimSwitchTable.h"
#include "StandInForwarding.h"

extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cstring>

extern const wchar_t SIM_REAL_DLL_NAME[] = L"hid.dll";

static GUID const HID_INTERFACE_CLASS = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
static char const PREPARSED_MAGIC[8] = {'S', 'i', 'm', 'P', 'r', 'e', 'p', 0};

// What HidD_GetPreparsedData hands out for a simulated interface.
struct SimPreparsedData {
    char magic[8];
    LONG capsFailure;
    USHORT usagePage;
    USHORT usage;
    USHORT inputReportLength;
    USHORT outputReportLength;
    USHORT featureReportLength;
};

typedef BOOLEAN(WINAPI *GetAttributesProc)(HANDLE, PHIDD_ATTRIBUTES);
typedef BOOLEAN(WINAPI *GetPreparsedProc)(HANDLE, PHIDP_PREPARSED_DATA *);
typedef BOOLEAN(WINAPI *FreePreparsedProc)(PHIDP_PREPARSED_DATA);
typedef NTSTATUS(WINAPI *GetCapsProc)(PHIDP_PREPARSED_DATA, PHIDP_CAPS);

// The table slot of the interface this handle is open on, or -1. The caller
// holds the table's lock.
static int SlotOfHandle(const SimTableBlock &table, HANDLE handle)
{
    if (GetFileType(handle) != FILE_TYPE_PIPE)
        return -1;
    union {
        FILE_NAME_INFO info;
        BYTE bytes[sizeof(FILE_NAME_INFO) + SIM_PIPE_CHARS * sizeof(WCHAR)];
    } name;
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, &name, sizeof(name)))
        return -1;
    // The pipe's name comes back as "\<name>".
    wchar_t pipeName[SIM_PIPE_CHARS] = {};
    DWORD chars = name.info.FileNameLength / sizeof(WCHAR);
    const WCHAR *text = name.info.FileName;
    if (chars > 0 && text[0] == L'\\') {
        ++text;
        --chars;
    }
    if (chars == 0 || chars >= SIM_PIPE_CHARS)
        return -1;
    memcpy(pipeName, text, chars * sizeof(WCHAR));
    return SimFindByPipeName(table, pipeName);
}

// HID hands out one input report per read, however many are waiting; the
// client's end of a pipe reads bytes unless told otherwise, and would run two
// waiting reports together. The programs ask about a handle before they read it.
static void ReadWholeReports(HANDLE device)
{
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(device, &mode, nullptr, nullptr);
}

extern "C" void WINAPI Sim_HidD_GetHidGuid(LPGUID guid)
{
    *guid = HID_INTERFACE_CLASS;
}

extern "C" BOOLEAN WINAPI Sim_HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes)
{
    SimTableView view(SimTableName(), false);
    if (view.valid()) {
        SimLockedTable table(view);
        int slot = SlotOfHandle(*table, device);
        if (slot >= 0) {
            ReadWholeReports(device);
            const SimInterfaceRecord &record = table->interfaces[slot];
            if (record.attributesFail) {
                SetLastError(ERROR_INVALID_FUNCTION);
                return FALSE;
            }
            attributes->Size = sizeof(HIDD_ATTRIBUTES);
            attributes->VendorID = record.vendorId;
            attributes->ProductID = record.productId;
            attributes->VersionNumber = record.versionNumber;
            return TRUE;
        }
    }
    GetAttributesProc real = (GetAttributesProc)SimRealProc("HidD_GetAttributes");
    return real != nullptr && real(device, attributes);
}

extern "C" BOOLEAN WINAPI Sim_HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA *preparsed)
{
    SimTableView view(SimTableName(), false);
    if (view.valid()) {
        SimLockedTable table(view);
        int slot = SlotOfHandle(*table, device);
        if (slot >= 0) {
            ReadWholeReports(device);
            const SimInterfaceRecord &record = table->interfaces[slot];
            if (record.capsFailure == SIM_CAPS_PREPARSED_FAILS) {
                SetLastError(ERROR_INVALID_FUNCTION);
                return FALSE;
            }
            SimPreparsedData *data =
                (SimPreparsedData *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SimPreparsedData));
            if (data == nullptr)
                return FALSE;
            memcpy(data->magic, PREPARSED_MAGIC, sizeof(PREPARSED_MAGIC));
            data->capsFailure = record.capsFailure;
            data->usagePage = record.usagePage;
            data->usage = record.usage;
            data->inputReportLength = record.inputReportLength;
            data->outputReportLength = record.outputReportLength;
            data->featureReportLength = record.featureReportLength;
            table->preparsedDataAllocated++;
            *preparsed = (PHIDP_PREPARSED_DATA)data;
            return TRUE;
        }
    }
    GetPreparsedProc real = (GetPreparsedProc)SimRealProc("HidD_GetPreparsedData");
    return real != nullptr && real(device, preparsed);
}

static SimPreparsedData *AsSimPreparsed(PHIDP_PREPARSED_DATA preparsed)
{
    // Wine's own preparsed data starts with a magic of its own, at least as long.
    SimPreparsedData *data = (SimPreparsedData *)preparsed;
    if (data == nullptr || memcmp(data->magic, PREPARSED_MAGIC, sizeof(PREPARSED_MAGIC)) != 0)
        return nullptr;
    return data;
}

extern "C" NTSTATUS WINAPI Sim_HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps)
{
    SimPreparsedData *data = AsSimPreparsed(preparsed);
    if (data == nullptr) {
        GetCapsProc real = (GetCapsProc)SimRealProc("HidP_GetCaps");
        return real != nullptr ? real(preparsed, caps) : HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    if (data->capsFailure == SIM_CAPS_GETCAPS_FAILS)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    ZeroMemory(caps, sizeof(*caps));
    caps->UsagePage = data->usagePage;
    caps->Usage = data->usage;
    caps->InputReportByteLength = data->inputReportLength;
    caps->OutputReportByteLength = data->outputReportLength;
    caps->FeatureReportByteLength = data->featureReportLength;
    caps->NumberLinkCollectionNodes = 1;
    return HIDP_STATUS_SUCCESS;
}

extern "C" BOOLEAN WINAPI Sim_HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed)
{
    SimPreparsedData *data = AsSimPreparsed(preparsed);
    if (data == nullptr) {
        FreePreparsedProc real = (FreePreparsedProc)SimRealProc("HidD_FreePreparsedData");
        return real != nullptr && real(preparsed);
    }
    data->magic[0] = 0;  // a second free of the same block is then not taken for ours
    HeapFree(GetProcessHeap(), 0, data);
    SimTableView view(SimTableName(), false);
    if (view.valid()) {
        SimLockedTable table(view);
        table->preparsedDataFreed++;
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
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}

// The rest of hid.dll's exports, passed on unchanged.
SIM_FORWARD(HidD_FlushQueue)
SIM_FORWARD(HidD_GetConfiguration)
SIM_FORWARD(HidD_GetFeature)
SIM_FORWARD(HidD_GetIndexedString)
SIM_FORWARD(HidD_GetInputReport)
SIM_FORWARD(HidD_GetManufacturerString)
SIM_FORWARD(HidD_GetMsGenreDescriptor)
SIM_FORWARD(HidD_GetNumInputBuffers)
SIM_FORWARD(HidD_GetPhysicalDescriptor)
SIM_FORWARD(HidD_GetProductString)
SIM_FORWARD(HidD_GetSerialNumberString)
SIM_FORWARD(HidD_Hello)
SIM_FORWARD(HidD_SetConfiguration)
SIM_FORWARD(HidD_SetFeature)
SIM_FORWARD(HidD_SetNumInputBuffers)
SIM_FORWARD(HidD_SetOutputReport)
SIM_FORWARD(HidP_GetButtonCaps)
SIM_FORWARD(HidP_GetData)
SIM_FORWARD(HidP_GetExtendedAttributes)
SIM_FORWARD(HidP_GetLinkCollectionNodes)
SIM_FORWARD(HidP_GetScaledUsageValue)
SIM_FORWARD(HidP_GetSpecificButtonCaps)
SIM_FORWARD(HidP_GetSpecificValueCaps)
SIM_FORWARD(HidP_GetUsageValue)
SIM_FORWARD(HidP_GetUsageValueArray)
SIM_FORWARD(HidP_GetUsages)
SIM_FORWARD(HidP_GetUsagesEx)
SIM_FORWARD(HidP_GetValueCaps)
SIM_FORWARD(HidP_InitializeReportForID)
SIM_FORWARD(HidP_MaxDataListLength)
SIM_FORWARD(HidP_MaxUsageListLength)
SIM_FORWARD(HidP_SetData)
SIM_FORWARD(HidP_SetScaledUsageValue)
SIM_FORWARD(HidP_SetUsageValue)
SIM_FORWARD(HidP_SetUsageValueArray)
SIM_FORWARD(HidP_SetUsages)
SIM_FORWARD(HidP_TranslateUsagesToI8042ScanCodes)
SIM_FORWARD(HidP_UnsetUsages)
SIM_FORWARD(HidP_UsageListDifference)
