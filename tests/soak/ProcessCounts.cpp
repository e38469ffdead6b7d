#include "ProcessCounts.h"

#include <winternl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Wine shows the Linux file system as drive Z:.
std::wstring ProcPath(DWORD unixPid, const wchar_t *entry)
{
    return L"Z:\\proc\\" + std::to_wstring(unixPid) + L"\\" + entry;
}

// A whole /proc file: its size reads as 0, so it is read until the end.
bool ReadWholeFile(const std::wstring &path, std::string *text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    text->clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        text->append(buffer, got);
    CloseHandle(file);
    return true;
}

// Does a NUL-separated list (cmdline, environ) hold an entry that contains `part`?
bool ListHolds(const std::string &list, const std::string &part, bool whole)
{
    for (size_t start = 0; start < list.size();) {
        size_t end = list.find('\0', start);
        if (end == std::string::npos)
            end = list.size();
        std::string entry = list.substr(start, end - start);
        if (whole ? entry == part : entry.find(part) != std::string::npos)
            return true;
        start = end + 1;
    }
    return false;
}

// Field 22 of /proc/PID/stat: when the process started, in clock ticks since boot.
unsigned long long StartTime(DWORD unixPid)
{
    std::string stat;
    if (!ReadWholeFile(ProcPath(unixPid, L"stat"), &stat))
        return ~0ULL;
    size_t field = stat.rfind(')');
    if (field == std::string::npos)
        return ~0ULL;
    // Fields 3 to 22 follow the command's closing parenthesis.
    const char *cursor = stat.c_str() + field + 1;
    for (int index = 3; index < 22 && *cursor != '\0'; ++index) {
        cursor = strchr(cursor + 1, ' ');
        if (cursor == nullptr)
            return ~0ULL;
    }
    return strtoull(cursor, nullptr, 10);
}

std::string Narrow(const std::wstring &text)
{
    std::string narrow;
    for (wchar_t c : text)
        narrow += (char)c;
    return narrow;
}

typedef NTSTATUS(NTAPI *QueryInformationProcessProc)(HANDLE, PROCESSINFOCLASS, void *, ULONG, ULONG *);

FARPROC NtdllProc(const char *name)
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name);
}

// Wine's own layout of a GDI handle table entry (include/ntgdi.h), which it
// keeps in the process and names in its PEB, as Windows does.
struct GdiHandleEntry {
    UINT64 object;
    ULONG owner;
    USHORT unique;
    UCHAR type;      // 0: a free entry
    UCHAR flags;
    UINT64 userPointer;
};
static_assert(sizeof(GdiHandleEntry) == 24, "Wine's GDI_HANDLE_ENTRY");
size_t const GDI_TABLE_ENTRIES = 0x10000;
UCHAR const GDI_STOCK_FLAG = 0x80;    // in the unique word, above the extended type
UCHAR const GDI_WINDOW_DC = 0x01;
UCHAR const GDI_REGION = 0x04;
UCHAR const GDI_SURFACE = 0x05;
#if defined(_WIN64)
size_t const PEB_GDI_TABLE_OFFSET = 0xF8;
#else
size_t const PEB_GDI_TABLE_OFFSET = 0x94;
#endif

// Wine marks its own lasting objects (the system colours' pens and brushes,
// made when something is first drawn in that colour) in the object's header,
// which the entry points to: after the type's functions, the selection count,
// then the flag word (win32u's struct gdi_obj_header).
bool IsWineSystemObject(HANDLE process, const GdiHandleEntry &entry)
{
    WORD flags = 0;
    return ReadProcessMemory(process, (const BYTE *)(ULONG_PTR)entry.object + sizeof(void *) + sizeof(WORD), &flags,
                             sizeof(flags), nullptr) &&
           (flags & 1) != 0;
}

struct WindowTally {
    DWORD processId;
    long long count;
};

BOOL CALLBACK CountChild(HWND, LPARAM tally)
{
    ((WindowTally *)tally)->count++;
    return TRUE;
}

void CountIfOwned(HWND window, WindowTally *tally)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != tally->processId)
        return;
    tally->count++;
    EnumChildWindows(window, CountChild, (LPARAM)tally);
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM tally)
{
    CountIfOwned(window, (WindowTally *)tally);
    return TRUE;
}

}  // namespace

DWORD UnixProcessOf(const std::wstring &program, const std::string &marker)
{
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    DWORD best = 0;
    unsigned long long bestStart = ~0ULL;
    do {
        wchar_t *end = nullptr;
        DWORD pid = wcstoul(found.cFileName, &end, 10);
        if (pid == 0 || *end != L'\0')
            continue;
        std::string commandLine, environment;
        if (!ReadWholeFile(ProcPath(pid, L"cmdline"), &commandLine) ||
            !ListHolds(commandLine, Narrow(program), false) ||
            !ReadWholeFile(ProcPath(pid, L"environ"), &environment) || !ListHolds(environment, marker, true))
            continue;
        unsigned long long start = StartTime(pid);
        if (start < bestStart) {
            bestStart = start;
            best = pid;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return best;
}

long long PrivateKib(DWORD unixPid)
{
    std::string rollup;
    if (!ReadWholeFile(ProcPath(unixPid, L"smaps_rollup"), &rollup) || rollup.empty())
        return -1;
    long long kib = 0;
    for (const char *field : {"\nPrivate_Dirty:", "\nSwap:"}) {
        size_t at = rollup.find(field);
        if (at == std::string::npos)
            return -1;
        kib += strtoll(rollup.c_str() + at + strlen(field), nullptr, 10);
    }
    return kib;
}

long long UnixThreadCount(DWORD unixPid)
{
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW(ProcPath(unixPid, L"task\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return -1;
    long long count = 0;
    do {
        if (found.cFileName[0] != L'.')
            count++;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
}

GdiCounts GdiObjectCounts(HANDLE process)
{
    GdiCounts counts;
    QueryInformationProcessProc query =
        (QueryInformationProcessProc)(void *)NtdllProc("NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION basic = {};
    if (query == nullptr || query(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0 ||
        basic.PebBaseAddress == nullptr)
        return counts;
    void *table = nullptr;
    if (!ReadProcessMemory(process, (BYTE *)basic.PebBaseAddress + PEB_GDI_TABLE_OFFSET, &table, sizeof(table),
                           nullptr) ||
        table == nullptr)
        return counts;
    std::vector<GdiHandleEntry> entries(GDI_TABLE_ENTRIES);
    if (!ReadProcessMemory(process, table, entries.data(), entries.size() * sizeof(GdiHandleEntry), nullptr))
        return counts;
    long long windowDcs = 0, surfaces = 0, regions = 0, system = 0;
    counts.all = 0;
    for (const GdiHandleEntry &entry : entries) {
        if (entry.type == 0)
            continue;
        counts.all++;
        if ((entry.unique & GDI_STOCK_FLAG) != 0 || IsWineSystemObject(process, entry)) {
            system++;
            continue;
        }
        // The low seven bits of the unique word tell a window's DC from a memory DC (0x41).
        windowDcs += (entry.unique & 0x7F) == GDI_WINDOW_DC ? 1 : 0;
        surfaces += entry.type == GDI_SURFACE ? 1 : 0;
        regions += entry.type == GDI_REGION ? 1 : 0;
    }
    counts.applets = counts.all - system - windowDcs - surfaces - std::min(regions, windowDcs);
    return counts;
}

long long WindowCount(DWORD windowsPid)
{
    WindowTally tally = {windowsPid, 0};
    EnumWindows(CountTopLevel, (LPARAM)&tally);
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
         window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr))
        CountIfOwned(window, &tally);
    return tally.count;
}
