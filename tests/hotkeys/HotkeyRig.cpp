#include "HotkeyRig.h"

#include <cstdio>
#include <cstring>

// Wine gives the right ALT only with the extended flag, as a keyboard does.
static DWORD ExtendedFlag(WORD virtualKey)
{
    return virtualKey == VK_RMENU || virtualKey == VK_RCONTROL ? KEYEVENTF_EXTENDEDKEY : 0;
}

static void SendKey(WORD virtualKey, DWORD flags)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.dwFlags = flags | ExtendedFlag(virtualKey);
    SendInput(1, &input, sizeof(input));
}

void PressKey(WORD virtualKey)
{
    SendKey(virtualKey, 0);
}

void ReleaseKey(WORD virtualKey)
{
    SendKey(virtualKey, KEYEVENTF_KEYUP);
}

bool KeyIsDown(int virtualKey)
{
    return (GetAsyncKeyState(virtualKey) & 0x8000) != 0;
}

void ReleaseModifiers()
{
    for (WORD key : {VK_LMENU, VK_RMENU, VK_LCONTROL, VK_RCONTROL, VK_LSHIFT, VK_RSHIFT}) {
        if (KeyIsDown(key))
            ReleaseKey(key);
    }
}

HeldKey::HeldKey(WORD virtualKey) : virtualKey_(virtualKey), down_(true)
{
    PressKey(virtualKey);
}

HeldKey::~HeldKey()
{
    release();
}

void HeldKey::release()
{
    if (down_)
        ReleaseKey(virtualKey_);
    down_ = false;
}

const char *AltName(AltHeld alt)
{
    switch (alt) {
    case ALT_UP: return "ALT up";
    case LEFT_ALT: return "left ALT held";
    case RIGHT_ALT: return "right ALT held";
    case BOTH_ALTS: return "both ALTs held";
    }
    return "?";
}

AltKeys::AltKeys(AltHeld alt)
{
    if (alt == LEFT_ALT || alt == BOTH_ALTS)
        held_.push_back(VK_LMENU);
    if (alt == RIGHT_ALT || alt == BOTH_ALTS)
        held_.push_back(VK_RMENU);
    for (WORD key : held_)
        PressKey(key);
}

AltKeys::~AltKeys()
{
    for (WORD key : held_) {
        if (KeyIsDown(key))
            ReleaseKey(key);
    }
}

const char *TimerChangeName(TimerChange change)
{
    switch (change) {
    case TIMER_KEPT: return "kept";
    case TIMER_RESTARTED: return "restarted";
    case TIMER_STOPPED: return "stopped";
    }
    return "?";
}

// KillTimer answers whether the timer was still running (and ends it).
static bool StillRunning(UINT_PTR timerId)
{
    return KillTimer(nullptr, timerId) != FALSE;
}

void CheckTimer(const char *role, UINT_PTR before, UINT_PTR now, TimerChange expected)
{
    UINT_PTR const none = (UINT_PTR)-1;
    SCOPED_TRACE(std::string(role) + " timer expected " + TimerChangeName(expected));
    switch (expected) {
    case TIMER_KEPT:
        EXPECT_EQ(now, before);
        break;
    case TIMER_RESTARTED:
        EXPECT_NE(now, none);
        EXPECT_NE(now, before) << "a restart records the id of a new timer";
        if (before != none && now != before) {
            EXPECT_FALSE(StillRunning(before)) << "the timer recorded before is stopped";
        }
        break;
    case TIMER_STOPPED:
        EXPECT_EQ(now, none);
        if (before != none) {
            EXPECT_FALSE(StillRunning(before));
        }
        break;
    }
}

void RecognizerLines::mark()
{
    char marker[64];
    snprintf(marker, sizeof(marker), "hotkey test mark %d\n", ++markers_);
    OutputDebugStringA(marker);
    EXPECT_TRUE(listener_.waitForLine(GetCurrentProcessId(), marker)) << "the debug output is heard";
    markedAt_ = listener_.linesFrom(GetCurrentProcessId()).size();
}

std::vector<std::string> RecognizerLines::sinceMark()
{
    size_t const from = markedAt_;
    mark();
    std::vector<std::string> lines = listener_.linesFrom(GetCurrentProcessId());
    // Everything between the two markers, without the second marker itself.
    return std::vector<std::string>(lines.begin() + from, lines.begin() + (markedAt_ - 1));
}

int RecognizerLines::count(const std::string &line)
{
    int found = 0;
    for (const std::string &written : sinceMark()) {
        if (written == line)
            ++found;
    }
    return found;
}

// The system raises a debug-print exception for every OutputDebugString before
// the text goes anywhere: a vectored handler sees it on the writer's own thread.
static DWORD const PRINT_EXCEPTION = 0x40010006;       // DBG_PRINTEXCEPTION_C
static DWORD const PRINT_EXCEPTION_WIDE = 0x4001000A;  // DBG_PRINTEXCEPTION_WIDE_C

static std::string watchedLine;
static std::function<void()> watchedAction;
static int watchedHits = 0;
// Some Windows versions follow a wide print exception with a narrow one for the same line.
static bool narrowEchoExpected = false;

static LONG CALLBACK WatchDebugLines(EXCEPTION_POINTERS *pointers)
{
    EXCEPTION_RECORD const *record = pointers->ExceptionRecord;
    if (record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    std::string text;
    bool const wide = record->ExceptionCode == PRINT_EXCEPTION_WIDE;
    if (record->ExceptionCode == PRINT_EXCEPTION) {
        text = (const char *)record->ExceptionInformation[1];
        if (narrowEchoExpected && text == watchedLine) {
            narrowEchoExpected = false;
            return EXCEPTION_CONTINUE_SEARCH;
        }
    } else if (record->ExceptionCode == PRINT_EXCEPTION_WIDE) {
        for (const wchar_t *wide = (const wchar_t *)record->ExceptionInformation[1]; *wide != 0; ++wide)
            text += (char)*wide;
    } else {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (text == watchedLine) {
        narrowEchoExpected = wide;
        ++watchedHits;
        watchedAction();
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

OnOwnDebugLine::OnOwnDebugLine(const std::string &line, std::function<void()> action)
{
    watchedLine = line;
    watchedAction = action;
    watchedHits = 0;
    narrowEchoExpected = false;
    handler_ = AddVectoredExceptionHandler(1, WatchDebugLines);
}

OnOwnDebugLine::~OnOwnDebugLine()
{
    RemoveVectoredExceptionHandler(handler_);
    watchedAction = nullptr;
}

int OnOwnDebugLine::hits() const
{
    return watchedHits;
}
