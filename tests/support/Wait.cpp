#include "Wait.h"

namespace {

// The one loop: looks at `holds` until it is true or the time is up, waiting
// a little between looks for messages (when pumping), `changed` or nothing.
bool LookUntil(const std::function<bool()> &holds, DWORD timeoutMs, bool pump, HANDLE changed = nullptr)
{
    DWORD const start = GetTickCount();
    for (;;) {
        MSG message;
        while (pump && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (holds())
            return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return false;
        DWORD slice = timeoutMs - elapsed < 10 ? timeoutMs - elapsed : 10;
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
    return testing::AssertionFailure() << "waited " << timeoutMs << " ms for " << what << ", and it never came"
                                       << (seen ? "; last seen: " + seen() : "");
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

void PumpMessagesFor(DWORD milliseconds)
{
    LookUntil([] { return false; }, milliseconds, true);
}

std::string Listed(const std::vector<std::string> &items)
{
    std::string text = items.empty() ? " (none)" : "";
    for (const std::string &item : items)
        text += "\n  [" + item + "]";
    return text;
}
