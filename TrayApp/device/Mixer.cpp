// Following the speakers' mute state in the sound mixer.
#include "Device.h"

void OpenMixers()
{
    // Not built yet: no mixer is opened.
}

int ReadMuteState()
{
    return 0;
}

void OnMixerControlChange(LPARAM controlId)
{
    if ((DWORD)controlId == appState.muteControlId && ReadMuteState() == 1)
        SendSwitchCommand(SWITCH_NONE);
}
