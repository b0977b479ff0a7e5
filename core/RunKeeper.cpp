#include "RunKeeper.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "RunRecord.h"

namespace vitalon {

namespace {

std::string sha256Of(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) {
        return {};
    }
    return hash.result().toHex().toStdString();
}

}  // namespace

std::optional<int> storedAttempt(results::ResultsStore& store, const std::string& serialNumber) {
    results::RunFilter filter;
    filter.serialNumber = serialNumber;
    const results::Answer<std::vector<results::RunRecord>> earlier = store.runs(filter);
    if (!earlier.ok()) {
        return std::nullopt;
    }
    return static_cast<int>(earlier.value.size()) + 1;
}

results::Answer<bool> passedBefore(results::ResultsStore& store, const std::string& serialNumber) {
    results::RunFilter filter;
    filter.serialNumber = serialNumber;
    filter.outcome = "pass";
    results::Answer<std::vector<results::RunRecord>> passes = store.runs(filter);
    results::Answer<bool> answer;
    answer.error = std::move(passes.error);
    answer.value = std::any_of(passes.value.begin(), passes.value.end(),
                               [](const results::RunRecord& run) { return !run.demonstration; });
    return answer;
}

std::string keepRun(results::ResultsStore& store, const report::TestReport& report,
                    const report::ReportWriteResult& files, const std::string& retestReason) {
    results::RunIdentity identity;
    identity.attempt = report.facts.attempt;
    identity.retestReason = retestReason;
    // Only the files that are complete on disk: a report that failed leaves none.
    for (const QString& path : files.written) {
        const QString kind = QFileInfo(path).suffix().toLower();
        identity.attachments.push_back(
            {kind.toStdString(), QFileInfo(path).absoluteFilePath().toStdString(), sha256Of(path)});
    }
    const results::StoreResult stored = store.store(results::runRecordOf(report, identity));
    return stored.status == results::StoreStatus::Failed ? stored.error : std::string();
}

}  // namespace vitalon
