// KeyWitness.dll: a second system-wide keyboard hook for the tests. It keeps a
// table, shared by every process it is mapped into, of each call it gets:
// which process, the hook code, the key, the keystroke flags and whether a
// posted message was already waiting. Installed before Quillhook's hook it
// runs after it, so it sees exactly what Quillhook passes on down the chain.
//
// It ends the chain: it returns 0 without calling the next hook, so the key
// still reaches the application but hooks older than the witness do not run.
// Wine keeps a global keyboard hook after the process that set it has ended
// (only low-level hooks go with their thread), so every applet a test killed
// before it could call StopHook leaves a Quillhook hook behind that would
// post each key once more to whichever window StartHook was given last.
#pragma once

#include <windows.h>

#ifdef KEYWITNESS_BUILD
#define KEYWITNESS_API __declspec(dllexport)
#else
#define KEYWITNESS_API __declspec(dllimport)
#endif

struct WitnessedKey {
    DWORD processId;
    int code;
    DWORD virtualKey;
    DWORD flags;
    DWORD tick;
    // A posted message was already waiting in the receiving thread's queue:
    // in a test whose own thread takes the key, that is a message from a
    // hook that ran before the witness.
    BOOL postWaiting;
};

int const WITNESS_CAPACITY = 1024;

#ifdef __cplusplus
extern "C" {
#endif

// Installs the witness hook for all threads of the desktop; the hook handle or null.
KEYWITNESS_API HHOOK WitnessStart(void);
KEYWITNESS_API BOOL WitnessStop(void);
// Forgets what was seen so far.
KEYWITNESS_API void WitnessClear(void);
// How many calls were seen since the last clear (may exceed WITNESS_CAPACITY).
KEYWITNESS_API LONG WitnessCount(void);
// The call at index (0 = oldest); false beyond what the table holds.
KEYWITNESS_API BOOL WitnessRecord(LONG index, WitnessedKey *record);

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus) && !defined(KEYWITNESS_BUILD)
#include <cstdio>
#include <string>
#include <vector>

// Every call the witness has recorded since the last clear, oldest first.
inline std::vector<WitnessedKey> WitnessedKeys()
{
    std::vector<WitnessedKey> records;
    WitnessedKey record;
    for (LONG index = 0; WitnessRecord(index, &record); ++index)
        records.push_back(record);
    return records;
}
// The records one per line, for the message of a failed test.
inline std::string DescribeWitnessed(const std::vector<WitnessedKey> &records)
{
    std::string text;
    for (const WitnessedKey &record : records) {
        char line[128];
        snprintf(line, sizeof(line), "  process %lu code %d key 0x%02lX flags 0x%08lX at %lu\n", record.processId,
                 record.code, record.virtualKey, record.flags, record.tick);
        text += line;
    }
    return text.empty() ? "  (nothing)\n" : text;
}
#endif
