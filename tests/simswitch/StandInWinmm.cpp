// Stand-in winmm.dll: presents the sound mixers of a test's table
// (SimMixerTable.h) to the applet's mixer calls, and passes every call to
// Wine's winmm when the process has no table. Wine's own mixer cannot serve
// the tests: its mixerOpen keeps no callback, so MM_MIXM_CONTROL_CHANGE never
// arrives, and its mute is the calling process's own audio session.
//   Sim_mixerGetNumDevs, Sim_mixerGetDevCapsW, Sim_mixerOpen, Sim_mixerClose,
//   Sim_mixerGetLineInfoW, Sim_mixerGetLineControlsW, Sim_mixerGetControlDetailsW
// Only these are exported: they are all the applet imports from winmm, and no
// Wine DLL that the applet's process loads imports winmm.
#include "SimMixerTable.h"
#include "StandInForwarding.h"

#include <mmsystem.h>

#include <cwchar>

extern const wchar_t SIM_REAL_DLL_NAME[] = L"winmm.dll";

// The table of this process, opened once; null when the process has none.
static SimMixerView *Table()
{
    static SimMixerView *view = nullptr;
    static bool looked = false;
    if (!looked) {
        looked = true;
        std::wstring name = SimMixerTableName();
        if (!name.empty()) {
            view = new SimMixerView(name, false);
            if (!view->valid()) {
                delete view;
                view = nullptr;
            }
        }
    }
    return view;
}

class Locked {
public:
    explicit Locked(SimMixerView *view) : view_(view) { view_->lock(); }
    ~Locked() { view_->unlock(); }
    SimMixerBlock *operator->() const { return view_->block(); }

private:
    SimMixerView *view_;
};

template <typename Proc>
static Proc Real(const char *name)
{
    return (Proc)SimRealProc(name);
}

// The mixer an object names: one of this table's handles (with or without
// MIXER_OBJECTF_HMIXER, as Windows accepts both) or a device id; -1 for neither.
static int MixerOf(SimMixerBlock *table, HMIXEROBJ object)
{
    ULONG_PTR value = (ULONG_PTR)object;
    if (value >= SIM_MIXER_HANDLE_BASE && value < SIM_MIXER_HANDLE_BASE + (ULONG_PTR)table->openCount) {
        const SimMixerOpenRecord &open = table->opens[value - SIM_MIXER_HANDLE_BASE];
        return open.closed ? -1 : open.mixerId;
    }
    return value < (ULONG_PTR)table->mixerCount ? (int)value : -1;
}

static void NoteClient(SimMixerBlock *table)
{
    DWORD self = GetCurrentProcessId();
    for (DWORD &client : table->clients) {
        if (client == self)
            return;
        if (client == 0) {
            client = self;
            return;
        }
    }
}

extern "C" UINT WINAPI Sim_mixerGetNumDevs()
{
    SimMixerView *view = Table();
    if (view == nullptr)
        return Real<UINT(WINAPI *)()>("mixerGetNumDevs")();
    Locked table(view);
    return (UINT)table->mixerCount;
}

extern "C" MMRESULT WINAPI Sim_mixerGetDevCapsW(UINT_PTR mixerId, LPMIXERCAPSW caps, UINT size)
{
    SimMixerView *view = Table();
    if (view == nullptr)
        return Real<MMRESULT(WINAPI *)(UINT_PTR, LPMIXERCAPSW, UINT)>("mixerGetDevCapsW")(mixerId, caps, size);
    Locked table(view);
    if (caps == nullptr)
        return MMSYSERR_INVALPARAM;
    if (mixerId >= (UINT_PTR)table->mixerCount)
        return MMSYSERR_BADDEVICEID;
    const SimMixerRecord &mixer = table->mixers[mixerId];
    if (mixer.capsFail)
        return MMSYSERR_NODRIVER;
    MIXERCAPSW filled = {};
    filled.wMid = 0xFF;
    filled.wPid = 0xFF;
    filled.vDriverVersion = 0x0100;
    wcsncpy(filled.szPname, mixer.name, MAXPNAMELEN - 1);
    filled.cDestinations = (DWORD)mixer.lineCount;
    memcpy(caps, &filled, size < sizeof(filled) ? size : sizeof(filled));
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI Sim_mixerOpen(LPHMIXER handle, UINT mixerId, DWORD_PTR callback, DWORD_PTR instance,
                                         DWORD flags)
{
    SimMixerView *view = Table();
    if (view == nullptr)
        return Real<MMRESULT(WINAPI *)(LPHMIXER, UINT, DWORD_PTR, DWORD_PTR, DWORD)>("mixerOpen")(
            handle, mixerId, callback, instance, flags);
    Locked table(view);
    if (handle == nullptr)
        return MMSYSERR_INVALPARAM;
    *handle = nullptr;  // as Windows leaves it when the open fails
    if (mixerId >= (UINT)table->mixerCount)
        return MMSYSERR_BADDEVICEID;
    if (table->mixers[mixerId].openFails)
        return MMSYSERR_ALLOCATED;
    if (table->openCount >= SIM_MAX_MIXER_OPENS)
        return MMSYSERR_NOMEM;
    SimMixerOpenRecord &open = table->opens[table->openCount];
    open.mixerId = (LONG)mixerId;
    open.processId = GetCurrentProcessId();
    open.callbackWindow = (flags & CALLBACK_TYPEMASK) == CALLBACK_WINDOW ? (DWORD)callback : 0;
    open.closed = 0;
    *handle = (HMIXER)(SIM_MIXER_HANDLE_BASE + table->openCount);
    table->openCount++;
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI Sim_mixerClose(HMIXER handle)
{
    SimMixerView *view = Table();
    if (view == nullptr)
        return Real<MMRESULT(WINAPI *)(HMIXER)>("mixerClose")(handle);
    Locked table(view);
    ULONG_PTR value = (ULONG_PTR)handle;
    if (value < SIM_MIXER_HANDLE_BASE || value >= SIM_MIXER_HANDLE_BASE + (ULONG_PTR)table->openCount)
        return MMSYSERR_INVALHANDLE;
    SimMixerOpenRecord &open = table->opens[value - SIM_MIXER_HANDLE_BASE];
    if (open.closed)
        return MMSYSERR_INVALHANDLE;
    open.closed = 1;
    table->closeCalls++;
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI Sim_mixerGetLineInfoW(HMIXEROBJ object, LPMIXERLINEW line, DWORD flags)
{
    SimMixerView *view = Table();
    if (view == nullptr)
        return Real<MMRESULT(WINAPI *)(HMIXEROBJ, LPMIXERLINEW, DWORD)>("mixerGetLineInfoW")(object, line, flags);
    Locked table(view);
    if (line == nullptr || line->cbStruct < sizeof(MIXERLINEW))
        return MMSYSERR_INVALPARAM;
    int mixerId = MixerOf(table.operator->(), object);
    if (mixerId < 0)
        return MMSYSERR_INVALHANDLE;
    if ((flags & MIXER_GETLINEINFOF_QUERYMASK) != MIXER_GETLINEINFOF_DESTINATION)
        return MMSYSERR_NOTSUPPORTED;
    const SimMixerRecord &mixer = table->mixers[mixerId];
    if (line->dwDestination >= (DWORD)mixer.lineCount)
        return MIXERR_INVALLINE;
    const SimMixerLineRecord &record = mixer.lines[line->dwDestination];
    line->dwSource = 0;
    line->dwLineID = SimMixerLineId(mixerId, (int)line->dwDestination);
    line->fdwLine = MIXERLINE_LINEF_ACTIVE;
    line->dwComponentType = record.componentType;
    line->cChannels = 2;
    line->cConnections = 0;
    line->cControls = record.hasMute ? 2 : 1;
    wcscpy(line->szShortName, L"Line");
    wcscpy(line->szName, L"Simulated line");
    return MMSYSERR_NOERROR;
}

// The line of a mixer with this line id, or -1.
static int LineOf(const SimMixerRecord &mixer, int mixerId, DWORD lineId)
{
    for (int index = 0; index < mixer.lineCount; ++index) {
        if (SimMixerLineId(mixerId, index) == lineId)
            return index;
    }
    return -1;
}

extern "C" MMRESULT WINAPI Sim_mixerGetLineControlsW(HMIXEROBJ object, LPMIXERLINECONTROLSW controls, DWORD flags)
{
    SimMixerView *view = Table();
    if (view == nullptr)
        return Real<MMRESULT(WINAPI *)(HMIXEROBJ, LPMIXERLINECONTROLSW, DWORD)>("mixerGetLineControlsW")(
            object, controls, flags);
    Locked table(view);
    if (controls == nullptr || controls->cbStruct < sizeof(MIXERLINECONTROLSW) || controls->pamxctrl == nullptr ||
        controls->cbmxctrl < sizeof(MIXERCONTROLW) || controls->cControls != 1)
        return MMSYSERR_INVALPARAM;
    int mixerId = MixerOf(table.operator->(), object);
    if (mixerId < 0)
        return MMSYSERR_INVALHANDLE;
    if ((flags & MIXER_GETLINECONTROLSF_QUERYMASK) != MIXER_GETLINECONTROLSF_ONEBYTYPE)
        return MMSYSERR_NOTSUPPORTED;
    const SimMixerRecord &mixer = table->mixers[mixerId];
    int lineIndex = LineOf(mixer, mixerId, controls->dwLineID);
    if (lineIndex < 0)
        return MIXERR_INVALLINE;
    bool mute = controls->dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE;
    if ((mute && !mixer.lines[lineIndex].hasMute) ||
        (!mute && controls->dwControlType != MIXERCONTROL_CONTROLTYPE_VOLUME))
        return MIXERR_INVALCONTROL;
    MIXERCONTROLW *control = controls->pamxctrl;
    ZeroMemory(control, sizeof(MIXERCONTROLW));
    control->cbStruct = sizeof(MIXERCONTROLW);
    control->dwControlID = SimMixerControlId(mixerId, lineIndex, mute);
    control->dwControlType = controls->dwControlType;
    control->fdwControl = MIXERCONTROL_CONTROLF_UNIFORM;
    control->Bounds.dwMaximum = mute ? 1 : 0xFFFF;
    wcscpy(control->szShortName, mute ? L"Mute" : L"Volume");
    wcscpy(control->szName, mute ? L"Mute" : L"Volume");
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI Sim_mixerGetControlDetailsW(HMIXEROBJ object, LPMIXERCONTROLDETAILS details, DWORD flags)
{
    SimMixerView *view = Table();
    if (view == nullptr)
        return Real<MMRESULT(WINAPI *)(HMIXEROBJ, LPMIXERCONTROLDETAILS, DWORD)>("mixerGetControlDetailsW")(
            object, details, flags);
    Locked table(view);
    if (details == nullptr || details->cbStruct < sizeof(MIXERCONTROLDETAILS) || details->paDetails == nullptr ||
        details->cbDetails < sizeof(DWORD))
        return MMSYSERR_INVALPARAM;
    int mixerId = MixerOf(table.operator->(), object);
    if (mixerId < 0)
        return MMSYSERR_INVALHANDLE;
    if ((flags & MIXER_GETCONTROLDETAILSF_QUERYMASK) != MIXER_GETCONTROLDETAILSF_VALUE)
        return MMSYSERR_NOTSUPPORTED;
    const SimMixerRecord &mixer = table->mixers[mixerId];
    for (int index = 0; index < mixer.lineCount; ++index) {
        const SimMixerLineRecord &line = mixer.lines[index];
        if (line.hasMute && details->dwControlID == SimMixerControlId(mixerId, index, true)) {
            ((MIXERCONTROLDETAILS_BOOLEAN *)details->paDetails)->fValue = line.muted;
            table->muteReads++;
            return MMSYSERR_NOERROR;
        }
        if (details->dwControlID == SimMixerControlId(mixerId, index, false)) {
            ((MIXERCONTROLDETAILS_UNSIGNED *)details->paDetails)->dwValue = (DWORD)line.volume;
            return MMSYSERR_NOERROR;
        }
    }
    return MIXERR_INVALCONTROL;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void *reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        // Lets a test tell that this process got the stand-in, whatever it calls.
        if (Table() != nullptr) {
            Locked table(Table());
            NoteClient(table.operator->());
        }
    }
    return TRUE;
}
