// Listens to the system debug output the way DebugView does (DBWIN_BUFFER),
// so tests can assert a process's diagnostic lines exactly and in order.
//   DebugListener - the lines of every process since it started listening
//   CountOf       - how often a line is among lines
#pragma once

#include <windows.h>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

class DebugListener {
public:
    DebugListener();   // starts listening at once
    ~DebugListener();
    bool listening() const { return thread_ != nullptr; }

    // Every string one process wrote since the listener started (or clear()),
    // byte for byte: line feeds included or absent as the process wrote them.
    std::vector<std::string> linesFrom(DWORD processId);
    // Every string from every process, in order, with the writer's process id.
    std::vector<std::pair<DWORD, std::string>> allLines();
    // Waits until the process has written `text` (`count` times in all); the
    // failure lists its lines.
    testing::AssertionResult waitForLine(DWORD processId, const std::string &text, DWORD timeoutMs = 10000);
    testing::AssertionResult waitForCount(DWORD processId, const std::string &text, int count,
                                          DWORD timeoutMs = 10000);
    // Returns once every line that any process finished writing before the
    // call has been heard: writers take turns, so a marker written now comes after them.
    testing::AssertionResult catchUp();
    // Every string this process wrote, all of them.
    std::vector<std::string> ownLines();
    // Only for a test that asserts that nothing more comes: waits until no
    // new line has come from anyone for quietMs.
    void waitForQuiet(DWORD quietMs = 300, DWORD timeoutMs = 5000);
    void clear();

private:
    static DWORD WINAPI ThreadMain(void *self);
    void run();

    struct Entry {
        DWORD processId;
        std::string text;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    DWORD lastArrival_ = 0;
    HANDLE bufferReady_ = nullptr;
    HANDLE dataReady_ = nullptr;
    HANDLE mapping_ = nullptr;
    const char *view_ = nullptr;
    HANDLE stop_ = nullptr;
    HANDLE arrived_ = nullptr;  // signalled at each line, for the waits
    HANDLE thread_ = nullptr;
};

int CountOf(const std::vector<std::string> &lines, const std::string &line);
