// Wine's Notepad as the window a user types into, for the tests that type
// real keys; ended when the object goes.
//   focus      - brings Notepad forward until a key the probe types arrives
//                (shows in its text, unless `arrived` tells otherwise)
//   giveXFocus - the X pointer and focus on its edit control, for xdotool
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
    testing::AssertionResult focus(const std::function<void()> &typeProbe,
                                   const std::function<bool()> &arrived = nullptr);
    int giveXFocus();
    std::wstring text();

private:
    PROCESS_INFORMATION process_ = {};
    HWND window_ = nullptr;
    HWND edit_ = nullptr;
};
