#include "SwitchModel.h"

namespace {

BYTE const SWITCH_REPORT = 1;
BYTE const DISPLAY_REPORT = 3;
BYTE const RESOLUTION = 3;
BYTE const BORDER = 4;

}  // namespace

// Every report goes to the switch attached at that moment, the device's whole
// output report long; with none attached nothing is sent.
void SwitchModel::send(std::vector<BYTE> defined)
{
    if (attached_ < 0)
        return;
    defined.resize(switches_.at(attached_).outputLength, 0);
    ledger_.expect(attached_, defined);
}

void SwitchModel::sendBorder(bool optimizeRequested)
{
    send({DISPLAY_REPORT, BORDER, (BYTE)(borderOn_ ? 1 : 0), (BYTE)(optimizeRequested ? 1 : 0)});
}

void SwitchModel::sendResolution()
{
    send({DISPLAY_REPORT, RESOLUTION, HIBYTE(HIWORD(resolution_)), LOBYTE(HIWORD(resolution_)),
          HIBYTE(LOWORD(resolution_)), LOBYTE(LOWORD(resolution_))});
}

// A border that is already on keeps its timer.
bool SwitchModel::startBorder()
{
    if (borderOn_)
        return false;
    borderOn_ = true;
    timerRunning_ = true;
    timerStart_ = GetTickCount();
    return true;
}

void SwitchModel::attach(int interfaceId)
{
    attached_ = interfaceId;
    switchCommand(0);
    const SwitchIdentity &identity = switches_.at(interfaceId);
    if (!identity.videoCapable || !identity.displayFirmware)
        return;
    // A border that shows is drawn anew; only the resolution is told again.
    if (!startBorder()) {
        sendResolution();
        return;
    }
    sendResolution();
    sendBorder();
}

void SwitchModel::switchCommand(int command)
{
    send({SWITCH_REPORT, (BYTE)(command * 2 | (mute_ ? 1 : 0))});
}

void SwitchModel::muteChanged(bool muted)
{
    mute_ = muted;
    switchCommand(0);
}

void SwitchModel::borderRequest(bool on)
{
    if (!displayFirmware())
        return;
    if (on)
        startBorder();
    else
        borderOn_ = false;  // the timer runs on
    sendBorder();
}

void SwitchModel::displayChange()
{
    if (!displayFirmware())
        return;
    startBorder();
    sendResolution();
    sendBorder();
}

void SwitchModel::optimize()
{
    if (borderOn_)
        return;
    startBorder();
    sendResolution();
    sendBorder(true);
}

// Whatever the border's state, the timer's report says "off".
void SwitchModel::timerFired()
{
    timerRunning_ = false;
    borderOn_ = false;
    sendBorder();
}

void SwitchModel::exit()
{
    if (!borderOn_)
        return;
    borderOn_ = false;
    sendBorder();
}
