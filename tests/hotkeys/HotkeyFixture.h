// The in-process fixture of the hotkey tests: the recognizer's record as
// start-up leaves it (both windows ticking), and what a row expects of the
// switch and of the display optimisation.
#pragma once

#include "HotkeyRig.h"
#include "SimulatedSwitch.h"

#include "device/Device.h"
#include "hotkeys/Hotkeys.h"
#include "shell/Shell.h"

#include <cctype>
#include <memory>
#include <string>

#include <gtest/gtest.h>

// What a completed (or not completed) switching sequence sends.
enum Sent { SENT_NOTHING, SENT_ALL, SENT_VIDEO };
const char *SentName(Sent sent);
// The switch report the applet writes for a command: report id 1, the command
// in bits 1-2 and the speaker mute bit in bit 0, zeros to its 8 bytes.
std::vector<BYTE> ExpectedSwitchReport(Sent sent, DWORD muteState);

// The simulated switch of this test process: one switch interface, firmware 3
// (so a switch send does not open the display features by itself).
SimulatedSwitch &TestSwitch();

class HotkeyFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The switch's firmware major version as the last probe found it (0: none).
    void setFirmwareMajor(BYTE major);
    // Forgets what earlier steps of the test wrote and sent.
    void beginRow();
    // Since beginRow: the recognizer's switch line and what reached the switch.
    void expectSent(Sent expected);
    // Since beginRow: how often the optimize sequence fired.
    void expectOptimized(int times);

    RecognizerLines lines_;
    std::vector<std::string> rowLines_;
    bool rowLinesRead_ = false;
    LONG enumerationsAtRow_ = 0;

private:
    const std::vector<std::string> &rowLines();
};

// A test name from a row's own name, so a failing row names itself.
template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row> &info)
{
    std::string name = std::to_string(info.index) + "_";
    for (const char *c = info.param.name; *c != 0; ++c)
        name += std::isalnum((unsigned char)*c) ? *c : '_';
    return name;
}
