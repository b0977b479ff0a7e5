// vitalon-sim [--verbose] [--heart-rate BPM] [--resp-rate BPM] [--rate-step T:BPM]... [--lead-off
// T[:END]]
//             [--silence T[:END]] [--loss P] [--corrupt P] [--mains 50|60] [--seed N]
//             [--defect NAME]... [--link PATH] [--duration SECONDS]
// vitalon-sim [--verbose] [--link PATH] [--duration SECONDS] --replay FILE.edf
// Serves a simulated ECG acquisition module on a new pseudo-terminal, prints the
// terminal's device path on stdout and runs until SIGINT/SIGTERM or the duration.
// With --replay it serves a recording instead, paced at its recorded rate from
// the moment a host opens the device; commands from the host change nothing.
// Exit codes: 0 done, 1 the terminal, link or recording could not be set up,
// 2 bad options.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "ModuleDefect.h"
#include "ModuleModel.h"
#include "ModuleServer.h"
#include "ReplayStream.h"
#include "Scenario.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int) {
    stopRequested = 1;
}

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a signal must cut the poll short
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

struct UsageError {
    QString message;
};

double number(const QString& text, const QString& option) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        throw UsageError{QStringLiteral("--%1: \"%2\" is not a number").arg(option, text)};
    }
    return value;
}

double seconds(const QString& text, const QString& option) {
    const double value = number(text, option);
    if (value < 0.0) {
        throw UsageError{QStringLiteral("--%1: a time must not be negative").arg(option)};
    }
    return value;
}

// "T" (from T on) or "T:END".
vitalon::sim::TimeSpan timeSpan(const QString& text, const QString& option) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() > 2) {
        throw UsageError{QStringLiteral("--%1: expected T or T:END, got \"%2\"").arg(option, text)};
    }
    vitalon::sim::TimeSpan span;
    span.from = seconds(parts[0], option);
    if (parts.size() == 2) {
        span.until = seconds(parts[1], option);
        if (span.until <= span.from) {
            throw UsageError{QStringLiteral("--%1: END must be after T").arg(option)};
        }
    }
    return span;
}

struct Settings {
    vitalon::sim::Scenario scenario;
    std::optional<std::string> replayPath;
    double durationSeconds = 0.0;
    std::optional<std::string> linkPath;
};

Settings settingsFrom(const QCommandLineParser& parser) {
    Settings s;
    auto& sc = s.scenario;
    if (parser.isSet("heart-rate")) {
        sc.heartRate = number(parser.value("heart-rate"), "heart-rate");
    }
    if (parser.isSet("resp-rate")) {
        sc.respirationRate = number(parser.value("resp-rate"), "resp-rate");
    }
    for (const QString& step : parser.values("rate-step")) {
        const QStringList parts = step.split(QLatin1Char(':'));
        if (parts.size() != 2) {
            throw UsageError{QStringLiteral("--rate-step: expected T:BPM, got \"%1\"").arg(step)};
        }
        sc.rateSteps.push_back({seconds(parts[0], "rate-step"), number(parts[1], "rate-step")});
    }
    if (parser.isSet("lead-off")) {
        sc.leadOff = timeSpan(parser.value("lead-off"), "lead-off");
    }
    if (parser.isSet("silence")) {
        sc.silence = timeSpan(parser.value("silence"), "silence");
    }
    if (parser.isSet("loss")) {
        sc.byteLossRate = number(parser.value("loss"), "loss");
    }
    if (parser.isSet("corrupt")) {
        sc.byteCorruptionRate = number(parser.value("corrupt"), "corrupt");
    }
    if (parser.isSet("mains")) {
        const QString mains = parser.value("mains").trimmed();
        if (mains != QLatin1String("50") && mains != QLatin1String("60")) {
            throw UsageError{QStringLiteral("--mains: must be 50 or 60, got \"%1\"").arg(mains)};
        }
        sc.mainsHz = mains.toInt();
    }
    if (parser.isSet("seed")) {
        bool ok = false;
        sc.seed = parser.value("seed").trimmed().toULongLong(&ok);
        if (!ok) {
            throw UsageError{QStringLiteral("--seed: \"%1\" is not a whole number 0 or more")
                                 .arg(parser.value("seed"))};
        }
    }
    for (const QString& name : parser.values("defect")) {
        const auto defect = vitalon::sim::moduleDefectNamed(name.trimmed().toStdString());
        if (!defect) {
            QStringList names;
            for (const vitalon::sim::ModuleDefectInfo& info : vitalon::sim::moduleDefects()) {
                names << QString::fromUtf8(info.name.data(),
                                           static_cast<qsizetype>(info.name.size()));
            }
            throw UsageError{
                QStringLiteral("--defect: no defect is named \"%1\"; the defects are %2")
                    .arg(name, names.join(QStringLiteral(", ")))};
        }
        sc.defects.add(*defect);
    }
    if (parser.isSet("duration")) {
        s.durationSeconds = seconds(parser.value("duration"), "duration");
        if (s.durationSeconds > 1.0e9) {
            throw UsageError{QStringLiteral("--duration: at most 1e9 seconds; 0 runs on")};
        }
    }
    if (parser.isSet("link")) {
        const QString path = parser.value("link");
        if (path.isEmpty()) {
            throw UsageError{QStringLiteral("--link: the path must not be empty")};
        }
        s.linkPath = path.toStdString();
    }
    if (parser.isSet("replay")) {
        for (const char* modelOption : {"heart-rate", "resp-rate", "rate-step", "lead-off",
                                        "silence", "loss", "corrupt", "mains", "seed"}) {
            if (parser.isSet(modelOption)) {
                throw UsageError{
                    QStringLiteral("--%1 describes the simulated patient; a replay has none")
                        .arg(QLatin1String(modelOption))};
            }
        }
        if (parser.isSet("defect")) {
            throw UsageError{
                QStringLiteral("--defect describes the simulated module; a replay has none")};
        }
        s.replayPath = parser.value("replay").toStdString();
    }
    const std::string problem = vitalon::sim::scenarioProblem(sc);
    if (!problem.empty()) {
        throw UsageError{QString::fromStdString(problem)};
    }
    return s;
}

QString defectHelp() {
    QString help = QStringLiteral("A fault of the module itself. Repeatable. One of:");
    for (const vitalon::sim::ModuleDefectInfo& info : vitalon::sim::moduleDefects()) {
        help +=
            QStringLiteral("\n  %1: %2")
                .arg(QString::fromUtf8(info.name.data(), static_cast<qsizetype>(info.name.size())),
                     QString::fromUtf8(info.description.data(),
                                       static_cast<qsizetype>(info.description.size())));
    }
    return help;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vitalon-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VITALON_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated ECG acquisition module on a pseudo-terminal. Prints the device path, "
        "then serves the module in real time until interrupted."));
    // Our own help option: Qt's also adds --help-all for Qt's internal options.
    const QCommandLineOption help({"h", "help"}, "Displays this help.");
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({
        {"heart-rate", "Heart rate per minute (20 to 250, default 72).", "bpm"},
        {"resp-rate", "Respiration rate per minute (3 to 60, default 15).", "bpm"},
        {"rate-step", "From T seconds on, the heart rate is BPM. Repeatable.", "T:BPM"},
        {"lead-off", "An electrode comes off at T seconds (until END).", "T[:END]"},
        {"silence", "The module sends nothing from T seconds (until END).", "T[:END]"},
        {"loss", "Chance that a sent byte is lost (0 to 1).", "rate"},
        {"corrupt", "Chance that a sent byte is changed (0 to 1).", "rate"},
        {"mains", "Mains frequency around the patient, 50 or 60 (default 50).", "hz"},
        {"seed", "Seed of the simulation (default 1).", "n"},
        {"defect", defectHelp(), "name"},
        {"link", "Also make a symbolic link to the device at this path.", "path"},
        {"duration", "Stop after this many seconds (0, the default, runs on).", "seconds"},
        {"verbose", "Print every command received from the host on standard error."},
        {"replay",
         "Serve this EDF/EDF+ recording instead of the model, paced at its rate, from the "
         "moment a host opens the device. Commands from the host change nothing.",
         "file"},
    });

    if (!parser.parse(QCoreApplication::arguments())) {
        std::cerr << "vitalon-sim: " << parser.errorText().toStdString()
                  << "\nTry 'vitalon-sim --help'.\n";
        return 2;
    }
    if (parser.isSet(help)) {
        std::cout << parser.helpText().toStdString();
        return 0;
    }
    if (parser.isSet(version)) {
        std::cout << "vitalon-sim " << VITALON_VERSION << "\n";
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::cerr << "vitalon-sim: unexpected argument \""
                  << parser.positionalArguments().constFirst().toStdString()
                  << "\"\nTry 'vitalon-sim --help'.\n";
        return 2;
    }

    Settings settings;
    try {
        settings = settingsFrom(parser);
    } catch (const UsageError& e) {
        std::cerr << "vitalon-sim: " << e.message.toStdString() << "\nTry 'vitalon-sim --help'.\n";
        return 2;
    }

    // Opened (and repaired, if its writer was killed) before the device exists,
    // so a bad file ends the tool before anything waits on it.
    std::unique_ptr<vitalon::recording::ReplayStream> replay;
    if (settings.replayPath) {
        vitalon::recording::ReplaySource source;
        const std::string problem = source.open(*settings.replayPath);
        if (!problem.empty()) {
            std::cerr << "vitalon-sim: " << problem << "\n";
            return 1;
        }
        for (const std::string& note : source.notes()) {
            std::cerr << "vitalon-sim: " << note << "\n";
        }
        replay = std::make_unique<vitalon::recording::ReplayStream>(std::move(source));
    }

    installStopHandlers();
    std::optional<vitalon::sim::ModuleServer> server;
    try {
        server.emplace();
    } catch (const std::exception& e) {
        std::cerr << "vitalon-sim: " << e.what() << "\n";
        return 1;
    }
    std::string error;
    vitalon::sim::DeviceSymlink link;
    if (settings.linkPath && !link.create(*settings.linkPath, server->devicePath(), error)) {
        std::cerr << "vitalon-sim: " << error << "\n";
        return 1;
    }
    std::cout << server->devicePath() << std::endl;

    vitalon::sim::ServeOptions options;
    options.duration = std::chrono::nanoseconds(std::llround(settings.durationSeconds * 1e9));
    if (replay) {
        if (parser.isSet("verbose")) {
            replay->onCommand = [&replay](const std::string& bytes) {
                std::fprintf(stderr, "vitalon-sim: %.3f s: received %s (ignored: a replay)\n",
                             std::chrono::duration<double>(replay->elapsed()).count(),
                             bytes.c_str());
            };
        }
        replay->onFinished = [&replay] {
            const auto& source = replay->source();
            std::fprintf(stderr, "vitalon-sim: replay finished after %.1f s%s%s\n",
                         std::chrono::duration<double>(replay->elapsed()).count(),
                         source.error().empty() ? "" : ": ", source.error().c_str());
        };
        server->serve(*replay, stopRequested, options);
        return 0;
    }

    vitalon::sim::ModuleModel model(settings.scenario);
    if (parser.isSet("verbose")) {
        model.onCommand = [&model](const vitalon::sim::Command& command) {
            std::fprintf(stderr, "vitalon-sim: %.3f s: received %s\n", model.elapsedSeconds(),
                         command.text().c_str());
        };
    }
    server->serve(model, stopRequested, options);
    return 0;
}
