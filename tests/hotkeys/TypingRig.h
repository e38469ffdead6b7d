// The desktop as a user has it for the end-to-end hotkey tests and the
// benchmark: Wine's Notepad with the keyboard focus, keys typed on the X
// display with xdotool (or injected with SendInput), and the applet running
// against the simulated switch.
//   XdotoolInstalled    - xdotool is there to type with (Notepad: tests/support/Notepad.h)
//   SetMonitorChosen    - stores the monitor choice so no prompt takes the focus
//   RunningApplet       - VarnelKVM.exe started, its hook installed, its start-up reports done
#pragma once

#include "AppletProcess.h"
#include "DebugListener.h"
#include "Notepad.h"
#include "SimulatedSwitch.h"
#include "UnixCommand.h"

#include <windows.h>
#include <functional>
#include <memory>
#include <string>

bool XdotoolInstalled();


// "DefaultDisplay" and "NumDisplays" as the Primary Monitor prompt stores them,
// naming the first monitor: a switch with display firmware then asks nothing.
void SetMonitorChosen();

// The applet as the user runs it, from a folder of its own.
//
// Wine 8 does not remove a global keyboard hook when the process that set it
// is killed: the hook stays in the chain, and Notepad goes on calling
// Quillhook's KbHook for it, which posts to whatever window the library's
// shared data names now. Every applet killed earlier (by any test) would thus
// add one more copy of each key release. So each start gets a fresh copy of the
// applet and its DLLs, whose shared data no earlier hook can see, and the
// applet is ended through its Exit command, which removes its hook.
class RunningApplet {
public:
    RunningApplet(DebugListener &debug, SimulatedSwitch &simulated);
    ~RunningApplet();
    RunningApplet(const RunningApplet &) = delete;
    RunningApplet &operator=(const RunningApplet &) = delete;

    // False when it did not start, show its window or install its hook.
    bool start();
    // Exit from the tray menu; killed only when that does not end it. True when it exited.
    bool stop();
    DWORD pid() const { return applet_ ? applet_->pid() : 0; }
    // The mute bit of the switch report start-up sent, or -1 when it sent none.
    int startupMuteBit() const { return startupMuteBit_; }

private:
    DebugListener &debug_;
    SimulatedSwitch &simulated_;
    std::unique_ptr<AppletProcess> applet_;
    std::wstring folder_;          // relative to the test's own folder
    int startupMuteBit_ = -1;
};
