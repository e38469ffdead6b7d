// Message pumping for tests that wait on windows, timers and other processes
// (see Wait.h: PumpUntil says what it waited for).
#pragma once

#include "Wait.h"

// Pumps this thread's messages until done() is true or the time is up; true when done.
bool PumpMessagesUntil(const std::function<bool()> &done, DWORD timeoutMs = 5000);
