// The simulated sound mixers (see SimulatedMixers.h and SimMixerTable.h).
#include "SimulatedMixers.h"
#include "SimMixerTable.h"

// Wine takes a child's DLL overrides from the environment it was itself
// started with, not from variables a test sets: the applet's own key does it.
static wchar_t const APPLET_DEFAULTS_KEY[] = L"Software\\Wine\\AppDefaults\\VarnelKVM.exe";
static wchar_t const APPLET_OVERRIDES_KEY[] = L"Software\\Wine\\AppDefaults\\VarnelKVM.exe\\DllOverrides";
static wchar_t const NATIVE_FIRST[] = L"native,builtin";

static bool ReadVariable(const wchar_t *name, std::wstring &value)
{
    wchar_t buffer[1024] = {};
    DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    value = length > 0 && length < 1024 ? buffer : L"";
    return length > 0;
}

SimulatedMixers::SimulatedMixers()
{
    static LONG counter = 0;
    std::wstring name = L"Mixers" + std::to_wstring(GetCurrentProcessId()) + L"." +
                        std::to_wstring(InterlockedIncrement(&counter));
    view_.reset(new SimMixerView(name, true));
    if (view_->valid()) {
        view_->lock();
        SimMixerBlock *block = view_->block();
        ZeroMemory(block, sizeof(*block));
        block->magic = SIM_MIXER_MAGIC;
        view_->unlock();
    }
    hadTable_ = ReadVariable(SIM_MIXER_TABLE_VARIABLE, oldTable_);
    SetEnvironmentVariableW(SIM_MIXER_TABLE_VARIABLE, name.c_str());
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, APPLET_OVERRIDES_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, L"winmm", 0, REG_SZ, (const BYTE *)NATIVE_FIRST, sizeof(NATIVE_FIRST));
        RegCloseKey(key);
    }
}

SimulatedMixers::~SimulatedMixers()
{
    SetEnvironmentVariableW(SIM_MIXER_TABLE_VARIABLE, hadTable_ ? oldTable_.c_str() : nullptr);
    // The stand-in passes everything on without a table, so a key left by a
    // test that crashed does no harm; still, leave the applet's key as found.
    RegDeleteKeyW(HKEY_CURRENT_USER, APPLET_OVERRIDES_KEY);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, APPLET_DEFAULTS_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD subkeys = 0, values = 0;
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(key);
        if (subkeys == 0 && values == 0)
            RegDeleteKeyW(HKEY_CURRENT_USER, APPLET_DEFAULTS_KEY);
    }
}

bool SimulatedMixers::running() const
{
    return view_->valid();
}

int SimulatedMixers::add(const SimMixer &mixer)
{
    view_->lock();
    SimMixerBlock *block = view_->block();
    int id = -1;
    if (block->mixerCount < SIM_MAX_MIXERS && mixer.lines.size() <= (size_t)SIM_MAX_MIXER_LINES) {
        id = block->mixerCount++;
        SimMixerRecord &record = block->mixers[id];
        ZeroMemory(&record, sizeof(record));
        wcsncpy(record.name, mixer.name.c_str(), SIM_MIXER_NAME_CHARS - 1);
        record.capsFail = mixer.capsFail;
        record.openFails = mixer.openFails;
        record.lineCount = (LONG)mixer.lines.size();
        for (size_t index = 0; index < mixer.lines.size(); ++index) {
            record.lines[index].componentType = mixer.lines[index].componentType;
            record.lines[index].hasMute = mixer.lines[index].hasMute;
            record.lines[index].muted = mixer.lines[index].muted;
            record.lines[index].volume = 0x8000;
        }
    }
    view_->unlock();
    return id;
}

void SimulatedMixers::notify(int mixer, DWORD controlId)
{
    // Like the system: each window that opened this mixer hears of it, with its own handle.
    view_->lock();
    SimMixerBlock *block = view_->block();
    for (LONG index = 0; index < block->openCount; ++index) {
        const SimMixerOpenRecord &open = block->opens[index];
        if (open.mixerId == mixer && !open.closed && open.callbackWindow != 0)
            PostMessageW((HWND)(ULONG_PTR)open.callbackWindow, MM_MIXM_CONTROL_CHANGE,
                         (WPARAM)(SIM_MIXER_HANDLE_BASE + index), (LPARAM)controlId);
    }
    view_->unlock();
}

void SimulatedMixers::setMute(int mixer, int line, LONG muted)
{
    view_->lock();
    view_->block()->mixers[mixer].lines[line].muted = muted;
    view_->unlock();
    notify(mixer, SimMixerControlId(mixer, line, true));
}

void SimulatedMixers::changeVolume(int mixer, int line)
{
    view_->lock();
    LONG &volume = view_->block()->mixers[mixer].lines[line].volume;
    volume = volume > 0x1000 ? volume - 0x1000 : 0xFFFF;
    view_->unlock();
    notify(mixer, SimMixerControlId(mixer, line, false));
}

DWORD SimulatedMixers::muteControlId(int mixer, int line) const
{
    return SimMixerControlId(mixer, line, true);
}

int SimulatedMixers::opensBy(DWORD processId) const
{
    view_->lock();
    int count = 0;
    SimMixerBlock *block = view_->block();
    for (LONG index = 0; index < block->openCount; ++index)
        count += block->opens[index].processId == processId ? 1 : 0;
    view_->unlock();
    return count;
}

int SimulatedMixers::closeCalls() const
{
    view_->lock();
    int count = view_->block()->closeCalls;
    view_->unlock();
    return count;
}

int SimulatedMixers::muteReads() const
{
    view_->lock();
    int count = view_->block()->muteReads;
    view_->unlock();
    return count;
}

bool SimulatedMixers::served(DWORD processId) const
{
    view_->lock();
    bool found = false;
    for (DWORD client : view_->block()->clients)
        found = found || client == processId;
    view_->unlock();
    return found;
}
