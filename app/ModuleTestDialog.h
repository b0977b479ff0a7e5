#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ModuleTestSession.h"
#include "ResultsStore.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QWidget;

namespace vitalon {

class ModuleTestControl;

// The module test dialog: serial number, operator, limits file and report
// folder, Run, every step's live status and measured values, a progress bar
// with the time left, Cancel, the technician's prompt, and at the end PASS or
// FAIL in large type with the failed steps named and the report's files.
//
// A run on the simulated module (from --simulate or --replay) judges no
// module: it starts only with "Demonstration" ticked, and its report says so.
//
// It is not modal: the window behind it keeps drawing, and its setting labels
// follow the commands of the test. The operator, the limits file and the report
// folder are remembered between runs; the serial number is cleared after each
// run, so that the next module's report cannot carry the last one's number.
class ModuleTestDialog : public QDialog {
    Q_OBJECT
public:
    ModuleTestDialog(ModuleTestControl& control, QWidget* parent = nullptr);
    ~ModuleTestDialog() override;

    // Checks the entries and starts a run; false, with the reason shown, when
    // it cannot start.
    bool run();
    void cancel();
    bool running() const;
    // The run under way or the last one; nullptr before the first.
    const ModuleTestSession* session() const { return session_.get(); }
    QString message() const;  // why a run could not start, or the report's files

    // Shows the earlier tests of the serial number entered, from the results
    // store; the technician sees them on Enter (a barcode scanner's too).
    void showHistory();
    // The history shown, oldest first; empty before a number is entered.
    const std::vector<results::Attempt>& history() const { return history_; }
    // The reason given for testing again a serial number that already
    // passed; empty for any other run.
    const QString& retestReason() const { return retestReason_; }

    // Asks why a serial number that passed on `passedAt` is tested again;
    // nothing: the run is not started. An input dialog unless replaced (the tests do).
    std::function<std::optional<QString>(const QString& serial, const QString& passedAt)>
        askRetestReason;

    static QString settingsGroup() { return QStringLiteral("moduleTest"); }
    // "Vitalon Reports" in the user's documents folder, made on the first run
    // that uses it.
    static QString defaultReportFolder();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    // Enter in the serial number: the number is checked against the pattern.
    void serialEntered();
    void loadSettings();
    void saveSettings() const;
    void setRunning(bool running);
    void showMessage(const QString& text, bool problem);
    void stepStarted(int index);
    void stepFinished(int index);
    void refresh();
    void finished();
    void browseLimits();
    void browseFolder();
    // The history of `serial`; false, with the message shown, when the store
    // cannot answer (which does not stop a run).
    bool loadHistory(const QString& serial);

    ModuleTestControl& control_;
    std::unique_ptr<ModuleTestSession> session_;

    QLineEdit* serialEdit_ = nullptr;
    QLineEdit* operatorEdit_ = nullptr;
    QLineEdit* limitsEdit_ = nullptr;
    QLineEdit* folderEdit_ = nullptr;
    QPushButton* limitsBrowse_ = nullptr;
    QPushButton* folderBrowse_ = nullptr;
    QCheckBox* demonstrationCheck_ = nullptr;  // shown only with a simulated module
    QCheckBox* productionCheck_ = nullptr;     // a module and a limits file only; remembered
    QPushButton* runButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QTableWidget* steps_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QWidget* promptBox_ = nullptr;
    QLabel* promptLabel_ = nullptr;
    QPushButton* promptButton_ = nullptr;
    QLabel* verdictLabel_ = nullptr;
    QLabel* failedLabel_ = nullptr;
    QLabel* messageLabel_ = nullptr;
    QLabel* historyLabel_ = nullptr;
    QTableWidget* historyTable_ = nullptr;

    QString historySerial_;  // whose history is shown
    std::vector<results::Attempt> history_;
    bool passedBefore_ = false;  // a pass that counts (not a demonstration's)
    QString retestReason_;
};

}  // namespace vitalon
