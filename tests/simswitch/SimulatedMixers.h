// Simulated sound mixers for tests: the applet's mixer calls (through the
// stand-in winmm.dll, StandInWinmm.cpp) see the mixer devices a test presents,
// and a test changes a mute or volume control as the user would in the
// volume control, with the notice Windows sends to every window that opened
// the mixer with CALLBACK_WINDOW.
//   SimMixerLine     - one destination line of a mixer
//   SimMixer         - one mixer device
//   SimulatedMixers  - the table, its changes and what the applet did with it
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <memory>
#include <string>
#include <vector>

struct SimMixerLine {
    DWORD componentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    bool hasMute = true;
    bool muted = false;
};

struct SimMixer {
    std::wstring name = L"Simulated mixer";
    std::vector<SimMixerLine> lines = {SimMixerLine()};
    bool capsFail = false;   // mixerGetDevCapsW fails
    bool openFails = false;  // mixerOpen fails
};

class SimMixerView;

class SimulatedMixers {
public:
    // A table of its own, named in SIMMIXER_TABLE, and Wine told to load the
    // stand-in winmm.dll into VarnelKVM.exe (HKCU Software\Wine\AppDefaults):
    // the applet started from now on sees the table. The destructor undoes both.
    SimulatedMixers();
    ~SimulatedMixers();
    SimulatedMixers(const SimulatedMixers &) = delete;
    SimulatedMixers &operator=(const SimulatedMixers &) = delete;

    bool running() const;
    int add(const SimMixer &mixer);  // its device id, in the order added

    // The user changes a control; every window that opened the mixer is told.
    // A mute value is what the driver answers: some call muted any non-zero value.
    void setMute(int mixer, int line, LONG muted);
    void changeVolume(int mixer, int line);

    DWORD muteControlId(int mixer, int line) const;
    int opensBy(DWORD processId) const;         // mixerOpen calls that succeeded
    int closeCalls() const;                     // mixerClose calls on handles of the table
    int muteReads() const;                      // mute values read
    bool served(DWORD processId) const;         // that process's winmm is the stand-in

private:
    void notify(int mixer, DWORD controlId);

    std::unique_ptr<SimMixerView> view_;
    std::wstring oldTable_;
    bool hadTable_ = false;
};
