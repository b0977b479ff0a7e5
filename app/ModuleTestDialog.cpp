#include "ModuleTestDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "ModuleTestControl.h"
#include "ResultsModel.h"
#include "ResultsSettings.h"
#include "RunConditions.h"
#include "RunKeeper.h"

namespace vitalon {

namespace {

using analysis::StepResult;
using analysis::TestOutcome;
using analysis::Verdict;

enum Column { StepColumn, StatusColumn, MeasuredColumn };

QSettings settingsStore() {
    return QSettings(QStringLiteral("vitalon"), QStringLiteral("vitalon"));
}

// Each check's measured value; a failed step shows why it failed.
QString measuredText(const StepResult& step) {
    if (step.verdict == Verdict::Failed || step.verdict == Verdict::Cancelled ||
        step.verdict == Verdict::Incomplete) {
        if (!step.reason.empty()) {
            return QString::fromStdString(step.reason);
        }
    }
    QStringList parts;
    for (const analysis::CheckResult& check : step.checks) {
        parts << QString::fromStdString(check.name + ": " + check.measuredText());
    }
    return parts.join(QStringLiteral("; "));
}

QColor verdictColor(Verdict verdict) {
    switch (verdict) {
        case Verdict::Passed:
            return QColor(0, 128, 0);
        case Verdict::Failed:
            return QColor(192, 0, 0);
        default:
            return {};
    }
}

}  // namespace

QString ModuleTestDialog::defaultReportFolder() {
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty()) {
        documents = QDir::homePath();
    }
    return QDir(documents).filePath(QStringLiteral("Vitalon Reports"));
}

ModuleTestDialog::ModuleTestDialog(ModuleTestControl& control, QWidget* parent)
    : QDialog(parent), control_(control) {
    setWindowTitle(QStringLiteral("Module Test"));
    setObjectName(QStringLiteral("ModuleTestDialog"));
    setModal(false);
    buildControls();
    loadSettings();
    setRunning(false);
}

ModuleTestDialog::~ModuleTestDialog() {
    // The serial field loses the focus while the widgets are taken down, after
    // this dialog's own members are gone: it must not reach them then.
    serialEdit_->removeEventFilter(this);
    disconnect(serialEdit_, nullptr, this, nullptr);
}

void ModuleTestDialog::buildControls() {
    auto* form = new QFormLayout;
    serialEdit_ = new QLineEdit(this);
    operatorEdit_ = new QLineEdit(this);
    limitsEdit_ = new QLineEdit(this);
    limitsEdit_->setPlaceholderText(QStringLiteral("built-in limits of the module model"));
    folderEdit_ = new QLineEdit(this);
    limitsBrowse_ = new QPushButton(QStringLiteral("Browse..."), this);
    folderBrowse_ = new QPushButton(QStringLiteral("Browse..."), this);
    auto withButton = [this](QLineEdit* edit, QPushButton* button) {
        auto* row = new QHBoxLayout;
        row->addWidget(edit, 1);
        row->addWidget(button);
        return row;
    };
    form->addRow(QStringLiteral("&Serial number:"), serialEdit_);
    form->addRow(QStringLiteral("&Operator:"), operatorEdit_);
    // A row of two widgets gets no buddy by itself, which the shortcut needs.
    auto* limitsLabel = new QLabel(QStringLiteral("&Limits file:"), this);
    limitsLabel->setBuddy(limitsEdit_);
    auto* folderLabel = new QLabel(QStringLiteral("Report &folder:"), this);
    folderLabel->setBuddy(folderEdit_);
    form->addRow(limitsLabel, withButton(limitsEdit_, limitsBrowse_));
    form->addRow(folderLabel, withButton(folderEdit_, folderBrowse_));
    demonstrationCheck_ = new QCheckBox(
        QStringLiteral("&Demonstration on the simulated module (no module result)"), this);
    demonstrationCheck_->setVisible(control_.servesSimulatedModule());
    form->addRow(demonstrationCheck_);
    productionCheck_ = new QCheckBox(
        QStringLiteral("&Production: a module judged against a limits file only"), this);
    form->addRow(productionCheck_);

    // The serial number's earlier tests, below the entries.
    historyLabel_ = new QLabel(this);
    historyLabel_->setWordWrap(true);
    historyLabel_->hide();
    historyTable_ = new QTableWidget(0, 5, this);
    historyTable_->setHorizontalHeaderLabels({QStringLiteral("Date"), QStringLiteral("Station"),
                                              QStringLiteral("Outcome"), QStringLiteral("Attempt"),
                                              QStringLiteral("Failed checks / reason")});
    historyTable_->verticalHeader()->hide();
    historyTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    historyTable_->setSelectionMode(QAbstractItemView::NoSelection);
    historyTable_->setFocusPolicy(Qt::NoFocus);
    historyTable_->horizontalHeader()->setStretchLastSection(true);
    historyTable_->setMaximumHeight(110);
    historyTable_->hide();

    steps_ = new QTableWidget(analysis::ModuleTestRunner::kStepCount, 3, this);
    steps_->setHorizontalHeaderLabels(
        {QStringLiteral("Step"), QStringLiteral("Status"), QStringLiteral("Measured")});
    steps_->verticalHeader()->hide();
    steps_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    steps_->setSelectionMode(QAbstractItemView::NoSelection);
    steps_->setFocusPolicy(Qt::NoFocus);
    steps_->horizontalHeader()->setSectionResizeMode(StepColumn, QHeaderView::ResizeToContents);
    steps_->horizontalHeader()->setSectionResizeMode(StatusColumn, QHeaderView::ResizeToContents);
    steps_->horizontalHeader()->setStretchLastSection(true);
    static constexpr const char* kTitles[] = {
        "Link and start state", "Sample rate",     "Calibration pulse", "Leads",
        "Mains filter",         "Simulation mode", "Reports",           "Restore"};
    for (int row = 0; row < analysis::ModuleTestRunner::kStepCount; ++row) {
        steps_->setItem(row, StepColumn,
                        new QTableWidgetItem(QStringLiteral("%1 %2").arg(row + 1).arg(
                            QString::fromLatin1(kTitles[row]))));
        steps_->setItem(row, StatusColumn, new QTableWidgetItem);
        steps_->setItem(row, MeasuredColumn, new QTableWidgetItem);
    }

    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->setValue(0);

    promptBox_ = new QWidget(this);
    auto* promptRow = new QHBoxLayout(promptBox_);
    promptRow->setContentsMargins(0, 0, 0, 0);
    promptLabel_ = new QLabel(promptBox_);
    promptLabel_->setWordWrap(true);
    QFont promptFont = promptLabel_->font();
    promptFont.setBold(true);
    promptLabel_->setFont(promptFont);
    promptButton_ = new QPushButton(QStringLiteral("&Done"), promptBox_);
    promptRow->addWidget(promptLabel_, 1);
    promptRow->addWidget(promptButton_);
    promptBox_->hide();

    verdictLabel_ = new QLabel(this);
    QFont verdictFont = verdictLabel_->font();
    verdictFont.setPointSizeF(32.0);
    verdictFont.setBold(true);
    verdictLabel_->setFont(verdictFont);
    verdictLabel_->setAlignment(Qt::AlignCenter);
    failedLabel_ = new QLabel(this);
    failedLabel_->setWordWrap(true);
    failedLabel_->setAlignment(Qt::AlignCenter);
    messageLabel_ = new QLabel(this);
    messageLabel_->setWordWrap(true);
    messageLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    runButton_ = new QPushButton(QStringLiteral("&Run"), this);
    runButton_->setDefault(true);
    cancelButton_ = new QPushButton(QStringLiteral("Close"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(runButton_);
    buttons->addWidget(cancelButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(historyLabel_);
    layout->addWidget(historyTable_);
    layout->addWidget(steps_, 1);
    layout->addWidget(progress_);
    layout->addWidget(promptBox_);
    layout->addWidget(verdictLabel_);
    layout->addWidget(failedLabel_);
    layout->addWidget(messageLabel_);
    layout->addLayout(buttons);
    resize(720, 560);

    // clang-format off
    const std::pair<QObject*, const char*> names[] = {
        {serialEdit_, "serialNumber"},     {operatorEdit_, "operatorName"},
        {limitsEdit_, "limitsFile"},       {limitsBrowse_, "limitsBrowse"},
        {folderEdit_, "reportFolder"},     {folderBrowse_, "reportFolderBrowse"},
        {demonstrationCheck_, "demonstration"}, {productionCheck_, "production"},
        {steps_, "stepTable"},             {progress_, "progressBar"},
        {promptLabel_, "promptLabel"},     {promptButton_, "promptDone"},
        {verdictLabel_, "verdictLabel"},   {failedLabel_, "failedSteps"},
        {messageLabel_, "messageLabel"},   {runButton_, "runButton"},
        {cancelButton_, "cancelButton"},   {historyLabel_, "historyLabel"},
        {historyTable_, "serialHistory"},
    };
    // clang-format on
    for (const auto& [object, name] : names) {
        object->setObjectName(QString::fromLatin1(name));
    }

    // A barcode scanner types the number and presses Enter: that ends the
    // entry and shows its history, it does not start the run.
    serialEdit_->installEventFilter(this);
    connect(serialEdit_, &QLineEdit::editingFinished, this, [this] {
        if (!running() && serialEdit_->text().trimmed() != historySerial_) {
            showHistory();
        }
    });
    askRetestReason = [this](const QString& serial,
                             const QString& passedAt) -> std::optional<QString> {
        bool ok = false;
        const QString reason = QInputDialog::getText(
            this, QStringLiteral("Test again"),
            QStringLiteral("%1 passed on %2. Why is it tested again?").arg(serial, passedAt),
            QLineEdit::Normal, {}, &ok);
        return ok ? std::optional<QString>(reason) : std::nullopt;
    };

    connect(runButton_, &QPushButton::clicked, this, [this] { run(); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] {
        if (running()) {
            cancel();
        } else {
            close();
        }
    });
    connect(promptButton_, &QPushButton::clicked, this, [this] {
        if (running()) {
            session_->confirmPrompt();
            refresh();
        }
    });
    connect(limitsBrowse_, &QPushButton::clicked, this, &ModuleTestDialog::browseLimits);
    connect(folderBrowse_, &QPushButton::clicked, this, &ModuleTestDialog::browseFolder);
}

void ModuleTestDialog::loadSettings() {
    QSettings settings = settingsStore();
    settings.beginGroup(settingsGroup());
    operatorEdit_->setText(settings.value(QStringLiteral("operator")).toString());
    limitsEdit_->setText(settings.value(QStringLiteral("limitsFile")).toString());
    productionCheck_->setChecked(settings.value(QStringLiteral("production"), false).toBool());
    folderEdit_->setText(
        settings.value(QStringLiteral("reportFolder"), defaultReportFolder()).toString());
}

void ModuleTestDialog::saveSettings() const {
    QSettings settings = settingsStore();
    settings.beginGroup(settingsGroup());
    settings.setValue(QStringLiteral("operator"), operatorEdit_->text().trimmed());
    settings.setValue(QStringLiteral("limitsFile"), limitsEdit_->text().trimmed());
    settings.setValue(QStringLiteral("production"), productionCheck_->isChecked());
    settings.setValue(QStringLiteral("reportFolder"), folderEdit_->text().trimmed());
}

bool ModuleTestDialog::running() const {
    return session_ && !session_->isFinished();
}

bool ModuleTestDialog::run() {
    if (running()) {
        return false;
    }
    const QString serialProblem =
        serialNumberProblem(ResultsSettings::load().serialPattern, serialEdit_->text().trimmed());
    if (!serialEdit_->text().trimmed().isEmpty() && !serialProblem.isEmpty()) {
        showMessage(serialProblem, true);
        serialEdit_->setFocus();
        serialEdit_->selectAll();
        return false;
    }
    // The default folder is made on first use; a folder the user chose must exist.
    const QString folder = folderEdit_->text().trimmed();
    if (QDir::cleanPath(folder) == QDir::cleanPath(defaultReportFolder()) &&
        !QDir(folder).exists() && !QDir().mkpath(folder)) {
        showMessage(QStringLiteral("The report folder %1 could not be created: pick another "
                                   "one with Browse.")
                        .arg(folder),
                    true);
        return false;
    }
    PreparedModuleTest prepared =
        prepareModuleTest({serialEdit_->text().toStdString(), operatorEdit_->text().toStdString(),
                           limitsEdit_->text().toStdString(), folderEdit_->text().toStdString()});
    if (!prepared.ok()) {
        showMessage(prepared.message, true);
        if (prepared.problem == EntryProblem::NoSerialNumber) {
            serialEdit_->setFocus();
        } else if (prepared.problem == EntryProblem::NoOperator) {
            operatorEdit_->setFocus();
        }
        return false;
    }
    analysis::RunConditions conditions;
    conditions.simulatedModule = control_.onSimulatedModule();
    conditions.demonstration = demonstrationCheck_->isChecked();
    conditions.builtInLimits = prepared.setup.limitsPath.empty();
    conditions.production = productionCheck_->isChecked();
    // A production run is never a pass without a module judged against a limits file.
    if (conditions.production && (conditions.simulatedModule || conditions.demonstration)) {
        showMessage(QStringLiteral("\"Production\" tests a module: it refuses the simulated "
                                   "module and \"Demonstration\"."),
                    true);
        return false;
    }
    if (conditions.production && conditions.builtInLimits) {
        showMessage(QStringLiteral("\"Production\" needs a limits file: the built-in limits "
                                   "describe the module model, not a production module."),
                    true);
        limitsEdit_->setFocus();
        return false;
    }
    if (conditions.simulatedModule && !conditions.demonstration) {
        showMessage(QStringLiteral("The port serves the simulated module, so the test would "
                                   "judge no module. Tick \"Demonstration\" to run it as a "
                                   "demonstration, whose report says so."),
                    true);
        return false;
    }
    prepared.setup.notices = analysis::runNotices(conditions);
    // A module that already passed is tested again only for a stated reason,
    // which is stored with the run.
    retestReason_.clear();
    const QString serial = QString::fromStdString(prepared.setup.serialNumber);
    // Read again: a run since the number was entered may have passed.
    loadHistory(serial);
    if (passedBefore_) {
        const auto passed =
            std::find_if(history_.rbegin(), history_.rend(),
                         [](const results::Attempt& a) { return a.outcome == "pass"; });
        const QString passedAt =
            passed == history_.rend()
                ? QStringLiteral("an earlier day")
                : passed->startedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        const std::optional<QString> reason = askRetestReason(serial, passedAt);
        if (!reason || reason->trimmed().isEmpty()) {
            showMessage(QStringLiteral("%1 already passed: a test again needs a reason, which "
                                       "is stored with the run. Not started.")
                            .arg(serial),
                        true);
            return false;
        }
        retestReason_ = reason->trimmed();
    }
    prepared.setup.retestReason = retestReason_.toStdString();
    if (control_.currentPort() == 0) {
        showMessage(QStringLiteral("No port is open: pick the module's port from the Port menu."),
                    true);
        return false;
    }
    saveSettings();

    session_.reset();
    session_ = control_.makeSession(std::move(prepared.setup));
    connect(session_.get(), &ModuleTestSession::stepStarted, this, &ModuleTestDialog::stepStarted);
    connect(session_.get(), &ModuleTestSession::stepFinished, this,
            &ModuleTestDialog::stepFinished);
    connect(session_.get(), &ModuleTestSession::changed, this, &ModuleTestDialog::refresh);
    connect(session_.get(), &ModuleTestSession::finished, this, &ModuleTestDialog::finished);

    for (int row = 0; row < steps_->rowCount(); ++row) {
        steps_->item(row, StatusColumn)
            ->setText(QString::fromLatin1(analysis::verdictText(Verdict::Pending)));
        steps_->item(row, StatusColumn)->setForeground(QBrush());
        steps_->item(row, MeasuredColumn)->setText({});
        steps_->item(row, MeasuredColumn)->setToolTip({});
    }
    verdictLabel_->clear();
    failedLabel_->clear();
    showMessage({}, false);
    setRunning(true);
    if (!session_->start()) {
        const QString error = session_->error();
        session_.reset();
        setRunning(false);
        showMessage(QStringLiteral("The test could not start: %1").arg(error), true);
        return false;
    }
    refresh();
    return true;
}

void ModuleTestDialog::cancel() {
    if (running()) {
        cancelButton_->setEnabled(false);  // the module is being restored
        session_->cancel();
    }
}

QString ModuleTestDialog::message() const {
    return messageLabel_->text();
}

bool ModuleTestDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == serialEdit_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            serialEntered();
            return true;  // not passed on to the default button
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ModuleTestDialog::serialEntered() {
    const QString serial = serialEdit_->text().trimmed();
    if (serial.isEmpty()) {
        return;
    }
    const QString problem = serialNumberProblem(ResultsSettings::load().serialPattern, serial);
    if (!problem.isEmpty()) {
        showMessage(problem, true);
        serialEdit_->selectAll();
        return;
    }
    showMessage({}, false);
    showHistory();
}

void ModuleTestDialog::showHistory() {
    const QString serial = serialEdit_->text().trimmed();
    if (serial.isEmpty()) {
        historySerial_.clear();
        history_.clear();
        historyLabel_->hide();
        historyTable_->hide();
        return;
    }
    loadHistory(serial);
}

bool ModuleTestDialog::loadHistory(const QString& serial) {
    historySerial_ = serial;
    history_.clear();
    passedBefore_ = false;
    historyTable_->setRowCount(0);
    historyTable_->hide();
    historyLabel_->show();
    results::ResultsStore* store = control_.resultsStore();
    if (store == nullptr) {
        historyLabel_->setText(
            QStringLiteral("No history of %1: the results store is not available.").arg(serial));
        return false;
    }
    results::Answer<std::vector<results::Attempt>> answer = store->attempts(serial.toStdString());
    if (!answer.ok()) {
        historyLabel_->setText(QStringLiteral("No history of %1: %2")
                                   .arg(serial, QString::fromStdString(answer.error)));
        return false;
    }
    history_ = std::move(answer.value);
    // The same rule as the command line's: a pass of a demonstration does not count.
    const results::Answer<bool> passed = passedBefore(*store, serial.toStdString());
    passedBefore_ = passed.ok() && passed.value;
    if (history_.empty()) {
        historyLabel_->setText(QStringLiteral("%1 has not been tested before.").arg(serial));
        return true;
    }
    historyLabel_->setText(
        QStringLiteral("%1 was tested %2 %3 before%4")
            .arg(serial)
            .arg(history_.size())
            .arg(history_.size() == 1 ? QStringLiteral("time") : QStringLiteral("times"))
            .arg(passedBefore_ ? QStringLiteral(" and passed: a test again asks for a reason.")
                               : QStringLiteral(".")));
    historyTable_->setRowCount(static_cast<int>(history_.size()));
    // Newest first.
    for (int row = 0; row < static_cast<int>(history_.size()); ++row) {
        const results::Attempt& attempt =
            history_[history_.size() - 1 - static_cast<std::size_t>(row)];
        QStringList failed;
        for (const std::string& check : attempt.failedChecks) {
            failed << QString::fromStdString(check);
        }
        QString detail = failed.join(QStringLiteral(", "));
        if (!attempt.retestReason.empty()) {
            detail += (detail.isEmpty() ? QString() : QStringLiteral("; ")) +
                      QStringLiteral("retest: ") + QString::fromStdString(attempt.retestReason);
        }
        const QString cells[] = {attempt.startedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                                 QString::fromStdString(attempt.station),
                                 outcomeLabel(attempt.outcome), QString::number(attempt.attempt),
                                 detail};
        for (int column = 0; column < 5; ++column) {
            historyTable_->setItem(row, column, new QTableWidgetItem(cells[column]));
        }
        const QColor color = attempt.outcome == "pass"   ? verdictColor(Verdict::Passed)
                             : attempt.outcome == "fail" ? verdictColor(Verdict::Failed)
                                                         : QColor();
        if (color.isValid()) {
            historyTable_->item(row, 2)->setForeground(color);
        }
    }
    historyTable_->show();
    return true;
}

void ModuleTestDialog::closeEvent(QCloseEvent* event) {
    // Closed during a run: the module is restored and the report written as cancelled.
    cancel();
    QDialog::closeEvent(event);
}

void ModuleTestDialog::setRunning(bool on) {
    for (QWidget* entry : std::initializer_list<QWidget*>{
             serialEdit_, operatorEdit_, limitsEdit_, folderEdit_, limitsBrowse_, folderBrowse_,
             demonstrationCheck_, productionCheck_, runButton_}) {
        entry->setEnabled(!on);
    }
    cancelButton_->setEnabled(true);
    cancelButton_->setText(on ? QStringLiteral("Cancel") : QStringLiteral("Close"));
    if (!on) {
        promptBox_->hide();
    }
}

void ModuleTestDialog::showMessage(const QString& text, bool problem) {
    messageLabel_->setText(text);
    QPalette palette = messageLabel_->palette();
    palette.setColor(QPalette::WindowText,
                     problem ? QColor(192, 0, 0) : this->palette().color(QPalette::WindowText));
    messageLabel_->setPalette(palette);
}

void ModuleTestDialog::stepStarted(int index) {
    steps_->item(index, StatusColumn)->setText(QStringLiteral("running"));
    steps_->scrollToItem(steps_->item(index, StepColumn));
}

void ModuleTestDialog::stepFinished(int index) {
    const StepResult& step = session_->runner().steps()[static_cast<std::size_t>(index)];
    QTableWidgetItem* status = steps_->item(index, StatusColumn);
    status->setText(QString::fromLatin1(analysis::verdictText(step.verdict)));
    status->setForeground(verdictColor(step.verdict));
    QTableWidgetItem* measured = steps_->item(index, MeasuredColumn);
    measured->setText(measuredText(step));
    measured->setToolTip(measured->text());
}

void ModuleTestDialog::refresh() {
    if (!session_) {
        return;
    }
    const analysis::ModuleTestRunner& runner = session_->runner();
    progress_->setValue(static_cast<int>(std::lround(session_->progress() * 1000.0)));
    progress_->setFormat(
        session_->isFinished()
            ? QStringLiteral("%p%")
            : QStringLiteral("%p% - about %1 s left").arg(std::lround(session_->secondsLeft())));
    // The running step shows what it has measured so far.
    if (const StepResult* step = runner.currentStep(); step && !step->checks.empty()) {
        steps_->item(step->number - 1, MeasuredColumn)->setText(measuredText(*step));
    }
    const QString prompt = QString::fromStdString(runner.prompt());
    promptLabel_->setText(prompt);
    promptBox_->setVisible(!prompt.isEmpty());
    for (int row = 0; row < steps_->rowCount(); ++row) {
        const StepResult& step = runner.steps()[static_cast<std::size_t>(row)];
        if (step.verdict == Verdict::Skipped) {
            steps_->item(row, StatusColumn)
                ->setText(QString::fromLatin1(analysis::verdictText(step.verdict)));
        }
    }
}

void ModuleTestDialog::finished() {
    refresh();
    setRunning(false);
    const analysis::ModuleTestRunner& runner = session_->runner();
    const TestOutcome outcome = runner.outcome();
    verdictLabel_->setText(QString::fromStdString(report::outcomeText(outcome)));
    QPalette palette = verdictLabel_->palette();
    palette.setColor(QPalette::WindowText, outcome == TestOutcome::Passed
                                               ? verdictColor(Verdict::Passed)
                                           : outcome == TestOutcome::Failed
                                               ? verdictColor(Verdict::Failed)
                                               : this->palette().color(QPalette::WindowText));
    verdictLabel_->setPalette(palette);

    QStringList failed;
    for (const std::string& name : failedStepNames(runner)) {
        failed << QString::fromStdString(name);
    }
    QStringList unjudged;
    for (const std::string& name : unjudgedStepNames(runner)) {
        unjudged << QString::fromStdString(name);
    }
    QStringList below;
    if (!failed.isEmpty()) {
        below << QStringLiteral("Failed: ") + failed.join(QStringLiteral(", "));
    }
    if (!unjudged.isEmpty()) {
        below << QStringLiteral("Not judged: ") + unjudged.join(QStringLiteral(", "));
    }
    for (const std::string& notice : session_->setup().notices) {
        below << QString::fromStdString(notice);
    }
    failedLabel_->setText(below.join(QChar('\n')));

    const report::ReportWriteResult& written = session_->reportResult();
    if (written.ok) {
        showMessage(QStringLiteral("Report: %1 (also .html and .json); recording: %2")
                        .arg(written.paths.pdf, session_->recordingPath()),
                    false);
    } else {
        showMessage(QStringLiteral("The report was not written: %1 (no file of it is left; the "
                                   "recording is kept: %2)")
                        .arg(written.error, session_->recordingPath()),
                    true);
    }
    // The next module gets its own number.
    serialEdit_->clear();
    serialEdit_->setFocus();
}

void ModuleTestDialog::browseLimits() {
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Limits file"), limitsEdit_->text(),
                                     QStringLiteral("Limits files (*.json);;All files (*)"));
    if (!path.isEmpty()) {
        limitsEdit_->setText(path);
    }
}

void ModuleTestDialog::browseFolder() {
    const QString path = QFileDialog::getExistingDirectory(this, QStringLiteral("Report folder"),
                                                           folderEdit_->text());
    if (!path.isEmpty()) {
        folderEdit_->setText(path);
    }
}

}  // namespace vitalon
