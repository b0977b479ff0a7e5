#include "ModuleTestSession.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QSysInfo>
#include <QTimeZone>

#include "BuildInfo.h"
#include "RecordedSignal.h"
#include "SpaceNeed.h"
#include "SyncedFile.h"

namespace vitalon {

namespace {

using analysis::HostClock;

constexpr int kTickIntervalMs = 50;

// The SHA-256 of the file's contents in lower-case hex; empty when it cannot be read.
std::string fileSha256(const QString& path) {
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

std::string stepText(const analysis::StepResult& step) {
    return "Step " + std::to_string(step.number) + " " + step.title;
}

}  // namespace

ModuleTestSession::ModuleTestSession(ModuleTestWiring wiring, ModuleTestSetup setup,
                                     QObject* parent)
    : QObject(parent),
      wiring_(std::move(wiring)),
      setup_(std::move(setup)),
      channel_(wiring_.selectors, wiring_.report),
      runner_(channel_, setup_.limits) {
    channel_.onSent = [this](std::string_view command) { commandSent(command); };
    runner_.onStepStarted = [this](const analysis::StepResult& step) {
        recorder_.annotate(stepText(step));
        emit stepStarted(step.number - 1);
    };
    runner_.onStepFinished = [this](const analysis::StepResult& step) {
        recorder_.annotate("Step " + std::to_string(step.number) + " " +
                           std::string(analysis::verdictText(step.verdict)));
        emit stepFinished(step.number - 1);
    };
    recorder_.onError = [this](const std::string& text) {
        wiring_.report("The module test recording stopped: " + text);
    };
    timer_.setInterval(kTickIntervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        tick(wiring_.clock());
        if (!done_) {
            emit changed();
        }
    });
}

ModuleTestSession::~ModuleTestSession() {
    detach();
    recorder_.stop();
}

bool ModuleTestSession::start() {
    if (attached_ || done_) {
        return false;
    }
    // Refused before anything is written when the recording and the report
    // cannot fit: a run that ends without its report has to be repeated.
    const std::optional<std::uint64_t> freeBytes = [this]() -> std::optional<std::uint64_t> {
        const QStorageInfo storage(setup_.reportFolder);
        if (!storage.isValid() || storage.bytesAvailable() < 0) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(storage.bytesAvailable());
    }();
    const std::optional<std::uint64_t> perFile = recording::fileSizeLimit();
    if (const std::string problem =
            report::spaceProblem(report::estimateSpaceNeed(setup_.limits),
                                 setup_.reportFolder.toStdString(), freeBytes, perFile);
        !problem.empty()) {
        error_ = QString::fromStdString(problem);
        return false;
    }
    facts_.serialNumber = setup_.serialNumber;
    facts_.operatorName = setup_.operatorName;
    facts_.hostName = QSysInfo::machineHostName().toStdString();
    facts_.station = setup_.station.empty() ? facts_.hostName : setup_.station;
    facts_.startedAt = std::chrono::system_clock::now();
    facts_.timeZone = QTimeZone::systemTimeZoneId().toStdString();
    facts_.vitalonVersion = VITALON_VERSION;
    facts_.buildCommit = std::string(buildCommit());
    facts_.attempt =
        wiring_.attempt ? wiring_.attempt(setup_.reportFolder, setup_.serialNumber) : 1;
    facts_.port = wiring_.portFacts;
    facts_.limitsPath = setup_.limitsPath;
    facts_.notices = setup_.notices;

    // The recording takes the report's name, so that the files of one run sort together.
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(facts_.startedAt.time_since_epoch());
    const report::ReportPaths paths = report::pickReportPaths(
        setup_.reportFolder, setup_.serialNumber, QDateTime::fromMSecsSinceEpoch(ms.count()));
    const QDir folder(setup_.reportFolder);
    recordingPath_ = folder.filePath(paths.baseName + QStringLiteral(".edf"));
    // Never over an earlier recording.
    for (int n = 2; QFileInfo::exists(recordingPath_); ++n) {
        recordingPath_ =
            folder.filePath(paths.baseName + QStringLiteral("-recording%1.edf").arg(n));
    }

    recording::RecordingSetup recording = recordingSetup(
        wiring_.selectors.settings(), recordingPath_.toStdString(), wiring_.port, facts_.startedAt);
    recording.moduleSerialNumber = setup_.serialNumber;  // the file names the module it recorded
    if (!recorder_.start(recording, wiring_.clock())) {
        error_ = QString::fromStdString(recorder_.error());
        return false;
    }
    facts_.recordingFile = QFileInfo(recordingPath_).fileName().toStdString();
    recorder_.annotate("Module test of " + setup_.serialNumber);
    for (const std::string& notice : setup_.notices) {
        recorder_.annotate(notice);  // a replay of this run says it too
    }

    wiring_.decoder.addListener(runner_);
    wiring_.decoder.addListener(recorder_);
    wiring_.decoder.addListener(*this);
    attached_ = true;
    timer_.start();
    runner_.start(wiring_.clock());
    if (runner_.finished()) {
        finish();
    }
    return true;
}

void ModuleTestSession::cancel() {
    if (!attached_ || done_) {
        return;
    }
    recorder_.annotate("Cancelled");
    runner_.cancel(wiring_.clock());
    if (runner_.finished()) {
        finish();
    }
}

void ModuleTestSession::confirmPrompt() {
    if (!attached_ || done_ || runner_.prompt().empty()) {
        return;
    }
    recorder_.annotate("Confirmed");
    runner_.confirmPrompt(wiring_.clock());
    if (runner_.finished()) {
        finish();
    }
}

double ModuleTestSession::progress() const {
    return done_ ? 1.0 : runner_.progress(wiring_.clock());
}

double ModuleTestSession::secondsLeft() const {
    return done_ ? 0.0 : runner_.secondsLeft(wiring_.clock());
}

void ModuleTestSession::tick(analysis::HostTime now) {
    if (!attached_ || done_) {
        return;
    }
    runner_.tick(now);
    recorder_.advanceTime(now);
    if (runner_.finished()) {
        finish();
    }
}

void ModuleTestSession::commandSent(std::string_view command) {
    followSettings(recorder_, wiring_.selectors.settings());
    recorder_.annotate("Sent " + std::string(command));
}

void ModuleTestSession::finish() {
    if (done_) {
        return;
    }
    done_ = true;
    detach();
    recorder_.annotate("Test " + report::outcomeText(runner_.outcome()));
    recorder_.stop();
    facts_.recordings.clear();
    for (const std::string& path : recorder_.files()) {
        facts_.recordings.push_back(
            {QFileInfo(QString::fromStdString(path)).fileName().toStdString(),
             fileSha256(QString::fromStdString(path))});
    }
    facts_.endedAt = std::chrono::system_clock::now();
    const report::TestReport report = report::collectReport(runner_, facts_);
    reportResult_ = report::writeReport(report, setup_.reportFolder);
    if (wiring_.keep) {
        keepError_ = QString::fromStdString(wiring_.keep(report, reportResult_));
        if (!keepError_.isEmpty()) {
            wiring_.report("The run was not filed in the results store: " +
                           keepError_.toStdString());
        }
    }
    emit finished();
}

void ModuleTestSession::detach() {
    timer_.stop();
    if (!attached_) {
        return;
    }
    attached_ = false;
    wiring_.decoder.removeListener(*this);
    wiring_.decoder.removeListener(runner_);
    wiring_.decoder.removeListener(recorder_);
}

namespace {

std::vector<std::string> stepNames(const analysis::ModuleTestRunner& runner,
                                   analysis::Verdict verdict) {
    std::vector<std::string> names;
    for (const analysis::StepResult& step : runner.steps()) {
        if (step.verdict == verdict) {
            names.push_back(std::to_string(step.number) + " " + step.title);
        }
    }
    return names;
}

}  // namespace

std::vector<std::string> failedStepNames(const analysis::ModuleTestRunner& runner) {
    return stepNames(runner, analysis::Verdict::Failed);
}

std::vector<std::string> unjudgedStepNames(const analysis::ModuleTestRunner& runner) {
    return stepNames(runner, analysis::Verdict::Incomplete);
}

int moduleTestExitCode(analysis::TestOutcome outcome) {
    switch (outcome) {
        case analysis::TestOutcome::Passed:
            return 0;
        case analysis::TestOutcome::Failed:
            return 1;
        case analysis::TestOutcome::Cancelled:
            return 130;
        case analysis::TestOutcome::NoModule:
        case analysis::TestOutcome::Incomplete:
        case analysis::TestOutcome::NotStarted:
        case analysis::TestOutcome::Running:
            break;
    }
    return 2;
}

}  // namespace vitalon
