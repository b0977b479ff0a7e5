#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "EarlierReports.h"
#include "EdfRecorder.h"
#include "ModuleTestPreparation.h"
#include "ModuleTestRunner.h"
#include "RecordedSignal.h"
#include "ReportWriter.h"
#include "SelectorChannel.h"
#include "StreamDecoder.h"
#include "TestReport.h"

namespace vitalon {

// The parts of the station a run works with.
struct ModuleTestWiring {
    SettingSelectors& selectors;
    StreamDecoder& decoder;
    RecordedPort port;                               // the port the link is open on, or none
    std::function<void(const std::string&)> report;  // status messages, e.g. an unsent command
    // The host's monotonic clock (virtual in tests), the same that dates the received chunks.
    std::function<analysis::HostTime()> clock = analysis::HostClock::now;
    // Files the finished run (the results store) before finished() is emitted,
    // so that no verdict is shown for a run that is not kept. Returns why it
    // could not be kept; empty when it was. None: the run is not filed.
    std::function<std::string(const report::TestReport&, const report::ReportWriteResult&)> keep =
        nullptr;
    // The port's name and device and the adapter behind it, for the report.
    report::PortFacts portFacts = {};
    // The attempt number of a new run of a serial number, its reports going
    // into a folder; by default counted from the earlier reports there
    // (a station with a results store asks the store first); none: 1.
    std::function<int(const QString& reportFolder, const std::string& serialNumber)> attempt =
        [](const QString& folder, const std::string& serial) {
            return report::attemptFromReportFolder(folder, serial);
        };
};

// One run of the module acceptance test in the program: the test sequence on
// the decoded stream, its commands through the station's setting selectors (so a
// window's setting labels follow them), an EDF+
// recording of the whole run with every step's start and verdict as
// annotations, and at the end the report in the report folder, named like
// the recording.
//
// The runner is ticked with each received chunk's arrival time, which the
// decoder tells its listeners before the chunk's events, and every 50 ms from a timer so that waits
// end when nothing arrives. The recording is flushed from the same timer.
class ModuleTestSession : public QObject, private StreamListener {
    Q_OBJECT
public:
    ModuleTestSession(ModuleTestWiring wiring, ModuleTestSetup setup, QObject* parent = nullptr);
    ~ModuleTestSession() override;

    // Opens the recording and starts the test. False, with error() set, when
    // the recording cannot be written; nothing is sent then.
    bool start();
    // Ends the running step and restores the module; finished() follows.
    void cancel();
    // The technician has done what the prompt asked.
    void confirmPrompt();

    bool isFinished() const { return done_; }
    const analysis::ModuleTestRunner& runner() const { return runner_; }
    double progress() const;
    double secondsLeft() const;
    const QString& error() const { return error_; }
    const QString& recordingPath() const { return recordingPath_; }
    // After finished(): what was written.
    const report::ReportWriteResult& reportResult() const { return reportResult_; }
    // After finished(): why the run could not be filed; empty when it was (or
    // nothing files runs).
    const QString& keepError() const { return keepError_; }
    const ModuleTestSetup& setup() const { return setup_; }

signals:
    void stepStarted(int index);
    void stepFinished(int index);
    void changed();  // progress and prompt, with every timer tick
    void finished();

private:
    void onArrival(ArrivalTime arrival) override { tick(arrival); }
    void tick(analysis::HostTime now);
    void commandSent(std::string_view command);
    void finish();
    void detach();

    ModuleTestWiring wiring_;
    ModuleTestSetup setup_;
    SelectorChannel channel_;
    analysis::ModuleTestRunner runner_;
    recording::EdfRecorder recorder_;
    report::RunFacts facts_;
    QTimer timer_;
    QString error_;
    QString recordingPath_;
    report::ReportWriteResult reportResult_;
    QString keepError_;
    bool attached_ = false;
    bool done_ = false;
};

// The failed steps of a run, each as its number and title ("2 Sample rate").
std::vector<std::string> failedStepNames(const analysis::ModuleTestRunner& runner);
// The same for the steps that could not judge the module (INCOMPLETE).
std::vector<std::string> unjudgedStepNames(const analysis::ModuleTestRunner& runner);

// The exit code of a finished run for the command line: 0 pass, 1 fail,
// 2 incomplete (no module answered, a check could not be judged), 130
// cancelled by a signal.
int moduleTestExitCode(analysis::TestOutcome outcome);

}  // namespace vitalon
