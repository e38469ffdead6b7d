// The simulator's waits, built on the tests' one wait (tests/support/Wait.h):
// each names what it waited for and, on time-out, what the switch had seen.
#include "SimulatedSwitch.h"
#include "Wait.h"

namespace {

std::string InterfaceName(int id)
{
    return id == SIM_ANY_INTERFACE ? "the switch" : "interface " + std::to_string(id);
}

std::string ReportsSeen(const SimulatedSwitch &simulator, int id)
{
    std::vector<std::string> hex;
    for (const SimReport &report : simulator.writes(id))
        hex.push_back(HexBytes(report.bytes) + (report.accepted ? "" : " (refused)"));
    return "writes" + Listed(hex);
}

}  // namespace

testing::AssertionResult SimulatedSwitch::waitForReports(size_t count, DWORD timeoutMs, int id) const
{
    return WaitUntil(
        std::to_string(count) + " reports at " + InterfaceName(id), [&] { return reports(id).size() >= count; },
        changedEvent(), timeoutMs, [&] { return ReportsSeen(*this, id); });
}

testing::AssertionResult SimulatedSwitch::waitForOpenCount(int id, int count, DWORD timeoutMs) const
{
    return WaitUntil(
        std::to_string(count) + " handles open on " + InterfaceName(id), [&] { return openCount(id) == count; },
        changedEvent(), timeoutMs, [&] { return std::to_string(openCount(id)) + " open"; });
}

testing::AssertionResult SimulatedSwitch::waitForTotalOpens(int id, int count, DWORD timeoutMs) const
{
    std::string what = std::to_string(count) + " opens of " + InterfaceName(id);
    WaitUntil(what, [&] { return totalOpens(id) >= count; }, changedEvent(), timeoutMs);
    if (totalOpens(id) == count)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "waited for " << what << ", and " << totalOpens(id) << " came";
}

testing::AssertionResult SimulatedSwitch::waitForClient(DWORD processId, DWORD timeoutMs) const
{
    return WaitUntil("process " + std::to_string(processId) + " to load the stand-ins on table " +
                         std::string(tableName().begin(), tableName().end()),
                     [&] { return hasClient(processId); }, timeoutMs);
}

testing::AssertionResult SimulatedSwitch::catchUp(DWORD timeoutMs) const
{
    return WaitUntil(
        "the switch to take every connection closed so far", [&] { return tookEveryClosedConnection(); }, timeoutMs,
        [&] { return ReportsSeen(*this, SIM_ANY_INTERFACE); });
}

void SimulatedSwitch::waitForQuiet(DWORD quietMs, DWORD timeoutMs) const
{
    // Quiet from the call on at least: whatever the test just did had its chance.
    DWORD const start = GetTickCount();
    WaitUntil("nothing at the switch for " + std::to_string(quietMs) + " ms", [&] {
        DWORD last = lastActivity();
        DWORD since = last - start < 0x80000000u ? last : start;
        return GetTickCount() - since >= quietMs;
    }, timeoutMs);
}
