#include "ResultsControl.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QWidget>

#include "DatabaseAddress.h"
#include "ResultsSettingsDialog.h"
#include "ResultsSync.h"
#include "ResultsWindow.h"
#include "SqlResultsStore.h"

namespace vitalon {

ResultsControl::ResultsControl(QWidget& window, QMenu* testMenu, QStatusBar* statusBar)
    : window_(window) {
    resultsAction_ = testMenu->addAction(QStringLiteral("&Results..."));
    resultsAction_->setObjectName(QStringLiteral("menResults"));
    settingsAction_ = testMenu->addAction(QStringLiteral("Results &Database..."));
    settingsAction_->setObjectName(QStringLiteral("menResultsDatabase"));
    connect(resultsAction_, &QAction::triggered, this, [this] { showResults(); });
    connect(settingsAction_, &QAction::triggered, this, [this] { showSettings(); });

    // Shown only while runs wait for the server.
    queuePanel_ = new QLabel(statusBar);
    queuePanel_->setObjectName(QStringLiteral("queuePanel"));
    statusBar->addPermanentWidget(queuePanel_);
    queuePanel_->hide();

    startSync(ResultsSettings::load());
}

ResultsControl::~ResultsControl() {
    // The windows read the store: they go first.
    resultsWindow_.reset();
    settingsDialog_.reset();
    sync_.reset();
}

results::ResultsStore* ResultsControl::store() {
    if (store_ == nullptr && !local_) {
        results::SqlResultsStore::Opened opened =
            results::SqlResultsStore::openLocal(results::defaultLocalStorePath());
        if (opened.store) {
            local_ = std::move(opened.store);
            store_ = local_.get();
            storeError_.clear();
        } else {
            storeError_ = QString::fromStdString(opened.error);
        }
    }
    return store_;
}

void ResultsControl::useStore(results::ResultsStore* store) {
    resultsWindow_.reset();
    store_ = store;
}

ResultsWindow* ResultsControl::showResults() {
    if (!resultsWindow_) {
        results::ResultsStore* opened = store();
        if (opened == nullptr) {
            queuePanel_->show();
            queuePanel_->setText(QStringLiteral("Results store not available"));
            queuePanel_->setToolTip(storeError_);
            return nullptr;
        }
        resultsWindow_ = std::make_unique<ResultsWindow>(*opened, &window_);
        resultsWindow_->applyFilter();
    }
    resultsWindow_->show();
    resultsWindow_->raise();
    resultsWindow_->activateWindow();
    return resultsWindow_.get();
}

ResultsSettingsDialog& ResultsControl::showSettings() {
    if (!settingsDialog_) {
        settingsDialog_ =
            std::make_unique<ResultsSettingsDialog>(results::defaultLocalStorePath(), &window_);
        connect(settingsDialog_.get(), &ResultsSettingsDialog::saved, this,
                &ResultsControl::startSync);
    }
    settingsDialog_->show();
    settingsDialog_->raise();
    settingsDialog_->activateWindow();
    return *settingsDialog_;
}

void ResultsControl::startSync(const ResultsSettings& settings) {
    sync_.reset();
    showQueue(0, {});
    const QString connection = settings.connectionString();
    if (connection.isEmpty()) {
        return;
    }
    const results::ParsedAddress parsed = results::parseServerAddress(connection.toStdString());
    if (!parsed.ok()) {
        queuePanel_->show();
        queuePanel_->setText(QStringLiteral("Results server not usable"));
        queuePanel_->setToolTip(QString::fromStdString(parsed.error));
        return;
    }
    sync_ =
        std::make_unique<results::ResultsSync>(results::defaultLocalStorePath(), parsed.address);
    connect(sync_.get(), &results::ResultsSync::roundFinished, this,
            [this](int /*sent*/, int queued, const QString& error) { showQueue(queued, error); });
    sync_->startPeriodic();
}

void ResultsControl::showQueue(int length, const QString& error) {
    if (length <= 0 && error.isEmpty()) {
        queuePanel_->hide();
        queuePanel_->clear();
        queuePanel_->setToolTip({});
        return;
    }
    // A negative length: the local store could not be read, so the queue is unknown.
    queuePanel_->setText(length < 0 ? QStringLiteral("Results queue unknown")
                         : length == 1
                             ? QStringLiteral("1 run queued for the server")
                             : QStringLiteral("%1 runs queued for the server").arg(length));
    queuePanel_->setToolTip(
        error.isEmpty() ? QStringLiteral("Sent to %1 when it answers").arg(server_) : error);
    queuePanel_->show();
}

}  // namespace vitalon
