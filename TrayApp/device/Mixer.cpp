// Following the speakers' mute state in the sound mixer, so the switch knows it.
//   OpenMixers           - start-up: every mixer device, notifications to the main window
//   ReadMuteState        - the speakers' mute control of the mixer last opened
//   OnMixerControlChange - a control changed: report the mute state when it was the mute
#include "Device.h"

static UINT const MIXER_CAPS_BYTES = sizeof(MIXERCAPSW);

// The record sizes the mixer driver checks for 32-bit callers.
#if !defined(_WIN64)
static_assert(sizeof(MIXERCAPSW) == 80 && sizeof(MIXERLINEW) == 280 && sizeof(MIXERLINECONTROLSW) == 24 &&
                  sizeof(MIXERCONTROLW) == 228 && sizeof(MIXERCONTROLDETAILS) == 24,
              "the 32-bit mixer records");
#endif

// The speakers' mute value of one destination line; false when the line is
// not the speakers or has no readable mute control.
static bool ReadSpeakersMute(DWORD destination, DWORD *muteControlId, DWORD *muteValue)
{
    HMIXEROBJ mixer = (HMIXEROBJ)appState.mixerHandle;
    MIXERLINEW line = {};
    line.cbStruct = sizeof(line);
    line.dwDestination = destination;
    if (mixerGetLineInfoW(mixer, &line, MIXER_GETLINEINFOF_DESTINATION) != MMSYSERR_NOERROR ||
        line.dwComponentType != MIXERLINE_COMPONENTTYPE_DST_SPEAKERS)
        return false;

    MIXERCONTROLW control = {};
    control.cbStruct = sizeof(control);
    MIXERLINECONTROLSW controls = {};
    controls.cbStruct = sizeof(controls);
    controls.dwLineID = line.dwLineID;
    controls.dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
    controls.cControls = 1;
    controls.cbmxctrl = sizeof(control);
    controls.pamxctrl = &control;
    if (mixerGetLineControlsW(mixer, &controls, MIXER_GETLINECONTROLSF_ONEBYTYPE) != MMSYSERR_NOERROR)
        return false;
    // Remembered even when its value cannot be read: its changes are the ones to follow.
    *muteControlId = control.dwControlID;

    MIXERCONTROLDETAILS_BOOLEAN value = {};
    MIXERCONTROLDETAILS details = {};
    details.cbStruct = sizeof(details);
    details.dwControlID = control.dwControlID;
    details.cChannels = 1;
    details.cMultipleItems = 0;
    details.cbDetails = sizeof(value);
    details.paDetails = &value;
    if (mixerGetControlDetailsW(mixer, &details, MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR)
        return false;
    // Any non-zero value means muted, and drivers answer more than 1 (0xFFFFFFFF,
    // 0x100): the switch report carries the state in bit 0 alone, so anything
    // else would tell the switch to move video and input, or report unmuted.
    *muteValue = value.fValue != 0 ? 1 : 0;
    return true;
}

int ReadMuteState()
{
    // The no-audio switch carries no speakers: its reports never claim a mute.
    if (appState.noAudio != 0)
        return 0;
    int read = 0;
    // With several speakers lines the last one with a mute control wins.
    for (DWORD destination = 0; destination < appState.mixerCaps.cDestinations; ++destination) {
        if (ReadSpeakersMute(destination, &appState.muteControlId, &appState.muteState))
            read = 1;
    }
    return read;
}

void OpenMixers()
{
    UINT mixerCount = mixerGetNumDevs();
    for (UINT mixerId = 0; mixerId < mixerCount; ++mixerId) {
        if (mixerGetDevCapsW(mixerId, &appState.mixerCaps, MIXER_CAPS_BYTES) != MMSYSERR_NOERROR)
            continue;
        // Every mixer stays open so that its changes keep reaching the main
        // window; only the last one opened is read and closed at the end.
        if (mixerOpen(&appState.mixerHandle, mixerId, (DWORD_PTR)appState.mainWindow, 0, CALLBACK_WINDOW) !=
            MMSYSERR_NOERROR)
            continue;
        if (ReadMuteState() == 1)
            SendSwitchCommand(SWITCH_NONE);
    }
}

void OnMixerControlChange(LPARAM controlId)
{
    // A volume change or any other control says nothing the switch needs.
    if ((DWORD)controlId == appState.muteControlId && ReadMuteState() == 1)
        SendSwitchCommand(SWITCH_NONE);
}
