// The simulated switch (see SimulatedSwitch.h and README.md).
//   HidInterface, SwitchInterface, SimPaddedPath - describing interfaces
//   SimulatedSwitch::State  - the serving thread: one I/O completion port for
//                             every pipe instance, and commands posted to it
//   SimulatedSwitch         - the test's side: table, records, notices (its waits
//                             are in SimSwitchWaits.cpp)
//   SimStandInsServeThisProcess, HexBytes
//
// Each interface is a named pipe. Spare instances always wait for a client,
// because the applet opens the switch afresh for every report and never waits
// for a busy pipe; each connection gets a new spare at once. The spares must
// cover a whole burst of opens while this thread gets no processor at all:
// so as many as the largest burst (twenty quick border requests, sixty
// reports), and some. With sixteen, a heavily loaded machine once received
// 58 of those 60, the two missing ones from the middle of the burst; spares
// running out is the likely cause, not a proven one.
#include "SimulatedSwitch.h"
#include "SimSwitchTable.h"

#include <dbt.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>

const wchar_t *const SIM_HID_CLASS_TEXT = L"{4d1e55b2-f16f-11cf-88cb-001111000030}";

static GUID const HID_INTERFACE_CLASS = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
static wchar_t const PIPE_PREFIX[] = L"\\\\.\\pipe\\";
static wchar_t const DEVICE_PIPE_PREFIX[] = L"\\\\?\\pipe\\";
static wchar_t const STAND_IN_OVERRIDE[] = L"setupapi,hid=n,b";
static wchar_t const DLL_OVERRIDES_VARIABLE[] = L"WINEDLLOVERRIDES";
static wchar_t const SERIAL_ROOT[] = L"Enum\\HID";
static DWORD const PIPE_BUFFER_BYTES = 4096;
static DWORD const READ_BUFFER_BYTES = 65536;
static int const SPARE_INSTANCES = 72;
static ULONG_PTR const COMMAND_KEY = 1;
static ULONG_PTR const PIPE_KEY = 2;
static DWORD const NOTICE_TIMEOUT_MS = 10000;
static DWORD const STOP_DRAIN_MS = 2000;

static LONG instanceCounter = 0;

// ---------------------------------------------------------------------------
// Describing interfaces

SimInterface HidInterface(const std::wstring &hardwareId, USHORT vendorId, USHORT productId)
{
    // A device instance part of its own, so no two simulators (or tests) share a pipe.
    wchar_t instance[64];
    _snwprintf(instance, 64, L"7&5%lx&%lx&0000", GetCurrentProcessId(), InterlockedIncrement(&instanceCounter));
    instance[63] = L'\0';
    SimInterface description;
    description.devicePath = std::wstring(DEVICE_PIPE_PREFIX) + L"hid#" + hardwareId + L"#" + instance + L"#" +
                             SIM_HID_CLASS_TEXT;
    description.pipeName = SimPipeNameOf(description.devicePath);
    description.vendorId = vendorId;
    description.productId = productId;
    return description;
}

SimInterface SwitchInterface(USHORT productId, USHORT versionNumber, USHORT outputReportLength)
{
    // The no-audio models show the switch as USB interface 0, the others as HID collection 1.
    bool noAudioModel = productId == 0x5A05 || productId == 0x5A06;
    wchar_t hardwareId[64];
    _snwprintf(hardwareId, 64, L"vid_7e51&pid_%04x&%ls", productId, noAudioModel ? L"mi_00" : L"col01");
    hardwareId[63] = L'\0';
    SimInterface description = HidInterface(hardwareId, 0x7E51, productId);
    description.versionNumber = versionNumber;
    description.outputReportLength = outputReportLength;
    return description;
}

// Path segments that the system's path folding removes: "<y...>\..\" (or
// "\<y...>\.." at the end), together exactly `chars` long (0, or 5 and more).
static std::wstring FoldedFiller(size_t chars, bool trailing)
{
    std::wstring filler;
    while (chars >= 5) {
        size_t take = chars;
        if (take > 204)
            take = chars - 204 >= 5 ? 204 : chars - 5;
        std::wstring name(take - 4, L'y');
        filler += trailing ? L"\\" + name + L"\\.." : name + L"\\..\\";
        chars -= take;
    }
    return filler;
}

std::wstring SimPaddedPath(const std::wstring &pipeName, size_t leadingChars, size_t totalChars)
{
    size_t prefixChars = wcslen(PIPE_PREFIX);
    size_t leading = leadingChars > prefixChars ? leadingChars - prefixChars : 0;
    if (leading > 0 && leading < 5)
        leading = 5;  // the shortest filler there is
    std::wstring path = PIPE_PREFIX + FoldedFiller(leading, false) + pipeName;
    if (totalChars > path.size()) {
        size_t trailing = totalChars - path.size();
        path += FoldedFiller(trailing < 5 ? 5 : trailing, true);
    }
    return path;
}

// ---------------------------------------------------------------------------
// The serving thread

namespace {

struct PipeInstance;

enum class IoKind { Connect, Read, Write };

struct IoOperation {
    OVERLAPPED overlapped = {};
    IoKind kind = IoKind::Read;
    PipeInstance *instance = nullptr;
    std::vector<BYTE> buffer;
};

struct PipeInstance {
    int interfaceId = -1;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    bool connected = false;
    bool closed = false;
    int pendingOperations = 0;
    IoOperation connect;
    IoOperation read;
    std::vector<BYTE> partialMessage;
};

struct Command {
    std::function<void()> work;
    HANDLE done = nullptr;
};

struct InterfaceEntry {
    SimInterface description;
    int tableSlot = -1;
    bool present = false;           // guarded by the mutex
    int openCount = 0;              // guarded by the mutex
    int totalOpens = 0;             // guarded by the mutex
    std::list<PipeInstance *> instances;  // serving thread only
};

}  // namespace

struct SimulatedSwitch::State {
    std::wstring tableName;
    std::unique_ptr<SimTableView> table;
    HANDLE port = nullptr;
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    bool stopping = false;          // serving thread only

    mutable std::mutex mutex;
    HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // at each open, close and write, for the waits
    std::vector<InterfaceEntry> interfaces;  // reserved up front: entries never move
    std::vector<SimReport> writes;
    DWORD lastActivity = 0;
    std::function<void(const SimEvent &)> listener;
    HWND notifyWindow = nullptr;
    std::wstring notifyClass = L"Morvax";

    std::vector<std::wstring> serialDeviceKeys;
    bool madeEnumKey = false;
    bool madeHidKey = false;

    bool ownsEnvironment = false;
    bool hadTableVariable = false;
    std::wstring oldTableVariable;
    bool hadOverrides = false;
    std::wstring oldOverrides;

    static DWORD WINAPI ThreadMain(void *self);
    void serve();
    void runOnServer(const std::function<void()> &work);
    void complete(IoOperation *operation, BOOL ok, DWORD bytes, DWORD error);
    void createInstance(int id);
    void connected(PipeInstance *instance);
    void startRead(PipeInstance *instance);
    // Closing leaves the instance in place until its last operation has come
    // back through the port: whoever closes it calls releaseIfDone once after.
    void closeInstance(PipeInstance *instance);
    void releaseIfDone(PipeInstance *instance);
    void closeInterface(int id);
    void record(int id, const std::vector<BYTE> &bytes);
    void emit(const SimEvent &event);
    void emit(SimEvent::Kind kind, int id, int openCount = 0, const SimReport &report = SimReport());
    void touch();
    bool tookEveryClosedConnection();
    int sendInput(int id, const std::vector<BYTE> &report);
    std::vector<HWND> noticeTargets();
    void sendNotices(int id, bool arrival, DWORD notify);
};

DWORD WINAPI SimulatedSwitch::State::ThreadMain(void *self)
{
    static_cast<State *>(self)->serve();
    return 0;
}

void SimulatedSwitch::State::serve()
{
    for (;;) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED *overlapped = nullptr;
        BOOL ok = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, stopping ? STOP_DRAIN_MS : INFINITE);
        DWORD error = ok ? 0 : GetLastError();
        if (overlapped == nullptr)
            return;  // the port is gone, or the closed pipes have had their time to drain
        if (key == COMMAND_KEY) {
            Command *command = reinterpret_cast<Command *>(overlapped);
            command->work();
            SetEvent(command->done);
        } else {
            complete(CONTAINING_RECORD(overlapped, IoOperation, overlapped), ok, bytes, error);
        }
        if (stopping) {
            bool drained = true;
            for (InterfaceEntry &entry : interfaces)
                drained = drained && entry.instances.empty();
            if (drained)
                return;
        }
    }
}

void SimulatedSwitch::State::runOnServer(const std::function<void()> &work)
{
    if (thread == nullptr)
        return;
    if (GetCurrentThreadId() == threadId) {
        work();
        return;
    }
    Command command;
    command.work = work;
    command.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (PostQueuedCompletionStatus(port, 0, COMMAND_KEY, reinterpret_cast<OVERLAPPED *>(&command)))
        WaitForSingleObject(command.done, INFINITE);
    CloseHandle(command.done);
}

void SimulatedSwitch::State::complete(IoOperation *operation, BOOL ok, DWORD bytes, DWORD error)
{
    PipeInstance *instance = operation->instance;
    instance->pendingOperations--;
    switch (operation->kind) {
    case IoKind::Connect:
        if (!instance->closed) {
            if (ok || error == ERROR_PIPE_CONNECTED)
                connected(instance);
            else
                closeInstance(instance);
        }
        break;
    case IoKind::Read:
        if (!instance->closed) {
            if (ok || error == ERROR_MORE_DATA) {
                std::vector<BYTE> &message = instance->partialMessage;
                message.insert(message.end(), operation->buffer.begin(), operation->buffer.begin() + bytes);
                if (ok) {
                    std::vector<BYTE> whole;
                    whole.swap(message);
                    record(instance->interfaceId, whole);
                }
                startRead(instance);
            } else {
                // The client closed its handle.
                closeInstance(instance);
            }
        }
        break;
    case IoKind::Write:
        delete operation;
        break;
    }
    releaseIfDone(instance);
}

void SimulatedSwitch::State::createInstance(int id)
{
    InterfaceEntry &entry = interfaces[id];
    std::wstring name = PIPE_PREFIX + entry.description.pipeName;
    HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                   PIPE_BUFFER_BYTES, PIPE_BUFFER_BYTES, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return;
    if (CreateIoCompletionPort(pipe, port, PIPE_KEY, 0) == nullptr) {
        CloseHandle(pipe);
        return;
    }
    PipeInstance *instance = new PipeInstance;
    instance->interfaceId = id;
    instance->pipe = pipe;
    instance->connect.kind = IoKind::Connect;
    instance->connect.instance = instance;
    instance->read.kind = IoKind::Read;
    instance->read.instance = instance;
    instance->read.buffer.resize(READ_BUFFER_BYTES);
    entry.instances.push_back(instance);

    BOOL ok = ConnectNamedPipe(pipe, &instance->connect.overlapped);
    DWORD error = GetLastError();
    if (ok || error == ERROR_IO_PENDING)
        instance->pendingOperations++;
    else if (error == ERROR_PIPE_CONNECTED)
        connected(instance);  // a client came between creation and listening; no completion follows
    else
        closeInstance(instance);
    releaseIfDone(instance);
}

void SimulatedSwitch::State::connected(PipeInstance *instance)
{
    instance->connected = true;
    int id = instance->interfaceId;
    int openNow;
    {
        std::lock_guard<std::mutex> lock(mutex);
        openNow = ++interfaces[id].openCount;
        interfaces[id].totalOpens++;
        lastActivity = GetTickCount();
    }
    SetEvent(changed);
    emit(SimEvent::Open, id, openNow);
    createInstance(id);
    startRead(instance);
}

void SimulatedSwitch::State::startRead(PipeInstance *instance)
{
    ZeroMemory(&instance->read.overlapped, sizeof(OVERLAPPED));
    BOOL ok = ReadFile(instance->pipe, instance->read.buffer.data(), READ_BUFFER_BYTES, nullptr,
                       &instance->read.overlapped);
    DWORD error = GetLastError();
    if (ok || error == ERROR_IO_PENDING || error == ERROR_MORE_DATA)
        instance->pendingOperations++;  // the completion comes through the port
    else
        closeInstance(instance);
}

void SimulatedSwitch::State::closeInstance(PipeInstance *instance)
{
    if (instance->closed)
        return;
    instance->closed = true;
    if (instance->connected) {
        instance->connected = false;
        // Disconnecting first fails the client's pending read with
        // ERROR_PIPE_NOT_CONNECTED, as a removed device fails it.
        DisconnectNamedPipe(instance->pipe);
        int id = instance->interfaceId;
        int openNow;
        {
            std::lock_guard<std::mutex> lock(mutex);
            openNow = --interfaces[id].openCount;
            lastActivity = GetTickCount();
        }
        SetEvent(changed);
        emit(SimEvent::Close, id, openNow);
    }
    CloseHandle(instance->pipe);
    instance->pipe = INVALID_HANDLE_VALUE;
}

void SimulatedSwitch::State::releaseIfDone(PipeInstance *instance)
{
    if (!instance->closed || instance->pendingOperations > 0)
        return;
    interfaces[instance->interfaceId].instances.remove(instance);
    delete instance;
}

void SimulatedSwitch::State::closeInterface(int id)
{
    // closeInstance may release the instance: walk a copy.
    std::list<PipeInstance *> instances = interfaces[id].instances;
    for (PipeInstance *instance : instances) {
        closeInstance(instance);
        releaseIfDone(instance);
    }
}

void SimulatedSwitch::State::touch()
{
    std::lock_guard<std::mutex> lock(mutex);
    lastActivity = GetTickCount();
}

// Asked of the system, which knows at once what a program's open, write or
// close did to a pipe: a spare instance must still be listening (no program
// came that this thread has not yet taken), and an instance in use must still
// have its program and nothing unread. A program that has gone leaves its
// instance closing until this thread has read its last message and closed it.
bool SimulatedSwitch::State::tookEveryClosedConnection()
{
    for (InterfaceEntry &entry : interfaces) {
        for (PipeInstance *instance : entry.instances) {
            if (instance->closed)
                continue;
            DWORD available = 0;
            BOOL peeked = PeekNamedPipe(instance->pipe, nullptr, 0, nullptr, &available, nullptr);
            DWORD error = peeked ? ERROR_SUCCESS : GetLastError();
            if (instance->connected ? (!peeked || available > 0) : error != ERROR_BAD_PIPE)
                return false;
        }
    }
    return true;
}

// A report of `bytes` on interface `id`, stamped now.
static SimReport StampedReport(int id, const std::vector<BYTE> &bytes)
{
    SimReport report;
    report.interfaceId = id;
    report.bytes = bytes;
    report.tick = GetTickCount();
    GetLocalTime(&report.localTime);
    return report;
}

void SimulatedSwitch::State::record(int id, const std::vector<BYTE> &bytes)
{
    SimReport report = StampedReport(id, bytes);
    report.accepted = !bytes.empty() && bytes.size() == interfaces[id].description.outputReportLength;
    {
        std::lock_guard<std::mutex> lock(mutex);
        writes.push_back(report);
        lastActivity = report.tick;
    }
    SetEvent(changed);
    emit(SimEvent::Write, id, 0, report);
}

// An event on interface `id`: openCount for Open, Close and InputSent (the
// handles open after it, the clients reached), report for Write and InputSent.
void SimulatedSwitch::State::emit(SimEvent::Kind kind, int id, int openCount, const SimReport &report)
{
    SimEvent event;
    event.kind = kind;
    event.interfaceId = id;
    event.openCount = openCount;
    event.report = report;
    emit(event);
}

void SimulatedSwitch::State::emit(const SimEvent &event)
{
    std::function<void(const SimEvent &)> call;
    {
        std::lock_guard<std::mutex> lock(mutex);
        call = listener;
    }
    if (call)
        call(event);
}

int SimulatedSwitch::State::sendInput(int id, const std::vector<BYTE> &report)
{
    InterfaceEntry &entry = interfaces[id];
    std::vector<BYTE> bytes = report;
    if (entry.description.inputReportLength != 0)
        bytes.resize(entry.description.inputReportLength, 0);
    int reached = 0;
    for (PipeInstance *instance : entry.instances) {
        if (instance->closed || !instance->connected)
            continue;
        IoOperation *operation = new IoOperation;
        operation->kind = IoKind::Write;
        operation->instance = instance;
        operation->buffer = bytes;
        BOOL ok = WriteFile(instance->pipe, operation->buffer.data(), (DWORD)operation->buffer.size(), nullptr,
                            &operation->overlapped);
        if (ok || GetLastError() == ERROR_IO_PENDING) {
            instance->pendingOperations++;
            reached++;
        } else {
            delete operation;
        }
    }
    emit(SimEvent::InputSent, id, reached, StampedReport(id, bytes));
    return reached;
}

struct NoticeSearch {
    const std::wstring *className;
    std::vector<DWORD> clients;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectNoticeTarget(HWND window, LPARAM context)
{
    NoticeSearch *search = reinterpret_cast<NoticeSearch *>(context);
    wchar_t className[256] = {};
    GetClassNameW(window, className, 256);
    if (*search->className != className)
        return TRUE;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (std::find(search->clients.begin(), search->clients.end(), owner) != search->clients.end())
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> SimulatedSwitch::State::noticeTargets()
{
    std::wstring className;
    HWND window;
    {
        std::lock_guard<std::mutex> lock(mutex);
        window = notifyWindow;
        className = notifyClass;
    }
    if (window != nullptr)
        return {window};
    NoticeSearch search;
    search.className = &className;
    {
        SimLockedTable locked(*table);
        for (DWORD client : locked->clients) {
            if (client != 0)
                search.clients.push_back(client);
        }
    }
    EnumWindows(CollectNoticeTarget, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void SimulatedSwitch::State::sendNotices(int id, bool arrival, DWORD notify)
{
    if (notify == SIM_NOTIFY_NONE)
        return;
    std::vector<HWND> targets = noticeTargets();
    if (notify & SIM_NOTIFY_INTERFACE) {
        const std::wstring &path = interfaces[id].description.devicePath;
        size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(wchar_t);
        std::vector<BYTE> buffer(std::max(size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)), 0);
        DEV_BROADCAST_DEVICEINTERFACE_W *notice = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(buffer.data());
        notice->dbcc_size = (DWORD)size;
        notice->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        notice->dbcc_classguid = HID_INTERFACE_CLASS;
        memcpy(notice->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        WPARAM event = arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
        for (HWND target : targets) {
            DWORD_PTR result = 0;
            SendMessageTimeoutW(target, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(notice), SMTO_NORMAL,
                                NOTICE_TIMEOUT_MS, &result);
        }
    }
    if (notify & SIM_NOTIFY_NODES) {
        for (HWND target : targets) {
            DWORD_PTR result = 0;
            SendMessageTimeoutW(target, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_NORMAL, NOTICE_TIMEOUT_MS,
                                &result);
        }
    }
}

// ---------------------------------------------------------------------------
// The test's side

static bool ReadVariable(const wchar_t *name, std::wstring &value)
{
    DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
    if (length == 0)
        return false;
    value.assign(length, L'\0');
    GetEnvironmentVariableW(name, &value[0], length);
    value.resize(length - 1);
    return true;
}

static std::wstring UniqueTableName()
{
    static LONG counter = 0;
    wchar_t name[64];
    _snwprintf(name, 64, L"Test.%lu.%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
    name[63] = L'\0';
    return name;
}

static void StartState(SimulatedSwitch::State &state)
{
    state.interfaces.reserve(SIM_MAX_INTERFACES);
    state.table.reset(new SimTableView(state.tableName, true));
    if (!state.table->valid())
        return;
    state.port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    if (state.port == nullptr)
        return;
    state.thread = CreateThread(nullptr, 0, SimulatedSwitch::State::ThreadMain, &state, 0, &state.threadId);
}

SimulatedSwitch::SimulatedSwitch() : state_(new State)
{
    state_->tableName = UniqueTableName();
    // This process and every program it starts from now on use this table and the stand-ins.
    state_->ownsEnvironment = true;
    state_->hadTableVariable = ReadVariable(SIM_TABLE_VARIABLE, state_->oldTableVariable);
    state_->hadOverrides = ReadVariable(DLL_OVERRIDES_VARIABLE, state_->oldOverrides);
    SetEnvironmentVariableW(SIM_TABLE_VARIABLE, state_->tableName.c_str());
    if (state_->oldOverrides.find(L"setupapi") == std::wstring::npos) {
        std::wstring overrides = state_->oldOverrides;
        if (!overrides.empty())
            overrides += L";";
        overrides += STAND_IN_OVERRIDE;
        SetEnvironmentVariableW(DLL_OVERRIDES_VARIABLE, overrides.c_str());
    }
    StartState(*state_);
}

SimulatedSwitch::SimulatedSwitch(const std::wstring &tableName) : state_(new State)
{
    state_->tableName = tableName;
    StartState(*state_);
}

SimulatedSwitch::~SimulatedSwitch()
{
    State &state = *state_;
    if (state.table->valid()) {
        SimLockedTable table(*state.table);
        for (const InterfaceEntry &entry : state.interfaces)
            table->interfaces[entry.tableSlot].state = SIM_SLOT_FREE;
    }
    if (state.thread != nullptr) {
        state.runOnServer([&state] {
            for (size_t id = 0; id < state.interfaces.size(); ++id)
                state.closeInterface((int)id);
            state.stopping = true;
        });
        WaitForSingleObject(state.thread, STOP_DRAIN_MS * 2);
        CloseHandle(state.thread);
    }
    if (state.port != nullptr)
        CloseHandle(state.port);
    CloseHandle(state.changed);

    for (const std::wstring &deviceKey : state.serialDeviceKeys) {
        std::wstring key = std::wstring(SERIAL_ROOT) + L"\\" + deviceKey;
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    }
    // Only what this simulator made, and only when nothing else is left in it.
    if (state.madeHidKey)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, SERIAL_ROOT);
    if (state.madeEnumKey)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Enum");

    if (state.ownsEnvironment) {
        SetEnvironmentVariableW(SIM_TABLE_VARIABLE,
                                state.hadTableVariable ? state.oldTableVariable.c_str() : nullptr);
        SetEnvironmentVariableW(DLL_OVERRIDES_VARIABLE, state.hadOverrides ? state.oldOverrides.c_str() : nullptr);
    }
}

bool SimulatedSwitch::running() const
{
    return state_->table->valid() && state_->thread != nullptr &&
           WaitForSingleObject(state_->thread, 0) == WAIT_TIMEOUT;
}

const std::wstring &SimulatedSwitch::tableName() const
{
    return state_->tableName;
}

static LONG CapsFailureOf(SimCaps caps)
{
    switch (caps) {
    case SimCaps::PreparsedDataFails:
        return SIM_CAPS_PREPARSED_FAILS;
    case SimCaps::GetCapsFails:
        return SIM_CAPS_GETCAPS_FAILS;
    default:
        return SIM_CAPS_READABLE;
    }
}

int SimulatedSwitch::add(const SimInterface &description)
{
    State &state = *state_;
    if (!running() || state.interfaces.size() >= (size_t)SIM_MAX_INTERFACES)
        return -1;
    if (description.devicePath.size() >= SIM_PATH_CHARS || description.pipeName.size() >= SIM_PIPE_CHARS)
        return -1;

    int tableSlot = -1;
    {
        SimLockedTable table(*state.table);
        for (int slot = 0; slot < SIM_MAX_INTERFACES && tableSlot < 0; ++slot) {
            if (table->interfaces[slot].state == SIM_SLOT_FREE)
                tableSlot = slot;
        }
        if (tableSlot < 0)
            return -1;
        // Taken but not yet listed, until its pipes are ready.
        SimInterfaceRecord &record = table->interfaces[tableSlot];
        ZeroMemory(&record, sizeof(record));
        record.state = SIM_SLOT_ABSENT;
        record.vendorId = description.vendorId;
        record.productId = description.productId;
        record.versionNumber = description.versionNumber;
        record.inputReportLength = description.inputReportLength;
        record.outputReportLength = description.outputReportLength;
        record.featureReportLength = description.featureReportLength;
        record.usagePage = description.usagePage;
        record.usage = description.usage;
        record.capsFailure = CapsFailureOf(description.caps);
        record.attributesFail = description.attributesFail ? 1 : 0;
        wcsncpy(record.devicePath, description.devicePath.c_str(), SIM_PATH_CHARS - 1);
        wcsncpy(record.pipeName, description.pipeName.c_str(), SIM_PIPE_CHARS - 1);
    }

    int id = -1;
    state.runOnServer([&] {
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            InterfaceEntry entry;
            entry.description = description;
            entry.tableSlot = tableSlot;
            state.interfaces.push_back(entry);
            id = (int)state.interfaces.size() - 1;
        }
    });
    if (id >= 0 && description.present)
        plug(id, SIM_NOTIFY_NONE);
    return id;
}

const SimInterface &SimulatedSwitch::description(int id) const
{
    return state_->interfaces.at(id).description;
}

int SimulatedSwitch::interfaceCount() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return (int)state_->interfaces.size();
}

void SimulatedSwitch::plug(int id, DWORD notify)
{
    State &state = *state_;
    if (id < 0 || id >= interfaceCount() || plugged(id))
        return;
    // Pipes first, so the interface can be opened the moment it is listed.
    state.runOnServer([&] {
        if (!state.interfaces[id].description.pipeName.empty()) {
            for (int spare = 0; spare < SPARE_INSTANCES; ++spare)
                state.createInstance(id);
        }
        std::lock_guard<std::mutex> lock(state.mutex);
        state.interfaces[id].present = true;
    });
    {
        SimLockedTable table(*state.table);
        table->interfaces[state.interfaces[id].tableSlot].state = SIM_SLOT_PRESENT;
    }
    state.emit(SimEvent::Plug, id);
    state.sendNotices(id, true, notify);
}

void SimulatedSwitch::unplug(int id, DWORD notify)
{
    State &state = *state_;
    if (id < 0 || id >= interfaceCount() || !plugged(id))
        return;
    // Off the list first, then every connection dropped.
    {
        SimLockedTable table(*state.table);
        table->interfaces[state.interfaces[id].tableSlot].state = SIM_SLOT_ABSENT;
    }
    state.runOnServer([&] {
        state.closeInterface(id);
        std::lock_guard<std::mutex> lock(state.mutex);
        state.interfaces[id].present = false;
    });
    state.touch();
    state.emit(SimEvent::Unplug, id);
    state.sendNotices(id, false, notify);
}

bool SimulatedSwitch::plugged(int id) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return id >= 0 && id < (int)state_->interfaces.size() && state_->interfaces[id].present;
}

int SimulatedSwitch::sendInputReport(int id, const std::vector<BYTE> &report)
{
    if (id < 0 || id >= interfaceCount())
        return 0;
    int reached = 0;
    state_->runOnServer([&] { reached = state_->sendInput(id, report); });
    return reached;
}

std::vector<SimReport> SimulatedSwitch::writes(int id) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<SimReport> found;
    for (const SimReport &report : state_->writes) {
        if (id == SIM_ANY_INTERFACE || report.interfaceId == id)
            found.push_back(report);
    }
    return found;
}

std::vector<SimReport> SimulatedSwitch::reports(int id) const
{
    std::vector<SimReport> found = writes(id);
    found.erase(std::remove_if(found.begin(), found.end(), [](const SimReport &report) { return !report.accepted; }),
                found.end());
    return found;
}

bool SimulatedSwitch::tookEveryClosedConnection() const
{
    bool took = true;
    state_->runOnServer([&] { took = state_->tookEveryClosedConnection(); });
    return took;
}

HANDLE SimulatedSwitch::changedEvent() const
{
    return state_->changed;
}

DWORD SimulatedSwitch::lastActivity() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->lastActivity;
}

void SimulatedSwitch::clearReports()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->writes.clear();
}

int SimulatedSwitch::openCount(int id) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return id >= 0 && id < (int)state_->interfaces.size() ? state_->interfaces[id].openCount : 0;
}

int SimulatedSwitch::totalOpens(int id) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return id >= 0 && id < (int)state_->interfaces.size() ? state_->interfaces[id].totalOpens : 0;
}

void SimulatedSwitch::setNotifyWindow(HWND window)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->notifyWindow = window;
}

void SimulatedSwitch::setNotifyClass(const std::wstring &className)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->notifyClass = className;
}

bool SimulatedSwitch::hasClient(DWORD processId) const
{
    if (!state_->table->valid())
        return false;
    SimLockedTable table(*state_->table);
    for (DWORD client : table->clients) {
        if (client == processId)
            return true;
    }
    return false;
}

LONG SimulatedSwitch::deviceInfoSetsOutstanding() const
{
    if (!state_->table->valid())
        return 0;
    SimLockedTable table(*state_->table);
    return table->deviceInfoSetsCreated - table->deviceInfoSetsDestroyed;
}

LONG SimulatedSwitch::preparsedDataOutstanding() const
{
    if (!state_->table->valid())
        return 0;
    SimLockedTable table(*state_->table);
    return table->preparsedDataAllocated - table->preparsedDataFreed;
}

LONG SimulatedSwitch::hidEnumerations() const
{
    if (!state_->table->valid())
        return 0;
    SimLockedTable table(*state_->table);
    return table->hidEnumerations;
}

static bool KeyExists(const wchar_t *key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

void SimulatedSwitch::addSerialKey(const std::wstring &deviceKey, const std::wstring &instance,
                                   const std::vector<BYTE> &serial)
{
    State &state = *state_;
    if (!KeyExists(L"Enum"))
        state.madeEnumKey = true;
    if (!KeyExists(SERIAL_ROOT))
        state.madeHidKey = true;
    std::wstring key = std::wstring(SERIAL_ROOT) + L"\\" + deviceKey + L"\\" + instance;
    HKEY created = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(created, L"Serial", 0, REG_BINARY, serial.empty() ? nullptr : serial.data(), (DWORD)serial.size());
    RegCloseKey(created);
    if (std::find(state.serialDeviceKeys.begin(), state.serialDeviceKeys.end(), deviceKey) ==
        state.serialDeviceKeys.end())
        state.serialDeviceKeys.push_back(deviceKey);
}

void SimulatedSwitch::setListener(std::function<void(const SimEvent &)> listener)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->listener = listener;
}

// The module that holds a function as this program imports it. MinGW's HID
// headers declare no dllimport, so the address may be the program's own
// import thunk, "jmp *[import slot]": then the slot says where it leads. The
// slot's address follows the opcode: absolute on i386, relative to the next
// instruction on x86-64.
static HMODULE ModuleOfImport(const void *function)
{
    const BYTE *code = static_cast<const BYTE *>(function);
    if (code[0] == 0xFF && code[1] == 0x25) {
        const void *const *slot;
#if defined(_WIN64)
        INT32 displacement;
        memcpy(&displacement, code + 2, sizeof(displacement));
        slot = reinterpret_cast<const void *const *>(code + 6 + displacement);
#else
        memcpy(&slot, code + 2, sizeof(slot));
#endif
        function = *slot;
    }
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(function), &module);
    return module;
}

bool SimStandInsServeThisProcess()
{
    HMODULE setupapi = ModuleOfImport(reinterpret_cast<const void *>(&SetupDiGetClassDevsW));
    HMODULE hid = ModuleOfImport(reinterpret_cast<const void *>(&HidD_GetAttributes));
    return setupapi != nullptr && hid != nullptr && GetProcAddress(setupapi, "SimSwitchStandIn") != nullptr &&
           GetProcAddress(hid, "SimSwitchStandIn") != nullptr;
}

std::string HexBytes(const std::vector<BYTE> &bytes)
{
    std::string text;
    char digits[4];
    for (size_t index = 0; index < bytes.size(); ++index) {
        snprintf(digits, sizeof(digits), "%02x", bytes[index]);
        if (index > 0)
            text += ' ';
        text += digits;
    }
    return text;
}
