// The one wait of the tests: it looks until what the test asserts holds, and
// on time-out its failure names what it waited for and what it saw last:
//   ASSERT_TRUE(WaitUntil("the border report 03 04 01 00", [&] { ... }, WAIT_MS, [&] { return ...; }));
//   WaitUntil       - looks every few milliseconds, or at once when `changed` (an
//                     auto-reset event, or any handle) is signalled
//   PumpUntil       - the same, dispatching this thread's messages meanwhile
//   PumpMessagesFor - dispatches them for a while, where the time passing is the point
//   Listed          - lines or reports one to a line, for what a wait saw
// Both waits run the thread's completion routines (ReadFileEx) as they go. What
// must not happen is no WaitUntil: the listener's and the simulator's
// waitForQuiet are for that, and say so where they stand.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

DWORD const WAIT_MS = 10000;  // a busy two-core machine's time

testing::AssertionResult WaitUntil(const std::string &what, const std::function<bool()> &holds,
                                   DWORD timeoutMs = WAIT_MS, const std::function<std::string()> &seen = nullptr);
testing::AssertionResult WaitUntil(const std::string &what, const std::function<bool()> &holds, HANDLE changed,
                                   DWORD timeoutMs = WAIT_MS, const std::function<std::string()> &seen = nullptr);
testing::AssertionResult PumpUntil(const std::string &what, const std::function<bool()> &holds,
                                   DWORD timeoutMs = WAIT_MS, const std::function<std::string()> &seen = nullptr);
void PumpMessagesFor(DWORD milliseconds);
std::string Listed(const std::vector<std::string> &items);
