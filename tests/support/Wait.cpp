#include "Wait.h"

namespace {

DWORD const LOOK_EVERY_MS = 10;

void PumpThreadMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// The one loop: looks at `holds` until it is true or the time is up, sleeping
// (or waiting for messages, when pumping, or for `changed`) a little between looks.
bool LookUntil(const std::function<bool()> &holds, DWORD timeoutMs, bool pump, HANDLE changed = nullptr)
{
    DWORD const start = GetTickCount();
    for (;;) {
        if (pump)
            PumpThreadMessages();
        if (holds())
            return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return false;
        DWORD slice = timeoutMs - elapsed < LOOK_EVERY_MS ? timeoutMs - elapsed : LOOK_EVERY_MS;
        if (pump)
            MsgWaitForMultipleObjectsEx(0, nullptr, slice, QS_ALLINPUT, MWMO_ALERTABLE | MWMO_INPUTAVAILABLE);
        else if (changed != nullptr)
            WaitForSingleObjectEx(changed, slice, TRUE);
        else
            SleepEx(slice, TRUE);
    }
}

testing::AssertionResult Outcome(bool held, const std::string &what, DWORD timeoutMs,
                                 const std::function<std::string()> &seen)
{
    if (held)
        return testing::AssertionSuccess();
    testing::AssertionResult failure = testing::AssertionFailure();
    failure << "waited " << timeoutMs << " ms for " << what << ", and it never came";
    if (seen)
        failure << "; last seen: " << seen();
    return failure;
}

}  // namespace

testing::AssertionResult WaitUntil(const std::string &what, const std::function<bool()> &holds, DWORD timeoutMs,
                                   const std::function<std::string()> &seen)
{
    return Outcome(LookUntil(holds, timeoutMs, false), what, timeoutMs, seen);
}

testing::AssertionResult WaitUntil(const std::string &what, const std::function<bool()> &holds, HANDLE changed,
                                   DWORD timeoutMs, const std::function<std::string()> &seen)
{
    return Outcome(LookUntil(holds, timeoutMs, false, changed), what, timeoutMs, seen);
}

testing::AssertionResult PumpUntil(const std::string &what, const std::function<bool()> &holds, DWORD timeoutMs,
                                   const std::function<std::string()> &seen)
{
    return Outcome(LookUntil(holds, timeoutMs, true), what, timeoutMs, seen);
}

testing::AssertionResult WaitUntilSignalled(const std::string &what, HANDLE handle, DWORD timeoutMs)
{
    bool signalled = handle != nullptr && WaitForSingleObjectEx(handle, timeoutMs, FALSE) == WAIT_OBJECT_0;
    return Outcome(signalled, what, timeoutMs, nullptr);
}

void PumpMessagesFor(DWORD milliseconds)
{
    LookUntil([] { return false; }, milliseconds, true);
}

std::string Listed(const std::vector<std::string> &items)
{
    if (items.empty())
        return "(none)";
    std::string text;
    for (const std::string &item : items) {
        text += "\n    ";
        text += item;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
    }
    return text;
}
