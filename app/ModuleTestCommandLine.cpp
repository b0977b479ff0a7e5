#include "ModuleTestCommandLine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "PortMessages.h"
#include "RunKeeper.h"
#include "Station.h"
#ifdef Q_OS_UNIX
#include "ConsoleInput.h"
#include "TerminationSignals.h"
#endif

namespace vitalon {

namespace {

constexpr double kProgressEverySeconds = 15.0;

void say(const QString& text) {
    std::fprintf(stderr, "vitalon: %s\n", qPrintable(text));
    std::fflush(stderr);
}

QString verdictLine(const analysis::StepResult& step) {
    QString line = QStringLiteral("step %1/%2 %3: %4")
                       .arg(step.number)
                       .arg(analysis::ModuleTestRunner::kStepCount)
                       .arg(QString::fromStdString(step.title),
                            QString::fromLatin1(analysis::verdictText(step.verdict)));
    if (!step.reason.empty()) {
        line += QStringLiteral(": ") + QString::fromStdString(step.reason);
    }
    return line;
}

std::string noticeText(const std::vector<std::string>& notices) {
    std::string text;
    for (const std::string& notice : notices) {
        text += (text.empty() ? "" : "; ") + notice;
    }
    return text;
}

}  // namespace

int runModuleTestFromCommandLine(Station& station, const ModuleTestOptions& options) {
    PreparedModuleTest prepared = prepareModuleTest(
        {options.serialNumber.toStdString(), options.operatorName.toStdString(),
         options.limitsFile.toStdString(),
         (options.reportFolder.isEmpty() ? QDir::currentPath() : options.reportFolder)
             .toStdString(),
         options.station.toStdString()});
    if (!prepared.ok()) {
        const bool missing = prepared.problem == EntryProblem::NoSerialNumber ||
                             prepared.problem == EntryProblem::NoOperator;
        say(missing ? QStringLiteral("--module-test needs --serial and --operator")
                    : prepared.message);
        return 2;
    }
    ModuleTestSetup& setup = prepared.setup;
    analysis::RunConditions conditions = options.conditions;
    conditions.builtInLimits = setup.limitsPath.empty();
    setup.notices = analysis::runNotices(conditions);
    const QString notices = QString::fromStdString(noticeText(setup.notices));
    const QString serial = QString::fromStdString(setup.serialNumber);
    const QString operatorName = QString::fromStdString(setup.operatorName);
    const bool asksTechnician = setup.limits.reports.leadOffCheck;
#ifdef Q_OS_UNIX
    if (asksTechnician && !ConsoleInput::isTerminal()) {
        say(QStringLiteral(
            "the limits file switches the lead-off check on (reports.leadOffCheck), which asks "
            "the technician to take an electrode off and press Enter; standard input is not a "
            "terminal, so nobody could answer. Run from a terminal, or with limits that leave "
            "the check off."));
        return 2;
    }
#else
    if (asksTechnician) {
        say(QStringLiteral("the lead-off check needs a terminal, which this system lacks"));
        return 2;
    }
#endif

    setup.retestReason = options.retestReason.trimmed().toStdString();
    if (options.resultsStore != nullptr) {
        const results::Answer<bool> passed =
            passedBefore(*options.resultsStore, setup.serialNumber);
        if (!passed.ok()) {
            say(QStringLiteral("the results store could not tell whether %1 passed before: %2")
                    .arg(serial, QString::fromStdString(passed.error)));
            return 2;
        }
        if (passed.value && setup.retestReason.empty()) {
            say(QStringLiteral("%1 passed its module test before; testing it again needs a "
                               "reason, filed with the run: --retest-reason TEXT")
                    .arg(serial));
            return 2;
        }
    }

    station.start();
    if (station.currentPort() == 0) {
        say(QStringLiteral("no port is open, so no module can be tested"));
        return 2;
    }

    std::unique_ptr<ModuleTestSession> session = station.makeModuleTest(setup);
    int exitCode = 2;
    bool cancelling = false;
    double nextProgressAt = kProgressEverySeconds;
    QElapsedTimer elapsed;
    std::string shownPrompt;

    QObject::connect(
        session.get(), &ModuleTestSession::stepStarted, session.get(), [&session](int index) {
            const auto& step = session->runner().steps()[static_cast<std::size_t>(index)];
            say(QStringLiteral("step %1/%2 %3 ...")
                    .arg(step.number)
                    .arg(analysis::ModuleTestRunner::kStepCount)
                    .arg(QString::fromStdString(step.title)));
        });
    QObject::connect(
        session.get(), &ModuleTestSession::stepFinished, session.get(), [&session](int index) {
            say(verdictLine(session->runner().steps()[static_cast<std::size_t>(index)]));
        });
    QObject::connect(session.get(), &ModuleTestSession::changed, session.get(), [&] {
        const std::string& prompt = session->runner().prompt();
        if (prompt != shownPrompt) {
            shownPrompt = prompt;
            if (!prompt.empty()) {
                say(QString::fromStdString(prompt) + QStringLiteral(" Press Enter when done."));
            }
        }
        if (static_cast<double>(elapsed.elapsed()) / 1000.0 >= nextProgressAt) {
            nextProgressAt += kProgressEverySeconds;
            say(QStringLiteral("%1 % done, about %2 s left")
                    .arg(std::lround(session->progress() * 100.0))
                    .arg(std::lround(session->secondsLeft())));
        }
    });
    QObject::connect(session.get(), &ModuleTestSession::finished, session.get(), [&] {
        const analysis::ModuleTestRunner& runner = session->runner();
        QStringList failed;
        for (const std::string& name : failedStepNames(runner)) {
            failed << QString::fromStdString(name);
        }
        QStringList unjudged;
        for (const std::string& name : unjudgedStepNames(runner)) {
            unjudged << QString::fromStdString(name);
        }
        QString verdict =
            QStringLiteral("module test of %1: %2")
                .arg(serial, QString::fromStdString(report::outcomeText(runner.outcome())));
        if (!failed.isEmpty()) {
            verdict += QStringLiteral(" (failed: %1)").arg(failed.join(QStringLiteral(", ")));
        }
        if (!unjudged.isEmpty()) {
            verdict += QStringLiteral(" (not judged: %1)").arg(unjudged.join(QStringLiteral(", ")));
        }
        if (!notices.isEmpty()) {
            verdict += QStringLiteral(": ") + notices;
        }
        say(verdict);
        exitCode = moduleTestExitCode(runner.outcome());
        const report::ReportWriteResult& written = session->reportResult();
        if (written.ok) {
            say(QStringLiteral("report: %1, %2, %3; recording: %4")
                    .arg(written.paths.pdf, written.paths.html, written.paths.json,
                         session->recordingPath()));
        } else {
            say(QStringLiteral("the report was not written: %1 (no file of it is left; the "
                               "recording is kept: %2)")
                    .arg(written.error, session->recordingPath()));
            // A pass must leave its report behind; without one it does not count.
            if (exitCode == 0) {
                exitCode = 2;
            }
        }
        // Filed before the verdict was printed; a pass that is not filed does
        // not count either (the station has said why).
        if (!session->keepError().isEmpty() && exitCode == 0) {
            exitCode = 2;
        }
        QCoreApplication::exit(exitCode);
    });

#ifdef Q_OS_UNIX
    const TerminationSignals terminationSignals([&] {
        if (!cancelling && !session->isFinished()) {
            cancelling = true;
            say(QStringLiteral("cancelled: restoring the module (again to end at once)"));
            session->cancel();
            return;
        }
        say(QStringLiteral("ended before the module was restored"));
        exitCode = 130;
        QCoreApplication::exit(exitCode);
    });
    std::unique_ptr<ConsoleInput> input;
    if (asksTechnician) {
        input = std::make_unique<ConsoleInput>([&session] { session->confirmPrompt(); });
    }
#endif

    // One multi-argument arg(): a "%1" typed into the serial number stays as typed.
    say(QStringLiteral("module test of %1 by %2 on %3 (%4) at station %5; limits: %6; reports "
                       "into %7")
            .arg(serial, operatorName, QString::fromStdString(comName(station.currentPort())),
                 QString::fromStdString(station.ports().devicePath(station.currentPort())),
                 QString::fromStdString(setup.station),
                 QStringLiteral("%1 (%2, revision %3)")
                     .arg(setup.limitsPath.empty() ? QStringLiteral("built-in")
                                                   : QString::fromStdString(setup.limitsPath),
                          QString::fromStdString(analysis::printable(setup.limits.name)),
                          QString::fromStdString(analysis::printable(setup.limits.revision))),
                 setup.reportFolder));
    if (!notices.isEmpty()) {
        say(QStringLiteral("note: ") + notices);
    }
    elapsed.start();
    if (!session->start()) {
        say(QStringLiteral("the test could not start: %1").arg(session->error()));
        return 2;
    }
    if (session->isFinished()) {
        return exitCode;
    }
    return QCoreApplication::exec();
}

}  // namespace vitalon
