#include "Messages.h"

bool PumpMessagesUntil(const std::function<bool()> &done, DWORD timeoutMs)
{
    return PumpUntil("", done, timeoutMs);
}
