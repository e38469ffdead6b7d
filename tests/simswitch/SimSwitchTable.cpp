// The shared interface table of the simulated switch (see SimSwitchTable.h).
#include "SimSwitchTable.h"

#include <cwchar>

static std::wstring const MAPPING_PREFIX = L"SimSwitchTable.";
static std::wstring const MUTEX_PREFIX = L"SimSwitchLock.";

std::wstring SimTableName()
{
    wchar_t name[128] = {};
    DWORD length = GetEnvironmentVariableW(SIM_TABLE_VARIABLE, name, 128);
    if (length == 0 || length >= 128)
        return SIM_DEFAULT_TABLE;
    return name;
}

SimTableView::SimTableView(const std::wstring &tableName, bool create)
{
    std::wstring mappingName = MAPPING_PREFIX + tableName;
    std::wstring mutexName = MUTEX_PREFIX + tableName;
    bool fresh = false;
    if (create) {
        mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SimTableBlock),
                                      mappingName.c_str());
        fresh = mapping_ != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
        mutex_ = CreateMutexW(nullptr, FALSE, mutexName.c_str());
    } else {
        mapping_ = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, mappingName.c_str());
        mutex_ = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, mutexName.c_str());
    }
    if (mapping_ == nullptr || mutex_ == nullptr)
        return;
    block_ = (SimTableBlock *)MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SimTableBlock));
    if (block_ == nullptr)
        return;
    if (fresh) {
        lock();
        ZeroMemory(block_, sizeof(SimTableBlock));
        block_->magic = SIM_TABLE_MAGIC;
        block_->layout = SIM_TABLE_LAYOUT;
        block_->hostProcessId = GetCurrentProcessId();
        unlock();
    } else if (block_->magic != SIM_TABLE_MAGIC || block_->layout != SIM_TABLE_LAYOUT) {
        // A block from another build of the simulator: do not guess at its layout.
        UnmapViewOfFile(block_);
        block_ = nullptr;
    }
}

SimTableView::~SimTableView()
{
    if (block_ != nullptr)
        UnmapViewOfFile(block_);
    if (mutex_ != nullptr)
        CloseHandle(mutex_);
    if (mapping_ != nullptr)
        CloseHandle(mapping_);
}

void SimTableView::lock()
{
    // An owner that died still leaves a consistent table: every change is a few stores.
    WaitForSingleObject(mutex_, INFINITE);
}

void SimTableView::unlock()
{
    ReleaseMutex(mutex_);
}

int SimFindByPipeName(const SimTableBlock &table, const wchar_t *pipeName)
{
    for (int slot = 0; slot < SIM_MAX_INTERFACES; ++slot) {
        const SimInterfaceRecord &record = table.interfaces[slot];
        // An unplugged interface answers nothing, like a removed device.
        if (record.state == SIM_SLOT_PRESENT && record.pipeName[0] != L'\0' &&
            _wcsicmp(record.pipeName, pipeName) == 0)
            return slot;
    }
    return -1;
}

void SimRegisterClient(SimTableBlock &table, DWORD processId)
{
    int freeSlot = -1;
    for (int index = 0; index < SIM_MAX_CLIENTS; ++index) {
        if (table.clients[index] == processId)
            return;
        if (table.clients[index] == 0 && freeSlot < 0)
            freeSlot = index;
    }
    if (freeSlot < 0) {
        // Full: the oldest entries are most likely processes that have ended.
        MoveMemory(&table.clients[0], &table.clients[1], sizeof(DWORD) * (SIM_MAX_CLIENTS - 1));
        freeSlot = SIM_MAX_CLIENTS - 1;
    }
    table.clients[freeSlot] = processId;
}

std::wstring SimPipeNameOf(const std::wstring &devicePath)
{
    static const wchar_t *const prefixes[] = {L"\\\\?\\pipe\\", L"\\\\.\\pipe\\"};
    for (const wchar_t *prefix : prefixes) {
        size_t length = wcslen(prefix);
        if (devicePath.size() > length && _wcsnicmp(devicePath.c_str(), prefix, length) == 0) {
            std::wstring name = devicePath.substr(length);
            if (name.find(L'\\') == std::wstring::npos && name.size() < SIM_PIPE_CHARS)
                return name;
        }
    }
    return L"";
}
