// The simulated sound mixers' table: a named shared memory block that the
// test (SimulatedMixers) writes and the stand-in winmm.dll reads, so the
// applet's mixer calls see the mixer devices a test presents.
//   SimMixerTableName - the table this process uses (SIMMIXER_TABLE), empty when none
//   SimMixerView      - opens (or creates) the block and its lock, and holds the lock
//   SimMixerControlId - the control ids of a line, unique across the table
#pragma once

#include <windows.h>

#include <string>

wchar_t const SIM_MIXER_TABLE_VARIABLE[] = L"SIMMIXER_TABLE";

DWORD const SIM_MIXER_MAGIC = 0x58494D53;  // "SMIX"
int const SIM_MAX_MIXERS = 4;
int const SIM_MAX_MIXER_LINES = 4;
int const SIM_MAX_MIXER_OPENS = 32;
int const SIM_MIXER_NAME_CHARS = 32;
// Handles the stand-in gives out: this base plus the open's index.
ULONG_PTR const SIM_MIXER_HANDLE_BASE = 0x7E5100;

struct SimMixerLineRecord {
    DWORD componentType;                  // MIXERLINE_COMPONENTTYPE_DST_...
    LONG hasMute;                         // the line has a mute control
    LONG muted;                           // its value
    LONG volume;                          // the volume control's value (0-65535)
};

struct SimMixerRecord {
    WCHAR name[SIM_MIXER_NAME_CHARS];
    LONG capsFail;                        // mixerGetDevCapsW fails
    LONG openFails;                       // mixerOpen fails
    LONG lineCount;                       // cDestinations
    SimMixerLineRecord lines[SIM_MAX_MIXER_LINES];
};

struct SimMixerOpenRecord {
    LONG mixerId;
    DWORD processId;
    DWORD callbackWindow;                 // HWND of CALLBACK_WINDOW, 0 for none
    LONG closed;
};

struct SimMixerBlock {
    DWORD magic;
    LONG mixerCount;
    SimMixerRecord mixers[SIM_MAX_MIXERS];
    LONG openCount;
    SimMixerOpenRecord opens[SIM_MAX_MIXER_OPENS];
    LONG closeCalls;                      // mixerClose calls with a handle of this table
    LONG muteReads;                       // mute values handed out
    DWORD clients[8];                     // processes whose winmm is the stand-in
};

// The mute and volume control ids of line `line` of mixer `mixer`: distinct
// across mixers, so a test sees which control a notice named.
inline DWORD SimMixerControlId(int mixer, int line, bool mute)
{
    return 0x100 * (mixer + 1) + 0x10 * line + (mute ? 1 : 2);
}
// The line id of line `line`: as on Windows, distinct from its destination index.
inline DWORD SimMixerLineId(int mixer, int line)
{
    return 0xFFFF0000 | (mixer << 8) | line;
}

inline std::wstring SimMixerTableName()
{
    wchar_t name[128] = {};
    DWORD length = GetEnvironmentVariableW(SIM_MIXER_TABLE_VARIABLE, name, 128);
    return length == 0 || length >= 128 ? std::wstring() : std::wstring(name);
}

class SimMixerView {
public:
    SimMixerView(const std::wstring &tableName, bool create)
    {
        std::wstring mappingName = L"SimMixerTable." + tableName;
        std::wstring mutexName = L"SimMixerLock." + tableName;
        mapping_ = create ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(SimMixerBlock), mappingName.c_str())
                          : OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, mappingName.c_str());
        mutex_ = create ? CreateMutexW(nullptr, FALSE, mutexName.c_str())
                        : OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, mutexName.c_str());
        if (mapping_ == nullptr || mutex_ == nullptr)
            return;
        block_ = (SimMixerBlock *)MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SimMixerBlock));
        if (block_ != nullptr && create)
            block_->magic = SIM_MIXER_MAGIC;
        if (block_ != nullptr && block_->magic != SIM_MIXER_MAGIC) {
            UnmapViewOfFile(block_);
            block_ = nullptr;
        }
    }
    ~SimMixerView()
    {
        if (block_ != nullptr)
            UnmapViewOfFile(block_);
        if (mutex_ != nullptr)
            CloseHandle(mutex_);
        if (mapping_ != nullptr)
            CloseHandle(mapping_);
    }
    SimMixerView(const SimMixerView &) = delete;
    SimMixerView &operator=(const SimMixerView &) = delete;

    bool valid() const { return block_ != nullptr; }
    SimMixerBlock *block() const { return block_; }
    void lock() { WaitForSingleObject(mutex_, INFINITE); }
    void unlock() { ReleaseMutex(mutex_); }

private:
    HANDLE mapping_ = nullptr;
    HANDLE mutex_ = nullptr;
    SimMixerBlock *block_ = nullptr;
};
