// The witness hook: records each call and lets the key through.
//   DllMain       - remembers the module handle
//   WitnessStart  - installs the hook
//   WitnessStop   - removes it
//   WitnessClear, WitnessCount, WitnessRecord - the shared table
//   WitnessProc   - the hook procedure
#define KEYWITNESS_BUILD
#include "KeyWitness.h"

// One table for every process the hook runs in.
#if defined(_MSC_VER)
#pragma section(".witness", read, write, shared)
#define WITNESS_SHARED __declspec(allocate(".witness"))
#else
#define WITNESS_SHARED __attribute__((section(".witness"), shared))
#endif

WITNESS_SHARED static HHOOK witnessHook = nullptr;
WITNESS_SHARED static volatile LONG witnessCount = 0;
WITNESS_SHARED static WitnessedKey witnessTable[WITNESS_CAPACITY] = {};

static HINSTANCE witnessModule = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        witnessModule = instance;
    return TRUE;
}

static LRESULT CALLBACK WitnessProc(int code, WPARAM wParam, LPARAM lParam)
{
    LONG slot = InterlockedIncrement(&witnessCount) - 1;
    if (slot < WITNESS_CAPACITY) {
        WitnessedKey &record = witnessTable[slot];
        record.processId = GetCurrentProcessId();
        record.code = code;
        record.virtualKey = (DWORD)wParam;
        record.flags = (DWORD)lParam;
        record.tick = GetTickCount();
        record.postWaiting = (HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE) != 0;
    }
    // The end of the chain (see KeyWitness.h); 0 lets the key through.
    return 0;
}

extern "C" HHOOK WitnessStart(void)
{
    witnessHook = SetWindowsHookExW(WH_KEYBOARD, WitnessProc, witnessModule, 0);
    return witnessHook;
}

extern "C" BOOL WitnessStop(void)
{
    BOOL result = UnhookWindowsHookEx(witnessHook);
    witnessHook = nullptr;
    return result;
}

extern "C" void WitnessClear(void)
{
    InterlockedExchange(&witnessCount, 0);
}

extern "C" LONG WitnessCount(void)
{
    return witnessCount;
}

extern "C" BOOL WitnessRecord(LONG index, WitnessedKey *record)
{
    if (index < 0 || index >= witnessCount || index >= WITNESS_CAPACITY)
        return FALSE;
    *record = witnessTable[index];
    return TRUE;
}
