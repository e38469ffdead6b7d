#include "DebugListener.h"

#include <algorithm>
#include <cstring>

DebugListener::DebugListener()
{
    bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
    if (mapping_ != nullptr)
        view_ = (const char *)MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (bufferReady_ && dataReady_ && view_ && stop_)
        thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
}

DebugListener::~DebugListener()
{
    if (thread_ != nullptr) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
    }
    if (view_ != nullptr)
        UnmapViewOfFile(view_);
    for (HANDLE handle : {mapping_, dataReady_, bufferReady_, stop_}) {
        if (handle != nullptr)
            CloseHandle(handle);
    }
}

DWORD WINAPI DebugListener::ThreadMain(void *self)
{
    static_cast<DebugListener *>(self)->run();
    return 0;
}

void DebugListener::run()
{
    HANDLE waits[] = {stop_, dataReady_};
    SetEvent(bufferReady_);
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        Entry entry;
        memcpy(&entry.processId, view_, sizeof(DWORD));
        entry.text.assign(view_ + sizeof(DWORD), strnlen(view_ + sizeof(DWORD), 4096 - sizeof(DWORD)));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            entries_.push_back(entry);
            lastArrival_ = GetTickCount();
        }
        SetEvent(bufferReady_);
    }
}

std::vector<std::string> DebugListener::linesFrom(DWORD processId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    for (const Entry &entry : entries_) {
        if (entry.processId == processId)
            lines.push_back(entry.text);
    }
    return lines;
}

std::vector<std::pair<DWORD, std::string>> DebugListener::allLines()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::pair<DWORD, std::string>> lines;
    for (const Entry &entry : entries_)
        lines.emplace_back(entry.processId, entry.text);
    return lines;
}

bool DebugListener::waitForLine(DWORD processId, const std::string &text, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        for (const std::string &line : linesFrom(processId)) {
            if (line == text)
                return true;
        }
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(10);
    }
}

std::vector<std::string> DebugListener::ownLines()
{
    static const char MARKER[] = "-- the test's own lines end here --\n";
    OutputDebugStringA(MARKER);
    waitForLine(GetCurrentProcessId(), MARKER);
    std::vector<std::string> lines = linesFrom(GetCurrentProcessId());
    lines.erase(std::remove(lines.begin(), lines.end(), MARKER), lines.end());
    return lines;
}

void DebugListener::waitForQuiet(DWORD quietMs, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lastArrival_ == 0)
            lastArrival_ = start;
    }
    while (GetTickCount() - start < timeoutMs) {
        DWORD last;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            last = lastArrival_;
        }
        if (GetTickCount() - last >= quietMs)
            return;
        Sleep(20);
    }
}

void DebugListener::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}
