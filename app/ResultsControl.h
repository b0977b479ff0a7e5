#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "ResultsSettings.h"

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QWidget;

namespace vitalon {

namespace results {
class ResultsStore;
class ResultsSync;
class SqlResultsStore;
}  // namespace results

class ResultsSettingsDialog;
class ResultsWindow;

// The results store as the window shows it: the Test menu's "Results..."
// (the Results window) and "Results Database..." (its settings), the status
// bar's count of runs queued for the shared server, and the sending of that
// queue at start-up and every minute while a server is set. The local store
// is opened when first needed.
class ResultsControl : public QObject {
    Q_OBJECT
public:
    ResultsControl(QWidget& window, QMenu* testMenu, QStatusBar* statusBar);
    ~ResultsControl() override;

    // The store to read and write; nullptr, with the reason in `storeError()`,
    // when it cannot be opened.
    results::ResultsStore* store();
    const QString& storeError() const { return storeError_; }
    // Uses `store` instead of the local one (the tests do); not owned.
    void useStore(results::ResultsStore* store);

    ResultsWindow* showResults();
    ResultsSettingsDialog& showSettings();
    ResultsWindow* resultsWindow() const { return resultsWindow_.get(); }
    ResultsSettingsDialog* settingsDialog() const { return settingsDialog_.get(); }

    QAction* resultsAction() const { return resultsAction_; }
    QAction* settingsAction() const { return settingsAction_; }
    QLabel* queuePanel() const { return queuePanel_; }

    // Starts sending the local store's queue to the server the settings name,
    // or stops when they name none.
    void startSync(const ResultsSettings& settings);

private:
    void showQueue(int length, const QString& error);

    QWidget& window_;
    QAction* resultsAction_ = nullptr;
    QAction* settingsAction_ = nullptr;
    QLabel* queuePanel_ = nullptr;
    std::unique_ptr<results::SqlResultsStore> local_;
    results::ResultsStore* store_ = nullptr;
    QString storeError_;
    std::unique_ptr<results::ResultsSync> sync_;
    QString server_;  // its address as shown, password masked
    std::unique_ptr<ResultsWindow> resultsWindow_;
    std::unique_ptr<ResultsSettingsDialog> settingsDialog_;
};

}  // namespace vitalon
