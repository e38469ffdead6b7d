// The one wait of the tests: look until what the test asserts holds, and on
// time-out say what was waited for and what was seen last, as a failure
// message for ASSERT_TRUE / EXPECT_TRUE:
//   ASSERT_TRUE(WaitUntil("the border report 03 04 01 00", [&] { ... }, WAIT_MS, [&] { return ...; }));
//
//   WAIT_MS            - how long a wait lasts before it fails: a busy two-core machine's time
//   WaitUntil          - looks every few milliseconds until `holds` does
//   PumpUntil          - the same, dispatching this thread's messages meanwhile (its windows
//                        and timers run)
//   WaitUntilSignalled - waits for a handle (a process, an event) to be signalled
//   PumpMessagesFor    - dispatches this thread's messages for a while, for tests of timing
//                        where the time passing is the point
// WaitUntil and PumpUntil run the thread's completion routines (ReadFileEx) as they go.
// A wait for something that must *not* happen is no WaitUntil: the listener's
// and the simulator's waitForQuiet are for those, and say so where they stand.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

DWORD const WAIT_MS = 10000;

testing::AssertionResult WaitUntil(const std::string &what, const std::function<bool()> &holds,
                                   DWORD timeoutMs = WAIT_MS, const std::function<std::string()> &seen = nullptr);
// The same, looking again at once whenever `changed` (an auto-reset event that
// whatever `holds` looks at signals) is signalled.
testing::AssertionResult WaitUntil(const std::string &what, const std::function<bool()> &holds, HANDLE changed,
                                   DWORD timeoutMs = WAIT_MS, const std::function<std::string()> &seen = nullptr);
testing::AssertionResult PumpUntil(const std::string &what, const std::function<bool()> &holds,
                                   DWORD timeoutMs = WAIT_MS, const std::function<std::string()> &seen = nullptr);
testing::AssertionResult WaitUntilSignalled(const std::string &what, HANDLE handle, DWORD timeoutMs = WAIT_MS);
void PumpMessagesFor(DWORD milliseconds);

// Lines or reports as one line each, for what a wait saw last.
std::string Listed(const std::vector<std::string> &items);
