// The device link: finding the switch, its reports, watcher, arrival, mixer.
#pragma once

#include "../shell/AppState.h"

#include <setupapi.h>

// Discovery and opening (SwitchDevice.cpp)
extern const wchar_t *const switchIdTable[6];
HANDLE FindSwitchDevice(DWORD *outputReportLength);

class HidDeviceSet {
public:
    HidDeviceSet();
    void setOverlapped();
    int openAll();
    void closeAll();

    HDEVINFO deviceInfoSet;
    SP_DEVICE_INTERFACE_DATA interfaceData;
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W detailData;
    HANDLE handles[5];
    DWORD count;
    GUID classGuid;
    DWORD outputReportLength;
    bool overlapped;
};

// Reports (Reports.cpp)
enum SwitchCommand { SWITCH_NONE = 0, SWITCH_VIDEO = 1, SWITCH_AUDIO = 2, SWITCH_ALL = 3 };
void SendSwitchCommand(SwitchCommand command);
void SendResolutionReport();
void SendBorderReport();
void HandleInputReport(const BYTE *report, DWORD bytesTransferred);

// Watcher thread (Watcher.cpp)
void OnWatcherStartTimer();

// Device arrival (Arrival.cpp)
void OnDeviceChange(WPARAM wParam, LPARAM lParam);

// Audio mute follower (Mixer.cpp)
void OpenMixers();
int ReadMuteState();
void OnMixerControlChange(LPARAM controlId);
