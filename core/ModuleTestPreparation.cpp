#include "ModuleTestPreparation.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QSysInfo>
#include <utility>

#include "ReportWriter.h"
#include "RunConditions.h"

namespace vitalon {

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

PreparedModuleTest problem(EntryProblem kind, QString message) {
    PreparedModuleTest prepared;
    prepared.problem = kind;
    prepared.message = std::move(message);
    return prepared;
}

}  // namespace

std::string defaultStationName() {
    const QSettings settings(QStringLiteral("vitalon"), QStringLiteral("vitalon"));
    const std::string named =
        trimmed(settings.value(QStringLiteral("station/name")).toString().toStdString());
    return named.empty() ? QSysInfo::machineHostName().toStdString() : named;
}

PreparedModuleTest prepareModuleTest(const ModuleTestEntries& entries) {
    PreparedModuleTest prepared;
    ModuleTestSetup& setup = prepared.setup;
    setup.serialNumber = trimmed(entries.serialNumber);
    setup.operatorName = trimmed(entries.operatorName);
    if (setup.serialNumber.empty()) {
        return problem(EntryProblem::NoSerialNumber,
                       QStringLiteral("Enter the module's serial number."));
    }
    if (setup.operatorName.empty()) {
        return problem(EntryProblem::NoOperator, QStringLiteral("Enter the operator's name."));
    }
    setup.station = trimmed(entries.station);
    if (setup.station.empty()) {
        setup.station = defaultStationName();
    }
    for (const auto& [what, text] : {std::pair{"serial number", &setup.serialNumber},
                                     std::pair{"operator name", &setup.operatorName},
                                     std::pair{"station name", &setup.station}}) {
        if (std::string why = analysis::typedTextProblem(what, *text); !why.empty()) {
            why.front() = 'T';  // "the serial number ..." as a sentence
            return problem(EntryProblem::ControlCharacters, QString::fromStdString(why + "."));
        }
    }
    if (const std::string limitsFile = trimmed(entries.limitsFile); !limitsFile.empty()) {
        const analysis::LimitsLoad load = analysis::loadLimitsFile(limitsFile);
        if (!load.limits) {
            return problem(
                EntryProblem::UnusableLimits,
                QStringLiteral("The limits file %1 cannot be used: %2")
                    .arg(QString::fromStdString(limitsFile), QString::fromStdString(load.error)));
        }
        setup.limits = *load.limits;
        setup.limitsPath =
            QFileInfo(QString::fromStdString(limitsFile)).absoluteFilePath().toStdString();
    }
    const QString folder = QString::fromStdString(trimmed(entries.reportFolder));
    if (const QString folderProblem = report::reportFolderProblem(folder);
        !folderProblem.isEmpty()) {
        return problem(EntryProblem::UnusableReportFolder, folderProblem);
    }
    setup.reportFolder = QDir(folder).absolutePath();
    return prepared;
}

}  // namespace vitalon
