// Wine's Notepad as the window a user types into, for the tests that type
// real keys (the hook library's and the hotkeys').
//   Notepad        - starts Notepad and finds its edit control; ends it when gone
//   Notepad::focus - brings it forward until a key typed by the caller's probe
//                    arrives: from then on typed keys reach Notepad
//   Notepad::giveXFocus - the X pointer and focus on its edit control, for xdotool
//   Notepad::text  - what has been typed into it
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

class Notepad {
public:
    Notepad();
    ~Notepad();
    Notepad(const Notepad &) = delete;
    Notepad &operator=(const Notepad &) = delete;

    bool started() const { return edit_ != nullptr; }
    DWORD processId() const { return process_.dwProcessId; }
    // Each attempt puts Notepad in front and types the probe, then pumps this
    // thread's messages until `arrived` is true or the attempt's time is up.
    testing::AssertionResult focus(const std::function<void()> &typeProbe, const std::function<bool()> &arrived);
    int giveXFocus();
    std::wstring text();

private:
    PROCESS_INFORMATION process_ = {};
    HWND window_ = nullptr;
    HWND edit_ = nullptr;
};
