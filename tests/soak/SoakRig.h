// The soak's rig: the applet as it ships, against a simulated switch (a
// firmware-4 one and a firmware-3 one, plugged in turn), the stand-in mixer,
// the stand-in shell's tray, Notepad to type hotkeys into, and the menu spy;
// and every action the soak takes with it, each told to the switch model so
// that the reports it should cause are expected.
//   SoakRig::start                  - everything up, the applet running and settled
//   SoakRig::<action>               - one action as a user, the system or the switch does it
//   SoakRig::settleTimer            - the border's 59 seconds run out before a border event
//   SoakRig::waitForExpectedReports - the reports of the last action are in
//   SoakRig::finish                 - the final "/x", and the exit codes
#pragma once

#include "AppletProcess.h"
#include "MenuSpy.h"
#include "ReportLedger.h"
#include "Registry.h"
#include "ShellTray.h"
#include "SimulatedMixers.h"
#include "SimulatedSwitch.h"
#include "SwitchModel.h"
#include "TypingRig.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class SoakRig {
public:
    SoakRig();
    ~SoakRig();
    bool start(std::string *failure);

    // The counts of what was done, by name, and of what did not go as a user would see it.
    std::map<std::string, int> actions;
    std::map<std::string, int> faults;
    // Border request 03 01 to the border report 03 04 01, in milliseconds, every single request;
    // the slowest with the action it came in.
    std::vector<double> borderReplies;
    double slowestReply = 0;
    std::string slowestReplyAfter;

    void borderRequest(bool on, bool leaveToTimer = false);
    void borderBurst();
    void displayChange();
    void muteFlip();
    void typedHotkey(int kind);         // SWITCH_ALL 3, SWITCH_VIDEO 1, or 0: optimize
    void menuCommand(WORD command);
    void iconDoubleClick();
    void trayMenu();
    void optionsDialog(int closing);    // 0 OK, 1 Cancel, 2 Escape
    void aboutDialog(int closing);      // 0 OK, 1 the close box, 2 Escape
    void pipeClient(int kind);          // 0 silent, 1 short, 2 wrong command, 3 connect and leave
    void secondStart();
    void explorerRestart();
    void swapSwitch();
    // Before every action: when the border's timer is about to fire, it is
    // waited for and its report awaited, so that nothing else runs meanwhile.
    void settleTimer();
    // After an action: its reports are in (or the wait timed out; the tally counts them).
    void waitForExpectedReports();

    bool leavingToTimer() const { return leavingToTimer_; }
    bool displayFirmware() const { return model_.displayFirmware(); }
    bool borderOn() const { return model_.borderOn(); }
    bool alive() { return applet_->running(); }
    DWORD appletPid() const { return applet_->pid(); }
    HANDLE appletHandle() const { return applet_->handle(); }
    // "/x" from a second start; false when the applet did not end in time.
    bool finish(DWORD *slashXExit, DWORD *appletExit);
    std::map<std::string, KindTally> tally() const;
    int actionsDone() const;

private:
    bool waitForWatcher(int interfaceId);
    bool focusNotepad();
    void count(const std::string &action)
    {
        actions[action]++;
        lastAction_ = action;
    }
    std::string lastAction_;
    void fault(const std::string &what) { faults[what]++; }
    bool closeDialog(HWND dialog, int closing, bool about);

    CleanRegistry registry_;
    ShellTray *shell_ = nullptr;                // on a thread of its own (it must always answer)
    HANDLE shellThread_ = nullptr;
    SimulatedSwitch simulator_;
    SimulatedMixers mixers_;
    ReportLedger ledger_;
    SwitchModel model_;
    std::unique_ptr<Notepad> notepad_;
    std::unique_ptr<AppletProcess> applet_;
    std::unique_ptr<MenuSpy> spy_;
    int fw4_ = -1, fw3_ = -1, mixer_ = -1;
    // Accepted reports of each kind so far, counted on the simulator's thread,
    // and those of each kind given up on after a wait timed out.
    volatile LONG receivedOfKind_[4] = {};
    std::map<std::string, size_t> givenUp_;
    bool leavingToTimer_ = false;
    HANDLE borderShown_ = nullptr;              // set at each 03 04 01 report, on the simulator's thread
    volatile LONGLONG borderShownAt_ = 0;
    HANDLE silentClient_ = nullptr;

    friend DWORD WINAPI ShellThread(void *);
    HANDLE shellReady_ = nullptr;
    HANDLE shellRestarted_ = nullptr;
    volatile LONG shellRestartOk_ = 0;
    DWORD shellThreadId_ = 0;
};
