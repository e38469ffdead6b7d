#include "DebugListener.h"
#include "Wait.h"

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
    arrived_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
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
    for (HANDLE handle : {mapping_, dataReady_, bufferReady_, stop_, arrived_}) {
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
        SetEvent(arrived_);
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

testing::AssertionResult DebugListener::waitForLine(DWORD processId, const std::string &text, DWORD timeoutMs)
{
    return waitForCount(processId, text, 1, timeoutMs);
}

testing::AssertionResult DebugListener::waitForCount(DWORD processId, const std::string &text, int count,
                                                     DWORD timeoutMs)
{
    return WaitUntil(
        std::to_string(count) + " of [" + text + "] from process " + std::to_string(processId),
        [&] { return CountOf(linesFrom(processId), text) >= count; }, arrived_, timeoutMs,
        [&] { return "its lines" + Listed(linesFrom(processId)); });
}

testing::AssertionResult DebugListener::catchUp()
{
    static const char MARKER[] = "-- the test's own lines end here --\n";
    OutputDebugStringA(MARKER);
    testing::AssertionResult heard = waitForLine(GetCurrentProcessId(), MARKER);
    std::lock_guard<std::mutex> lock(mutex_);
    auto isMarker = [](const Entry &entry) { return entry.text == MARKER; };
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), isMarker), entries_.end());
    return heard;
}

std::vector<std::string> DebugListener::ownLines()
{
    catchUp();
    return linesFrom(GetCurrentProcessId());
}

void DebugListener::waitForQuiet(DWORD quietMs, DWORD timeoutMs)
{
    // Quiet from the call on at least: whatever the test just did had its chance.
    DWORD const start = GetTickCount();
    WaitUntil("no line for " + std::to_string(quietMs) + " ms", [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        DWORD since = lastArrival_ - start < 0x80000000u ? lastArrival_ : start;
        return GetTickCount() - since >= quietMs;
    }, timeoutMs);
}

void DebugListener::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

int CountOf(const std::vector<std::string> &lines, const std::string &line)
{
    return (int)std::count(lines.begin(), lines.end(), line);
}
