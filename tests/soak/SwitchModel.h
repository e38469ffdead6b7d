// What the switch should receive, event by event: the applet's state as the
// switch sees it (which switch is attached, the border and its 59 seconds,
// the mute bit) and the reports each event makes it send, in order.
//   SwitchModel::attach / detach       - a switch plugged in (its greeting) / removed
//   SwitchModel::switchCommand         - a switch report: menu, icon, hotkey
//   SwitchModel::muteChanged           - the speakers' mute flipped
//   SwitchModel::borderRequest         - the switch's input report 03 01 or 03 00
//   SwitchModel::displayChange         - WM_DISPLAYCHANGE
//   SwitchModel::optimize              - "Optimize Display", from the menu or its hotkey
//   SwitchModel::timerDue / timerFired - the border's 59 seconds
//   SwitchModel::exit                  - the applet closes
#pragma once

#include "ReportLedger.h"

#include <windows.h>
#include <map>

// The border runs for 59 s from its start; the guard keeps every other event
// this far from the moment its timer fires, so that the order is certain.
DWORD const BORDER_TIMER_MS = 59000;
DWORD const BORDER_TIMER_GUARD_MS = 6000;

struct SwitchIdentity {
    bool displayFirmware = false;   // firmware major 4
    bool videoCapable = false;      // product 5A03 or 5A04
    USHORT outputLength = 8;
};

class SwitchModel {
public:
    SwitchModel(ReportLedger &ledger, DWORD resolution) : ledger_(ledger), resolution_(resolution) {}
    void identify(int interfaceId, const SwitchIdentity &identity) { switches_[interfaceId] = identity; }

    void attach(int interfaceId);
    // The applet started with this switch attached; start-up's reports are not counted.
    void startedWith(int interfaceId) { attached_ = interfaceId; }
    void detach() { attached_ = -1; }
    void switchCommand(int command);
    void muteChanged(bool muted);
    void borderRequest(bool on);
    void displayChange();
    void optimize();
    // The border timer has fired by now (its report is then expected).
    bool timerDue(DWORD now) const { return timerRunning_ && (LONG)(now - timerStart_) >= (LONG)BORDER_TIMER_MS; }
    // Within the guard before the timer fires, or past it.
    bool nearTimer(DWORD now) const
    {
        return timerRunning_ && (LONG)(now - timerStart_) >= (LONG)(BORDER_TIMER_MS - BORDER_TIMER_GUARD_MS);
    }
    DWORD timerStart() const { return timerStart_; }
    void timerFired();
    void exit();

    int attached() const { return attached_; }
    bool displayFirmware() const { return attached_ >= 0 && switches_.at(attached_).displayFirmware; }
    bool borderOn() const { return borderOn_; }
    bool muted() const { return mute_; }

private:
    void send(std::vector<BYTE> defined);
    void sendBorder(bool optimizeRequested = false);
    void sendResolution();
    bool startBorder();

    ReportLedger &ledger_;
    DWORD resolution_;
    std::map<int, SwitchIdentity> switches_;
    int attached_ = -1;
    bool borderOn_ = false;
    bool timerRunning_ = false;
    DWORD timerStart_ = 0;
    bool mute_ = false;
};
