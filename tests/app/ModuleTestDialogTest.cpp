#include <gtest/gtest.h>

#include <functional>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>

#include "EventLoopWait.h"
#include "MainWindow.h"
#include "ModuleTestControl.h"
#include "ModuleTestDialog.h"
#include "ResultsControl.h"
#include "SimulatedModule.h"
#include "TestLimits.h"

namespace vitalon {
namespace {

using testing::waitFor;

// The dialog in the program, on the module model served inside the process,
// with limits files that shorten every measurement: the sequence, the window's
// labels, the prompts, the end and the report, in seconds rather than minutes.
class ModuleTestDialogTest : public ::testing::Test {
protected:
    ModuleTestDialogTest() {
        // Remembered entries go to a folder of this test, not the user's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir_.path());
        PortAssignment ports;
        ports[0] = PortDevice{module_.devicePath(), "simulated module"};
        window_ = std::make_unique<MainWindow>(std::move(ports));
        window_->start();
    }

    template <typename T>
    T* child(const char* name) {
        T* found = dialog().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    ModuleTestDialog& dialog() { return *window_->moduleTest().dialog(); }

    // Opens the dialog from the Test menu and fills it in.
    void openAndFill(const QString& serial, const QString& limits) {
        window_->moduleTest().moduleTestAction()->trigger();
        ASSERT_NE(window_->moduleTest().dialog(), nullptr);
        child<QLineEdit>("serialNumber")->setText(serial);
        child<QLineEdit>("operatorName")->setText(QStringLiteral("Jane Doe"));
        child<QLineEdit>("limitsFile")->setText(limits);
        child<QLineEdit>("reportFolder")->setText(reports_.path());
    }

    // A complete limits file: the built-in limits with the keys of `json`
    // written over them, object by object.
    QString writeLimits(const char* json) {
        const QJsonObject defaults =
            QJsonDocument::fromJson(QByteArray::fromStdString(analysis::limitsToJson({}))).object();
        const QJsonObject overrides = QJsonDocument::fromJson(json).object();
        EXPECT_FALSE(overrides.isEmpty()) << json;
        const std::function<QJsonObject(QJsonObject, const QJsonObject&)> merged =
            [&](QJsonObject base, const QJsonObject& over) {
                for (auto it = over.begin(); it != over.end(); ++it) {
                    base[it.key()] =
                        it->isObject() && base[it.key()].isObject()
                            ? QJsonValue(merged(base[it.key()].toObject(), it->toObject()))
                            : QJsonValue(*it);
                }
                return base;
            };
        const QString path = limitsDir_.filePath(QStringLiteral("limits.json"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(merged(defaults, overrides)).toJson());
        return path;
    }

    QString status(int row) { return child<QTableWidget>("stepTable")->item(row, 1)->text(); }
    QString label(QLabel* l) { return l->text(); }
    QStringList reportFiles(const QString& pattern) {
        return QDir(reports_.path()).entryList({pattern}, QDir::Files);
    }

    QTemporaryDir settingsDir_, limitsDir_, reports_;
    SimulatedModule module_{sim::Scenario{}};
    std::unique_ptr<MainWindow> window_;
};

TEST_F(ModuleTestDialogTest, TestMenuComesAfterTheWindowsMenus) {
    const QList<QAction*> menus = window_->menuBar()->actions();
    ASSERT_FALSE(menus.isEmpty());
    EXPECT_EQ(menus.back()->menu(), window_->moduleTest().menu());
    EXPECT_EQ(menus.back()->text(), "&Test");
    // The results' commands follow the module test in the same menu.
    EXPECT_EQ(
        window_->moduleTest().menu()->actions(),
        (QList<QAction*>{window_->moduleTest().moduleTestAction(),
                         window_->results().resultsAction(), window_->results().settingsAction()}));
}

TEST_F(ModuleTestDialogTest, EntriesAreCheckedBeforeAnythingIsSent) {
    openAndFill({}, {});
    EXPECT_FALSE(dialog().run());
    EXPECT_EQ(dialog().message(), "Enter the module's serial number.");

    child<QLineEdit>("serialNumber")->setText(QStringLiteral("SN-1"));
    child<QLineEdit>("limitsFile")
        ->setText(writeLimits(R"({"version": 1, "leads": {"minBeat": 3}})"));
    EXPECT_FALSE(dialog().run());
    EXPECT_TRUE(dialog().message().contains(QStringLiteral("leads.minBeat")))
        << dialog().message().toStdString();

    child<QLineEdit>("limitsFile")->clear();
    child<QLineEdit>("reportFolder")->setText(reports_.filePath(QStringLiteral("missing")));
    EXPECT_FALSE(dialog().run());
    EXPECT_TRUE(dialog().message().contains(QStringLiteral("does not exist")));

    EXPECT_EQ(dialog().session(), nullptr);
    EXPECT_TRUE(reportFiles(QStringLiteral("*")).isEmpty());
}

// "Production" never lets a run start without a module judged against a
// limits file, and stays ticked for the next module.
TEST_F(ModuleTestDialogTest, ProductionRefusesTheBuiltInLimitsAndTheSimulatedModule) {
    const QString limits = writeLimits(R"({"settleSeconds": 0.2})");
    openAndFill(QStringLiteral("SN-P1"), {});
    QCheckBox* production = child<QCheckBox>("production");
    ASSERT_NE(production, nullptr);
    EXPECT_FALSE(production->isChecked());
    production->setChecked(true);
    EXPECT_FALSE(dialog().run());
    EXPECT_TRUE(dialog().message().contains(QStringLiteral("needs a limits file")))
        << dialog().message().toStdString();

    window_->station().setSimulatedDevice(module_.devicePath());
    child<QLineEdit>("limitsFile")->setText(limits);
    child<QCheckBox>("demonstration")->setChecked(true);
    EXPECT_FALSE(dialog().run());
    EXPECT_TRUE(dialog().message().contains(QStringLiteral("refuses the simulated module")))
        << dialog().message().toStdString();
    EXPECT_EQ(dialog().session(), nullptr);
    EXPECT_TRUE(reportFiles(QStringLiteral("*")).isEmpty());

    window_->station().setSimulatedDevice({});
    child<QCheckBox>("demonstration")->setChecked(false);
    ASSERT_TRUE(dialog().run()) << dialog().message().toStdString();
    dialog().cancel();
    ASSERT_TRUE(waitFor([&] { return !dialog().running(); }, 10000));
    EXPECT_EQ(child<QLabel>("verdictLabel")->text(), "INCOMPLETE");
    QSettings settings(QStringLiteral("vitalon"), QStringLiteral("vitalon"));
    settings.beginGroup(ModuleTestDialog::settingsGroup());
    EXPECT_TRUE(settings.value(QStringLiteral("production")).toBool());
}

TEST_F(ModuleTestDialogTest, CancelRestoresTheModuleAndReportsTheRunAsCancelled) {
    const QString limits = writeLimits(
        R"({"version": 1, "settleSeconds": 0.2, "sampleRate": {"measureSeconds": 0.5},
            "calibration": {"recordSeconds": 5.0}})");
    openAndFill(QStringLiteral("SN/7 A"), limits);
    const MainWindowLayout& ui = window_->layout();
    ASSERT_TRUE(dialog().run()) << dialog().message().toStdString();
    EXPECT_FALSE(child<QPushButton>("runButton")->isEnabled());
    EXPECT_EQ(child<QPushButton>("cancelButton")->text(), "Cancel");
    EXPECT_FALSE(child<QWidget>("promptLabel")->isVisible());

    ASSERT_TRUE(waitFor([&] { return status(0) == "PASS"; }, 10000)) << status(0).toStdString();
    EXPECT_FALSE(child<QTableWidget>("stepTable")->item(0, 2)->text().isEmpty());
    // The window's labels follow the test's commands, as if the buttons were clicked.
    ASSERT_TRUE(waitFor([&] { return label(ui.speedLabel) == "50/sec"; }, 10000));
    ASSERT_TRUE(waitFor([&] { return label(ui.speedLabel) == "300/sec"; }, 10000));
    ASSERT_TRUE(waitFor([&] { return label(ui.amplificationLabel) == "Amp 0"; }, 10000));
    EXPECT_NE(status(1), "running");  // half a second is too short to judge the rate by
    EXPECT_EQ(status(2), "running");
    EXPECT_GT(child<QProgressBar>("progressBar")->value(), 0);
    EXPECT_TRUE(child<QProgressBar>("progressBar")->text().contains(QStringLiteral("s left")));

    child<QPushButton>("cancelButton")->click();
    ASSERT_TRUE(waitFor([&] { return !dialog().running(); }, 10000));
    EXPECT_EQ(child<QLabel>("verdictLabel")->text(), "INCOMPLETE");
    EXPECT_EQ(status(2), "cancelled");
    for (int row = 3; row < 7; ++row) {
        EXPECT_EQ(status(row), "skipped") << row;
    }
    EXPECT_EQ(status(7), "PASS");  // restored, and samples came after it
    EXPECT_EQ(label(ui.speedLabel), "100/sec");
    EXPECT_EQ(label(ui.amplificationLabel), "Amp 1");
    EXPECT_EQ(module_.model().settings().samplesPerSecond, 100);

    // The report and the recording, named after the serial number made safe for a file name.
    const QStringList json = reportFiles(QStringLiteral("*.json"));
    ASSERT_EQ(json.size(), 1) << dialog().message().toStdString();
    EXPECT_TRUE(json[0].startsWith(QStringLiteral("SN_7_A-"))) << json[0].toStdString();
    QFile file(reports_.filePath(json[0]));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    EXPECT_TRUE(written.contains("\"outcome\": \"incomplete\""));
    EXPECT_TRUE(written.contains("\"incompleteBecause\": \"cancelled\""));
    EXPECT_EQ(reportFiles(QStringLiteral("*.pdf")).size(), 1);
    EXPECT_FALSE(reportFiles(QStringLiteral("SN_7_A-*.edf")).isEmpty());
    EXPECT_TRUE(dialog().message().startsWith(QStringLiteral("Report: ")));

    // Ready for the next module: its serial number is asked anew, the rest is remembered.
    EXPECT_TRUE(child<QPushButton>("runButton")->isEnabled());
    EXPECT_TRUE(child<QLineEdit>("serialNumber")->text().isEmpty());
    QSettings settings(QStringLiteral("vitalon"), QStringLiteral("vitalon"));
    settings.beginGroup(ModuleTestDialog::settingsGroup());
    EXPECT_EQ(settings.value(QStringLiteral("operator")).toString(), "Jane Doe");
    EXPECT_EQ(settings.value(QStringLiteral("limitsFile")).toString(), limits);
    EXPECT_EQ(settings.value(QStringLiteral("reportFolder")).toString(), reports_.path());
    EXPECT_FALSE(settings.contains(QStringLiteral("serialNumber")));
}

// Ending the program during a test started from the dialog (the window's
// close button, Quit, and Ctrl+C or SIGTERM, which call quit()) leaves the
// module as the start commands set it, as the headless run does: the run is
// cancelled, and the program ends only after the restore step has run.
class ModuleTestEndTest : public ModuleTestDialogTest {
protected:
    // Starts a run and waits until it has changed the module's settings.
    void runUntilSettingsChanged() {
        const QString limits = writeLimits(
            R"({"version": 1, "settleSeconds": 0.2, "sampleRate": {"measureSeconds": 0.5},
                "calibration": {"recordSeconds": 5.0}})");
        openAndFill(QStringLiteral("SN-END"), limits);
        ASSERT_TRUE(dialog().run()) << dialog().message().toStdString();
        ASSERT_TRUE(waitFor([&] { return status(0) == "PASS"; }, 10000));
        start_ = module_.model().settings();
        ASSERT_TRUE(waitFor([&] { return module_.model().settings().amplification == 0; }, 10000));
        ASSERT_NE(module_.model().settings(), start_);
    }

    // The run ended as cancelled, with the restore step run and its report written.
    void expectRestoredAndReported() {
        EXPECT_EQ(module_.model().settings(), start_);
        EXPECT_EQ(status(7), "PASS");
        const QStringList json = reportFiles(QStringLiteral("SN-END-*.json"));
        ASSERT_EQ(json.size(), 1);
        QFile file(reports_.filePath(json[0]));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().contains("\"incompleteBecause\": \"cancelled\""));
    }

    sim::ModuleSettings start_;
};

TEST_F(ModuleTestEndTest, ClosingTheWindowRestoresTheModuleBeforeTheEnd) {
    runUntilSettingsChanged();
    EXPECT_FALSE(window_->close());  // refused while the module is restored
    EXPECT_FALSE(window_->station().ended());
    EXPECT_TRUE(window_->statusText().startsWith(QStringLiteral("Restoring the module")))
        << window_->statusText().toStdString();
    ASSERT_TRUE(waitFor([&] { return window_->station().ended(); }, 10000));
    EXPECT_FALSE(dialog().running());
    expectRestoredAndReported();
}

TEST_F(ModuleTestEndTest, QuitAndTerminationSignalsRestoreTheModuleBeforeTheEnd) {
    runUntilSettingsChanged();
    window_->quit();
    EXPECT_FALSE(window_->station().ended());
    ASSERT_TRUE(waitFor([&] { return window_->station().ended(); }, 10000));
    expectRestoredAndReported();
}

TEST_F(ModuleTestEndTest, ClosingTheDialogRestoresTheModuleAndTheProgramGoesOn) {
    runUntilSettingsChanged();
    dialog().close();
    ASSERT_TRUE(waitFor([&] { return !dialog().running(); }, 10000));
    EXPECT_FALSE(window_->station().ended());
    expectRestoredAndReported();
}

// Asked twice, the program ends at once, restored or not.
TEST_F(ModuleTestEndTest, QuitAgainEndsAtOnce) {
    runUntilSettingsChanged();
    window_->quit();
    window_->quit();
    EXPECT_TRUE(window_->station().ended());
}

// With the simulated module on the port (as after --simulate), a run starts
// only as a demonstration, and then says so beside the verdict and in the report.
TEST_F(ModuleTestDialogTest, SimulatedModuleRunsOnlyAsADemonstration) {
    window_->station().setSimulatedDevice(module_.devicePath());
    const QString limits = writeLimits(
        R"({"version": 1, "settleSeconds": 0.2, "sampleRate": {"measureSeconds": 0.5}})");
    openAndFill(QStringLiteral("REAL-MODULE-42"), limits);
    QCheckBox* demonstration = child<QCheckBox>("demonstration");
    ASSERT_NE(demonstration, nullptr);
    EXPECT_TRUE(demonstration->isVisible());
    EXPECT_FALSE(dialog().run());
    EXPECT_TRUE(dialog().message().contains(QStringLiteral("Tick \"Demonstration\"")))
        << dialog().message().toStdString();
    EXPECT_EQ(dialog().session(), nullptr);

    child<QLineEdit>("serialNumber")->setText(QStringLiteral("SN\x1b[2J"));
    demonstration->setChecked(true);
    EXPECT_FALSE(dialog().run());
    EXPECT_TRUE(dialog().message().contains(QStringLiteral("contains a control character")));
    EXPECT_TRUE(reportFiles(QStringLiteral("*")).isEmpty());

    child<QLineEdit>("serialNumber")->setText(QStringLiteral("REAL-MODULE-42"));
    ASSERT_TRUE(dialog().run()) << dialog().message().toStdString();
    ASSERT_TRUE(waitFor([&] { return status(0) == "PASS"; }, 10000));
    dialog().cancel();
    ASSERT_TRUE(waitFor([&] { return !dialog().running(); }, 10000));
    EXPECT_TRUE(child<QLabel>("failedSteps")
                    ->text()
                    .contains(QStringLiteral("simulated module, not a module result")));
    const QStringList json = reportFiles(QStringLiteral("*.json"));
    ASSERT_EQ(json.size(), 1);
    QFile file(reports_.filePath(json[0]));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("\"simulated module, not a module result\""));
}

// A module on a port that is not the simulated one needs no demonstration.
TEST_F(ModuleTestDialogTest, DemonstrationIsOfferedOnlyWithASimulatedModule) {
    openAndFill(QStringLiteral("SN-1"), {});
    EXPECT_FALSE(child<QCheckBox>("demonstration")->isVisible());
    EXPECT_FALSE(window_->moduleTest().onSimulatedModule());
    window_->station().setSimulatedDevice("/dev/pts/none");
    EXPECT_FALSE(window_->moduleTest().onSimulatedModule());
}

TEST_F(ModuleTestDialogTest, PromptsWaitForTheTechnicianAndTheEndNamesTheFailedSteps) {
    // Measurements far too short to pass, and the lead-off check that needs the technician.
    const QString limits = writeLimits(R"({"version": 1, "settleSeconds": 0.1,
        "sampleRate": {"measureSeconds": 0.3}, "calibration": {"recordSeconds": 0.3},
        "leads": {"measureSeconds": 0.3}, "mainsFilter": {"measureSeconds": 0.3},
        "simulation": {"measureSeconds": 0.3},
        "reports": {"pulseMeasureSeconds": 0.3, "respirationMeasureSeconds": 0.3,
                    "leadOffCheck": true, "leadOffWithinSeconds": 0.5}})");
    openAndFill(QStringLiteral("SN-8"), limits);
    ASSERT_TRUE(dialog().run()) << dialog().message().toStdString();

    auto* prompt = child<QLabel>("promptLabel");
    ASSERT_TRUE(waitFor([&] { return prompt->isVisible(); }, 30000));
    EXPECT_TRUE(prompt->text().startsWith(QStringLiteral("Take one electrode off")));
    EXPECT_EQ(status(6), "running");
    child<QPushButton>("promptDone")->click();
    ASSERT_TRUE(
        waitFor([&] { return prompt->text().startsWith(QStringLiteral("Put the electrode back")); },
                10000));
    child<QPushButton>("promptDone")->click();

    ASSERT_TRUE(waitFor([&] { return !dialog().running(); }, 20000));
    EXPECT_FALSE(prompt->isVisible());
    EXPECT_EQ(child<QLabel>("verdictLabel")->text(), "FAIL");
    const QString failed = child<QLabel>("failedSteps")->text();
    EXPECT_TRUE(failed.startsWith(QStringLiteral("Failed: "))) << failed.toStdString();
    // The model never takes an electrode off by itself.
    EXPECT_TRUE(failed.contains(QStringLiteral("7 Reports"))) << failed.toStdString();
    EXPECT_TRUE(child<QTableWidget>("stepTable")
                    ->item(6, 2)
                    ->text()
                    .contains(QStringLiteral("lead-off report")));
    EXPECT_EQ(reportFiles(QStringLiteral("SN-8-*.pdf")).size(), 1);
}

// The README's picture of a finished test: a whole run with the shipped
// limits, about two and a half minutes, so only on request:
// VITALON_MODULE_TEST_PICTURE=docs/module-test-dialog.png (scripts/screenshot-module-test).
TEST_F(ModuleTestDialogTest, PictureOfAFinishedRun) {
    const QString picture = qEnvironmentVariable("VITALON_MODULE_TEST_PICTURE");
    if (picture.isEmpty()) {
        GTEST_SKIP() << "VITALON_MODULE_TEST_PICTURE names no file";
    }
    openAndFill(QStringLiteral("SN-240117"), QStringLiteral(VITALON_MODEL_LIMITS));
    ASSERT_TRUE(dialog().run()) << dialog().message().toStdString();
    ASSERT_TRUE(waitFor([&] { return !dialog().running(); }, 240000));
    EXPECT_EQ(child<QLabel>("verdictLabel")->text(), "PASS");
    // Folders of this machine would say nothing in the picture.
    child<QLineEdit>("reportFolder")->setText(QStringLiteral("/home/bench/reports"));
    child<QLineEdit>("limitsFile")->setText(QStringLiteral("module-model.json"));
    const QString pdf = QFileInfo(dialog().session()->reportResult().paths.pdf).fileName();
    child<QLabel>("messageLabel")
        ->setText(QStringLiteral("Report: /home/bench/reports/%1 (also .html and .json)").arg(pdf));
    EXPECT_TRUE(dialog().grab().save(picture)) << picture.toStdString();
}

}  // namespace
}  // namespace vitalon
