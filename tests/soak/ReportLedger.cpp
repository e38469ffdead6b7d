#include "ReportLedger.h"

#include <algorithm>

namespace {

// The longest common subsequence of two report sequences: the reports that
// came in the order expected.
size_t InOrder(const std::vector<std::string> &expected, const std::vector<std::string> &received)
{
    std::vector<size_t> previous(received.size() + 1, 0), current(received.size() + 1, 0);
    for (const std::string &want : expected) {
        for (size_t column = 1; column <= received.size(); ++column)
            current[column] = want == received[column - 1] ? previous[column - 1] + 1
                                                           : std::max(previous[column], current[column - 1]);
        std::swap(previous, current);
    }
    return previous[received.size()];
}

// How many of `these` have no partner among `those`, each used once.
size_t Unmatched(const std::vector<std::string> &these, const std::vector<std::string> &those)
{
    std::map<std::string, long> balance;
    for (const std::string &report : these)
        balance[report]++;
    for (const std::string &report : those)
        balance[report]--;
    size_t unmatched = 0;
    for (const auto &entry : balance)
        unmatched += entry.second > 0 ? (size_t)entry.second : 0;
    return unmatched;
}

}  // namespace

std::string KindOf(const std::vector<BYTE> &bytes)
{
    if (!bytes.empty() && bytes[0] == 1)
        return "switch";
    if (bytes.size() >= 2 && bytes[0] == 3 && bytes[1] == 3)
        return "resolution";
    if (bytes.size() >= 2 && bytes[0] == 3 && bytes[1] == 4)
        return "border";
    return "other";
}

std::string ReportLedger::label(int interfaceId, const std::vector<BYTE> &bytes) const
{
    auto name = names_.find(interfaceId);
    return (name != names_.end() ? name->second : std::to_string(interfaceId)) + ":" + HexBytes(bytes);
}

void ReportLedger::expect(int interfaceId, const std::vector<BYTE> &bytes)
{
    expected_.emplace_back(KindOf(bytes), label(interfaceId, bytes));
    countOfKind_[expected_.back().first]++;
}

std::map<std::string, KindTally> ReportLedger::compare(const std::vector<SimReport> &received) const
{
    std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>> streams;
    for (const auto &report : expected_)
        streams[report.first].first.push_back(report.second);
    for (const SimReport &report : received)
        streams[KindOf(report.bytes)].second.push_back(label(report.interfaceId, report.bytes));
    std::map<std::string, KindTally> tallies;
    for (const auto &stream : streams) {
        const std::vector<std::string> &expected = stream.second.first;
        const std::vector<std::string> &came = stream.second.second;
        KindTally &tally = tallies[stream.first];
        tally.expected = expected.size();
        tally.received = came.size();
        tally.lost = Unmatched(expected, came);
        tally.extra = Unmatched(came, expected);
        tally.outOfOrder = expected.size() - tally.lost - InOrder(expected, came);
    }
    return tallies;
}
