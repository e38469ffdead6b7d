// What the switch should have received against what it did, per kind of
// report (switch, resolution, border): none lost, none extra, none out of order.
//   ReportLedger::expect   - one report the applet should send, where it should go
//   ReportLedger::compare  - the tally of each kind against what arrived
//   KindOf                 - the kind of a report, from its first two bytes
#pragma once

#include "SimulatedSwitch.h"

#include <map>
#include <string>
#include <vector>

struct KindTally {
    size_t expected = 0;
    size_t received = 0;
    size_t lost = 0;         // expected, never came
    size_t extra = 0;        // came, never expected
    size_t outOfOrder = 0;   // came, but not in the order expected
    bool clean() const { return lost == 0 && extra == 0 && outOfOrder == 0 && expected == received; }
};

std::string KindOf(const std::vector<BYTE> &bytes);

class ReportLedger {
public:
    // Each interface's name in the tally ("fw4", "fw3"): a report at the
    // wrong switch counts as lost at one and extra at the other.
    void nameInterface(int id, const std::string &name) { names_[id] = name; }
    void expect(int interfaceId, const std::vector<BYTE> &bytes);
    size_t expectedCount() const { return expected_.size(); }
    size_t expectedOfKind(const std::string &kind) const
    {
        auto count = countOfKind_.find(kind);
        return count != countOfKind_.end() ? count->second : 0;
    }
    // `received` in arrival order, every interface.
    std::map<std::string, KindTally> compare(const std::vector<SimReport> &received) const;

private:
    std::string label(int interfaceId, const std::vector<BYTE> &bytes) const;
    std::map<int, std::string> names_;
    std::vector<std::pair<std::string, std::string>> expected_;   // kind, label
    std::map<std::string, size_t> countOfKind_;
};
