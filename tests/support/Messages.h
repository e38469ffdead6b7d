// Message pumping for tests that wait on windows, timers and other processes.
#pragma once

#include <windows.h>
#include <functional>

// Pumps this thread's messages until done() is true or the time is up; true when done.
bool PumpMessagesUntil(const std::function<bool()> &done, DWORD timeoutMs = 5000);
// Pumps this thread's messages for the given time.
void PumpMessagesFor(DWORD milliseconds);
