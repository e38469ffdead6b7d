// The device link: finding the switch, its reports, watcher, arrival, mixer.
#pragma once

#include "../shell/AppState.h"

#include <setupapi.h>

// Discovery and opening (SwitchDevice.cpp)
int const SWITCH_ID_ROWS = 6;
// Matching reads at most 1023 characters of a device path, plus the terminator.
DWORD const MATCHING_COPY_CHARS = 1024;
extern const wchar_t *const switchIdTable[SWITCH_ID_ROWS];
HANDLE FindSwitchDevice(DWORD *outputReportLength);
// The pieces of matching, each on its own so they can be checked alone.
void CopyPathForMatching(const wchar_t *devicePath, wchar_t (&matchingCopy)[MATCHING_COPY_CHARS]);
bool PathHoldsSwitchId(const wchar_t *upperPath);
bool PathHoldsNoAudioId(const wchar_t *upperPath);
bool PathHoldsVideoSwitchId(const wchar_t *upperPath);
bool MatchesBySerialKey(const wchar_t *upperPath);  // Windows before 2000

int const HID_SET_HANDLES = 5;

class HidDeviceSet {
public:
    HidDeviceSet();
    void setOverlapped();
    int openAll();
    void closeAll();
    // One interface of openAll's enumeration: opened when it is the switch and a slot is free.
    void openIfSwitch(const wchar_t *devicePath);

    HDEVINFO deviceInfoSet;
    SP_DEVICE_INTERFACE_DATA interfaceData;
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W detailData;
    HANDLE handles[HID_SET_HANDLES];
    DWORD count;
    GUID classGuid;
    DWORD outputReportLength;
    bool overlapped;
};

// Reports (Reports.cpp)
// Every output report is defined over its first eight bytes; the rest of the
// device's report length is zero.
DWORD const REPORT_DEFINED_BYTES = 8;
struct ReportBytes {
    BYTE bytes[REPORT_DEFINED_BYTES];
};
ReportBytes SwitchReport(SwitchCommand command, DWORD muteState);
ReportBytes ResolutionReport(DWORD resolution);  // (width << 16) | height
ReportBytes BorderReport(DWORD borderOn, DWORD optimizeRequested);
// Each true when the whole report was written to the switch.
bool SendSwitchCommand(SwitchCommand command);
bool SendResolutionReport();
bool SendBorderReport();
// report: the watcher's 8-byte input buffer; bytesTransferred: what the read gave.
void HandleInputReport(const BYTE *report, DWORD bytesTransferred);

// Watcher thread (Watcher.cpp)
void ArmWatcherStart();
void OnWatcherStartTimer();
// Ends the watcher, if one runs, and waits for it (at the end of the program).
void StopWatcher();

// Device arrival (Arrival.cpp)
void OnDeviceChange(WPARAM wParam, LPARAM lParam);

// Audio mute follower (Mixer.cpp)
void OpenMixers();
int ReadMuteState();
void OnMixerControlChange(LPARAM controlId);
