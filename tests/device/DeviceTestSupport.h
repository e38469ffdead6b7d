// What the in-process device tests share: the applet's code in this process,
// talking to a simulated switch through the stand-in setupapi and hid DLLs.
#pragma once

#include "SimulatedSwitch.h"
#include "Wait.h"
#include "device/Device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

DWORD const DEVICE_WAIT_MS = 5000;

// A fresh AppState, on a Windows version with the device-path way of matching.
inline void ResetAppState()
{
    appState = AppState();
    appState.osVersion.dwOSVersionInfoSize = sizeof(appState.osVersion);
    GetVersionExW((OSVERSIONINFOW *)&appState.osVersion);
}

// Closes a switch handle at the end of a scope.
class DeviceHandle {
public:
    explicit DeviceHandle(HANDLE handle) : handle_(handle) {}
    ~DeviceHandle()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    DeviceHandle(const DeviceHandle &) = delete;
    DeviceHandle &operator=(const DeviceHandle &) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

class SimulatedSwitchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(simulator.running());
        ASSERT_TRUE(SimStandInsServeThisProcess())
            << "this test runs with WINEDLLOVERRIDES=\"setupapi,hid=n,b\" (tests/simswitch/wine-run-with-stand-ins)";
        ResetAppState();
    }

    SimulatedSwitch simulator;
};

// The bytes a report should have on a device of the given length: the defined
// ones first, zeros after, cut at the length.
inline std::vector<BYTE> Padded(std::vector<BYTE> defined, size_t length)
{
    defined.resize(length, 0);
    return defined;
}

// The path of a switch interface with its case changed: pipe names ignore case.
inline SimInterface WithPathCase(SimInterface description, bool upper)
{
    for (wchar_t &c : description.devicePath)
        c = upper ? towupper(c) : towlower(c);
    return description;
}
