// What the hotkey tests share: keys really held on the desktop, the applet's
// timers as a row expects them, the recognizer's diagnostic lines, and a hook
// on the applet's own debug output to act at a precise moment.
//   HeldKey           - presses a key on construction, releases it on destruction
//   ReleaseModifiers  - lets go of every ALT, Control and Shift key
//   TimerChange       - what a row expects of one timer role
//   CheckTimer        - compares a stored timer id with the one before the row
//   RecognizerLines   - the diagnostic lines this process wrote since a mark
//   OnOwnDebugLine    - runs a callback when this process writes a given line
#pragma once

#include "DebugListener.h"

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Holds a key down through SendInput, so that GetAsyncKeyState sees it as the
// applet would see a key the user holds; released when it goes out of scope.
class HeldKey {
public:
    explicit HeldKey(WORD virtualKey);
    ~HeldKey();
    HeldKey(const HeldKey &) = delete;
    HeldKey &operator=(const HeldKey &) = delete;
    void release();

private:
    WORD virtualKey_;
    bool down_;
};

void PressKey(WORD virtualKey);
void ReleaseKey(WORD virtualKey);
bool KeyIsDown(int virtualKey);
// Every ALT, Control and Shift key up: a failed test leaves nothing held for the next.
void ReleaseModifiers();

// Which ALT key, if any, a row holds while the release is handled.
enum AltHeld { ALT_UP, LEFT_ALT, RIGHT_ALT, BOTH_ALTS };
const char *AltName(AltHeld alt);
class AltKeys {
public:
    explicit AltKeys(AltHeld alt);
    ~AltKeys();

private:
    std::vector<WORD> held_;
};

// What a row expects of a timer role: left as it was, started afresh
// (the one recorded before is gone), or stopped and forgotten.
enum TimerChange { TIMER_KEPT, TIMER_RESTARTED, TIMER_STOPPED };
const char *TimerChangeName(TimerChange change);
// before: the stored id before the row; now: the stored id after it.
void CheckTimer(const char *role, UINT_PTR before, UINT_PTR now, TimerChange expected);

// The recognizer's own lines among everything this process wrote since
// mark(): a marker line is written and awaited, so every line written before
// it has been collected.
class RecognizerLines {
public:
    void mark();
    std::vector<std::string> sinceMark();
    int count(const std::string &line);

private:
    DebugListener listener_;
    size_t markedAt_ = 0;
    int markers_ = 0;
};

// Runs action on this thread at the moment this process writes `line` on the
// debug output, before the writer goes on. Only one at a time.
class OnOwnDebugLine {
public:
    OnOwnDebugLine(const std::string &line, std::function<void()> action);
    ~OnOwnDebugLine();
    int hits() const;

private:
    void *handler_;
};
