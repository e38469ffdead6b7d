// The simulator's waits, on the tests' one wait (tests/support/Wait.h): each
// names what it waited for and, on time-out, what the switch had seen.
#include "SimulatedSwitch.h"
#include "Wait.h"

static std::string Named(int id)
{
    return id == SIM_ANY_INTERFACE ? "the switch" : "interface " + std::to_string(id);
}

static std::string WritesSeen(const SimulatedSwitch &simulator, int id)
{
    std::vector<std::string> hex;
    for (const SimReport &report : simulator.writes(id))
        hex.push_back(HexBytes(report.bytes) + (report.accepted ? "" : " (refused)"));
    return "writes" + Listed(hex);
}

std::vector<std::string> HexReports(const SimulatedSwitch &simulator, int id)
{
    std::vector<std::string> hex;
    for (const SimReport &report : simulator.reports(id))
        hex.push_back(HexBytes(report.bytes));
    return hex;
}

namespace {
struct PendingRead {
    OVERLAPPED overlapped = {};  // first: the completion routine finds the rest from it
    bool done = false;
    DWORD error = 0, bytes = 0;
};
void CALLBACK ReadCompleted(DWORD error, DWORD bytes, OVERLAPPED *overlapped)
{
    PendingRead *read = reinterpret_cast<PendingRead *>(overlapped);
    *read = {read->overlapped, true, error, bytes};
}
}  // namespace

InputRead ReadInputReport(HANDLE device, const std::function<void()> &meanwhile)
{
    PendingRead read;
    BYTE input[64] = {};
    if (!ReadFileEx(device, input, sizeof(input), &read.overlapped, ReadCompleted))
        return {};
    meanwhile();
    // The wait runs the completion routine.
    if (!WaitUntil("the read to complete", [&] { return read.done; })) {
        // The cancelled read's routine still runs, and must find `read` here.
        CancelIo(device);
        WaitUntil("the cancelled read", [&] { return read.done; });
        return {};
    }
    return {true, read.error, HexBytes(std::vector<BYTE>(input, input + read.bytes))};
}

testing::AssertionResult SimulatedSwitch::waitForReports(size_t count, DWORD timeoutMs, int id) const
{
    return WaitUntil(std::to_string(count) + " reports at " + Named(id), [&] { return reports(id).size() >= count; },
                     changedEvent(), timeoutMs, [&] { return WritesSeen(*this, id); });
}

testing::AssertionResult SimulatedSwitch::waitForOpenCount(int id, int count, DWORD timeoutMs) const
{
    return WaitUntil(std::to_string(count) + " handles open on " + Named(id), [&] { return openCount(id) == count; },
                     changedEvent(), timeoutMs, [&] { return std::to_string(openCount(id)) + " open"; });
}

testing::AssertionResult SimulatedSwitch::waitForTotalOpens(int id, int count, DWORD timeoutMs) const
{
    WaitUntil("", [&] { return totalOpens(id) >= count; }, changedEvent(), timeoutMs);
    if (totalOpens(id) == count)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "waited for " << count << " opens of " << Named(id) << ", and "
                                       << totalOpens(id) << " came";
}

testing::AssertionResult SimulatedSwitch::waitForClient(DWORD processId, DWORD timeoutMs) const
{
    return WaitUntil("process " + std::to_string(processId) + " to load the stand-ins",
                     [&] { return hasClient(processId); }, timeoutMs);
}

testing::AssertionResult SimulatedSwitch::catchUp(DWORD timeoutMs) const
{
    return WaitUntil("the switch to take every connection closed so far", [&] { return tookEveryClosedConnection(); },
                     timeoutMs, [&] { return WritesSeen(*this, SIM_ANY_INTERFACE); });
}

void SimulatedSwitch::waitForQuiet(DWORD quietMs, DWORD timeoutMs) const
{
    // Quiet from the call on at least: whatever the test just did had its chance.
    DWORD const start = GetTickCount();
    WaitUntil("quiet", [&] {
        DWORD last = lastActivity();
        return GetTickCount() - (last - start < 0x80000000u ? last : start) >= quietMs;
    }, timeoutMs);
}
