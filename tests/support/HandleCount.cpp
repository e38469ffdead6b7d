#include "HandleCount.h"

#include <winternl.h>

#include <vector>

long long KernelHandleCount(DWORD windowsPid)
{
    typedef NTSTATUS(NTAPI * QuerySystemInformationProc)(SYSTEM_INFORMATION_CLASS, void *, ULONG, ULONG *);
    QuerySystemInformationProc query = (QuerySystemInformationProc)(void *)GetProcAddress(
        GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    if (query == nullptr)
        return -1;
    NTSTATUS const INFO_LENGTH_MISMATCH = (NTSTATUS)0xC0000004;
    std::vector<BYTE> buffer(1 << 16);
    NTSTATUS status;
    ULONG needed = 0;
    while ((status = query(SystemHandleInformation, buffer.data(), (ULONG)buffer.size(), &needed)) ==
           INFO_LENGTH_MISMATCH)
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return -1;
    const SYSTEM_HANDLE_INFORMATION *list = (const SYSTEM_HANDLE_INFORMATION *)buffer.data();
    long long count = 0;
    for (ULONG index = 0; index < list->Count; ++index)
        count += list->Handle[index].OwnerPid == windowsPid ? 1 : 0;
    return count;
}
