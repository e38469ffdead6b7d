// The reports the applet writes to the switch and the one it reads.
//   SwitchReport, ResolutionReport, BorderReport - the defined bytes of each output report
//   SendOutputReport   - open the switch, write one report, close it
//   SendSwitchCommand, SendResolutionReport, SendBorderReport
//   HandleInputReport  - a border request from the switch
#include "Device.h"
#include "../display/Display.h"
#include "../shell/Shell.h"

#include <cstring>

static BYTE const SWITCH_REPORT_ID = 1;
static BYTE const DISPLAY_REPORT_ID = 3;
static BYTE const DISPLAY_RESOLUTION = 3;   // byte 1 of a display report
static BYTE const DISPLAY_BORDER = 4;
static BYTE const BORDER_REQUEST_OFF = 0;   // byte 1 of the switch's input report
static BYTE const BORDER_REQUEST_ON = 1;
static DWORD const INPUT_REPORT_COMMAND_BYTES = 2;  // report id and command

ReportBytes SwitchReport(SwitchCommand command, DWORD muteState)
{
    // Bit 0 carries the speaker mute state with every switch report, so the
    // switch always knows it, even when the report does not switch.
    ReportBytes report = {};
    report.bytes[0] = SWITCH_REPORT_ID;
    report.bytes[1] = (BYTE)(command * 2) | LOBYTE(muteState);
    return report;
}

ReportBytes ResolutionReport(DWORD resolution)
{
    // (width << 16) | height, most significant byte first.
    ReportBytes report = {};
    report.bytes[0] = DISPLAY_REPORT_ID;
    report.bytes[1] = DISPLAY_RESOLUTION;
    report.bytes[2] = HIBYTE(HIWORD(resolution));
    report.bytes[3] = LOBYTE(HIWORD(resolution));
    report.bytes[4] = HIBYTE(LOWORD(resolution));
    report.bytes[5] = LOBYTE(LOWORD(resolution));
    return report;
}

ReportBytes BorderReport(DWORD borderOn, DWORD optimizeRequested)
{
    ReportBytes report = {};
    report.bytes[0] = DISPLAY_REPORT_ID;
    report.bytes[1] = DISPLAY_BORDER;
    report.bytes[2] = LOBYTE(borderOn);
    report.bytes[3] = LOBYTE(optimizeRequested);
    return report;
}

typedef ReportBytes (*ReportMaker)(SwitchCommand command);

static ReportBytes MakeSwitchReport(SwitchCommand command)
{
    return SwitchReport(command, appState.muteState);
}

static ReportBytes MakeResolutionReport(SwitchCommand)
{
    return ResolutionReport(GetPrimaryResolution());
}

static ReportBytes MakeBorderReport(SwitchCommand)
{
    return BorderReport(appState.borderOn, appState.optimizeRequested);
}

// Every report goes the same way: the switch is opened for this one write
// and closed again. Fire and forget: a switch that is absent or refuses the
// write changes nothing, and nothing is retried. True when the whole report
// was written, for whoever asked from the command line.
static bool SendOutputReport(const wchar_t *diagnosticLine, ReportMaker make, SwitchCommand command)
{
    DWORD reportLength = 0;
    HANDLE device = FindSwitchDevice(&reportLength);
    if (device == INVALID_HANDLE_VALUE)
        return false;
    DebugLine(diagnosticLine);
    // Made only now the switch is open: the resolution is read at this point.
    ReportBytes defined = make(command);
    // The device's own report length, zero-filled past the defined bytes (and
    // cut short when the device's reports are shorter).
    BYTE *report = (BYTE *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, reportLength > 0 ? reportLength : 1);
    bool sent = false;
    if (report != nullptr) {
        memcpy(report, defined.bytes, reportLength < REPORT_DEFINED_BYTES ? reportLength : REPORT_DEFINED_BYTES);
        DWORD written = 0;
        sent = WriteFile(device, report, reportLength, &written, nullptr) && written == reportLength && written > 0;
        HeapFree(GetProcessHeap(), 0, report);
    }
    CloseHandle(device);
    return sent;
}

bool SendSwitchCommand(SwitchCommand command)
{
    return SendOutputReport(L"Sending Switch\n", MakeSwitchReport, command);
}

bool SendResolutionReport()
{
    return SendOutputReport(L"Sending resolution\n", MakeResolutionReport, SWITCH_NONE);
}

bool SendBorderReport()
{
    return SendOutputReport(L"Sendng border response\n", MakeBorderReport, SWITCH_NONE);
}

void HandleInputReport(const BYTE *report, DWORD bytesTransferred)
{
    // Found afresh for every report: the request is lost if the window is gone.
    HWND mainWindow = FindWindowW(appState.className, nullptr);
    // A report too short to hold its command asks for nothing: acting on it
    // would take the command byte of whatever report came before.
    if (bytesTransferred < INPUT_REPORT_COMMAND_BYTES || report[0] != DISPLAY_REPORT_ID)
        return;
    DebugLineF(L"%x %x %x %x %x : 0x%x\n", report[0], report[1], report[2], report[3], report[4],
               report[1] + 256 * report[2]);
    UINT request = 0;
    switch (report[1]) {
    case BORDER_REQUEST_OFF:
        DebugLine(L"KVM Asked to turn border OFF\n");
        request = WM_TURN_BORDER_OFF;
        break;
    case BORDER_REQUEST_ON:
        DebugLine(L"KVM Asked to turn border ON\n");
        request = WM_TURN_BORDER_ON;
        break;
    default:
        DebugLineF(L"KVM Sent an unknown command %x\n", report[1]);
        return;
    }
    // A null window would make this a message to the watcher's own thread.
    if (mainWindow != nullptr)
        PostMessageW(mainWindow, request, 0, 0);
}
