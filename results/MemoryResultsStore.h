#pragma once

#include <map>
#include <string>
#include <vector>

#include "ResultsStore.h"

namespace vitalon::results {

// A results store in memory, for tests of the code that uses one: it answers
// as the database stores do (order, filters, duplicates), and can be told to
// fail.
class MemoryResultsStore : public ResultsStore {
public:
    StoreResult store(const RunRecord& run) override;
    Answer<std::vector<RunRecord>> runs(const RunFilter& filter) override;
    Answer<std::optional<RunRecord>> run(const std::string& uuid) override;
    Answer<std::vector<CheckValue>> checkValues(const std::string& checkId,
                                                const RunFilter& filter) override;
    Answer<std::vector<Attempt>> attempts(const std::string& serialNumber) override;

    // While set, every call fails with this text and nothing is stored.
    void failWith(std::string error) { failure_ = std::move(error); }
    std::size_t size() const { return runs_.size(); }

private:
    std::vector<const RunRecord*> selected(const RunFilter& filter) const;

    std::vector<RunRecord> runs_;  // in the order stored
    std::string failure_;
};

// Whether `run` is one of those `filter` selects.
bool matches(const RunRecord& run, const RunFilter& filter);

}  // namespace vitalon::results
