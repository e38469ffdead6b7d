// Passing a stand-in DLL's other exports on to Wine's own DLL (see StandInForwarding.h).
#include "StandInForwarding.h"

static HMODULE realModule = nullptr;

HMODULE SimRealModule()
{
    if (realModule == nullptr) {
        // A full path into the system folder: Wine then loads its builtin DLL
        // beside this stand-in instead of handing back the stand-in itself.
        wchar_t path[MAX_PATH] = {};
        UINT length = GetSystemDirectoryW(path, MAX_PATH);
        if (length == 0 || length + 2 + lstrlenW(SIM_REAL_DLL_NAME) >= MAX_PATH)
            return nullptr;
        lstrcatW(path, L"\\");
        lstrcatW(path, SIM_REAL_DLL_NAME);
        realModule = LoadLibraryW(path);
    }
    return realModule;
}

FARPROC SimRealProc(const char *name)
{
    HMODULE module = SimRealModule();
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

static void MissingExport()
{
    RaiseException(EXCEPTION_NONCONTINUABLE_EXCEPTION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

extern "C" FARPROC SimResolveForward(FARPROC *slot, const char *name)
{
    FARPROC target = SimRealProc(name);
    if (target == nullptr)
        return (FARPROC)MissingExport;
    *slot = target;
    return target;
}
