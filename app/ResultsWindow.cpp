#include "ResultsWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "CheckStatistics.h"
#include "ResultsCsv.h"
#include "ResultsModel.h"
#include "StatisticsSamples.h"

namespace vitalon {
namespace {

enum CheckColumn {
    CheckIdColumn,
    CheckNameColumn,
    ValueColumn,
    LowColumn,
    HighColumn,
    VerdictColumn
};

QString optionalNumber(const std::optional<double>& value) {
    return value ? QString::number(*value, 'g', 6) : QString();
}

QString groupLabel(const results::CheckGroup& group) {
    return QStringLiteral("%1 rev. %2 (%3 values)")
        .arg(QString::fromStdString(group.limitsName), QString::fromStdString(group.limitsRevision))
        .arg(group.count);
}

}  // namespace

ResultsWindow::ResultsWindow(results::ResultsStore& store, QWidget* parent)
    : QWidget(parent, Qt::Window), store_(store) {
    setWindowTitle(QStringLiteral("Results"));
    setObjectName(QStringLiteral("ResultsWindow"));
    model_ = new ResultsModel(store_, this);
    openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    askCsvPath = [this] {
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        return QFileDialog::getSaveFileName(
            this, QStringLiteral("Export runs as CSV"),
            QDir(documents).filePath(QStringLiteral("vitalon-results.csv")),
            QStringLiteral("CSV files (*.csv)"));
    };
    buildControls();
    resize(980, 680);
}

ResultsWindow::~ResultsWindow() = default;

void ResultsWindow::buildControls() {
    serialEdit_ = new QLineEdit(this);
    serialEdit_->setPlaceholderText(QStringLiteral("any"));
    sinceCheck_ = new QCheckBox(QStringLiteral("From"), this);
    sinceEdit_ = new QDateEdit(QDate::currentDate().addDays(-30), this);
    sinceEdit_->setCalendarPopup(true);
    sinceEdit_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    untilCheck_ = new QCheckBox(QStringLiteral("to"), this);
    untilEdit_ = new QDateEdit(QDate::currentDate(), this);
    untilEdit_->setCalendarPopup(true);
    untilEdit_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    stationEdit_ = new QLineEdit(this);
    stationEdit_->setPlaceholderText(QStringLiteral("any"));
    outcomeCombo_ = new QComboBox(this);
    outcomeCombo_->addItem(QStringLiteral("any"), QString());
    for (const char* key : {"pass", "fail", "incomplete", "unfinished"}) {
        outcomeCombo_->addItem(outcomeLabel(key), QString::fromLatin1(key));
    }
    operatorEdit_ = new QLineEdit(this);
    operatorEdit_->setPlaceholderText(QStringLiteral("any"));
    applyButton_ = new QPushButton(QStringLiteral("&Show"), this);

    auto* filters = new QHBoxLayout;
    const auto labelled = [this, filters](const QString& text, QWidget* field) {
        auto* label = new QLabel(text, this);
        label->setBuddy(field);
        filters->addWidget(label);
        filters->addWidget(field);
    };
    labelled(QStringLiteral("&Serial number:"), serialEdit_);
    filters->addWidget(sinceCheck_);
    filters->addWidget(sinceEdit_);
    filters->addWidget(untilCheck_);
    filters->addWidget(untilEdit_);
    labelled(QStringLiteral("S&tation:"), stationEdit_);
    labelled(QStringLiteral("O&utcome:"), outcomeCombo_);
    labelled(QStringLiteral("O&perator:"), operatorEdit_);
    filters->addWidget(applyButton_);

    runTable_ = new QTableView(this);
    runTable_->setModel(model_);
    runTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    runTable_->setSelectionMode(QAbstractItemView::SingleSelection);
    runTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    runTable_->verticalHeader()->hide();
    runTable_->horizontalHeader()->setStretchLastSection(true);
    // Fixed widths: measuring the contents of many rows would slow the opening.
    runTable_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    runTable_->setColumnWidth(ResultsModel::StartedColumn, 150);
    runTable_->setColumnWidth(ResultsModel::SerialColumn, 140);

    checkTable_ = new QTableWidget(0, 6, this);
    checkTable_->setHorizontalHeaderLabels({QStringLiteral("Check"), QStringLiteral("Name"),
                                            QStringLiteral("Value"), QStringLiteral("Low"),
                                            QStringLiteral("High"), QStringLiteral("Verdict")});
    checkTable_->verticalHeader()->hide();
    checkTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    checkTable_->horizontalHeader()->setSectionResizeMode(CheckNameColumn, QHeaderView::Stretch);
    reportButton_ = new QPushButton(QStringLiteral("Open &Report"), this);
    reportButton_->setEnabled(false);
    exportButton_ = new QPushButton(QStringLiteral("&Export CSV..."), this);

    auto* runsPage = new QWidget(this);
    auto* runsLayout = new QVBoxLayout(runsPage);
    runsLayout->addWidget(runTable_, 3);
    runsLayout->addWidget(checkTable_, 2);
    auto* runButtons = new QHBoxLayout;
    runButtons->addStretch(1);
    runButtons->addWidget(reportButton_);
    runButtons->addWidget(exportButton_);
    runsLayout->addLayout(runButtons);

    checkCombo_ = new QComboBox(this);
    checkCombo_->setEditable(true);
    checkCombo_->setMinimumContentsLength(24);
    groupCombo_ = new QComboBox(this);
    chart_ = new StatisticsChart(this);
    auto* statsPage = new QWidget(this);
    auto* statsLayout = new QVBoxLayout(statsPage);
    auto* chooser = new QFormLayout;
    chooser->addRow(QStringLiteral("&Check:"), checkCombo_);
    chooser->addRow(QStringLiteral("&Limits:"), groupCombo_);
    statsLayout->addLayout(chooser);
    statsLayout->addWidget(chart_, 1);

    tabs_ = new QTabWidget(this);
    tabs_->addTab(runsPage, QStringLiteral("Runs"));
    tabs_->addTab(statsPage, QStringLiteral("Statistics"));

    messageLabel_ = new QLabel(this);
    messageLabel_->setWordWrap(true);
    messageLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(tabs_, 1);
    layout->addWidget(messageLabel_);

    // clang-format off
    const std::pair<QObject*, const char*> names[] = {
        {serialEdit_, "filterSerial"}, {sinceCheck_, "filterSinceOn"}, {sinceEdit_, "filterSince"},
        {untilCheck_, "filterUntilOn"}, {untilEdit_, "filterUntil"},
        {stationEdit_, "filterStation"}, {outcomeCombo_, "filterOutcome"},
        {operatorEdit_, "filterOperator"}, {applyButton_, "applyFilter"}, {tabs_, "resultsTabs"},
        {runTable_, "runTable"}, {checkTable_, "checkTable"}, {reportButton_, "openReport"},
        {exportButton_, "exportCsv"}, {checkCombo_, "checkChoice"}, {groupCombo_, "limitsGroup"},
        {chart_, "statisticsChart"}, {messageLabel_, "resultsMessage"},
    };
    // clang-format on
    for (const auto& [object, name] : names) {
        object->setObjectName(QString::fromLatin1(name));
    }

    connect(applyButton_, &QPushButton::clicked, this, [this] { applyFilter(); });
    for (QLineEdit* edit : {serialEdit_, stationEdit_, operatorEdit_}) {
        connect(edit, &QLineEdit::returnPressed, this, [this] { applyFilter(); });
    }
    connect(runTable_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) {
                    openRun(current.row());
                }
            });
    connect(runTable_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        openRun(index.row());
        openReport();
    });
    connect(reportButton_, &QPushButton::clicked, this, [this] { openReport(); });
    connect(exportButton_, &QPushButton::clicked, this, [this] {
        const QString path = askCsvPath();
        if (!path.isEmpty()) {
            exportCsv(path);
        }
    });
    connect(checkCombo_, &QComboBox::textActivated, this, &ResultsWindow::showStatistics);
    connect(groupCombo_, &QComboBox::activated, this, &ResultsWindow::showGroup);
}

results::RunFilter ResultsWindow::filterOfFields() const {
    results::RunFilter filter;
    filter.serialNumber = serialEdit_->text().trimmed().toStdString();
    filter.station = stationEdit_->text().trimmed().toStdString();
    filter.operatorName = operatorEdit_->text().trimmed().toStdString();
    filter.outcome = outcomeCombo_->currentData().toString().toStdString();
    // Whole days on this computer's clock: from the first day's start to the
    // last day's end.
    if (sinceCheck_->isChecked()) {
        filter.since = sinceEdit_->date().startOfDay();
    }
    if (untilCheck_->isChecked()) {
        filter.until = untilEdit_->date().addDays(1).startOfDay();
    }
    return filter;
}

bool ResultsWindow::applyFilter() {
    const QString error = model_->setFilter(filterOfFields());
    shownRun_.reset();
    checkTable_->setRowCount(0);
    reportButton_->setEnabled(false);
    if (!error.isEmpty()) {
        showMessage(QStringLiteral("The runs could not be read: %1").arg(error), true);
        return false;
    }
    const int count = model_->rowCount();
    showMessage(count == 1 ? QStringLiteral("1 run") : QStringLiteral("%1 runs").arg(count), false);
    if (count > 0) {
        // The newest run offers its checks for the statistics.
        results::Answer<std::optional<results::RunRecord>> newest =
            store_.run(model_->runAt(0).uuid);
        if (newest.ok() && newest.value) {
            offerChecks(*newest.value);
        }
    }
    if (!checkCombo_->currentText().isEmpty()) {
        showStatistics(checkCombo_->currentText());
    }
    return true;
}

void ResultsWindow::offerChecks(const results::RunRecord& run) {
    const QString chosen = checkCombo_->currentText();
    QStringList ids;
    for (const results::CheckRecord& check : run.checks) {
        ids << QString::fromStdString(check.checkId);
    }
    if (ids == QStringList([this] {
            QStringList now;
            for (int i = 0; i < checkCombo_->count(); ++i) {
                now << checkCombo_->itemText(i);
            }
            return now;
        }())) {
        return;
    }
    checkCombo_->clear();
    checkCombo_->addItems(ids);
    checkCombo_->setCurrentText(chosen);
}

void ResultsWindow::openRun(int row) {
    if (row < 0 || row >= model_->rowCount()) {
        return;
    }
    const std::string uuid = model_->runAt(row).uuid;
    results::Answer<std::optional<results::RunRecord>> answer = store_.run(uuid);
    if (!answer.ok() || !answer.value) {
        showMessage(answer.ok() ? QStringLiteral("The run is no longer in the store.")
                                : QStringLiteral("The run could not be read: %1")
                                      .arg(QString::fromStdString(answer.error)),
                    true);
        return;
    }
    shownRun_ = std::move(*answer.value);
    const std::vector<results::CheckRecord>& checks = shownRun_->checks;
    checkTable_->setRowCount(static_cast<int>(checks.size()));
    for (int i = 0; i < static_cast<int>(checks.size()); ++i) {
        const results::CheckRecord& check = checks[static_cast<std::size_t>(i)];
        const QString unit = QString::fromStdString(check.unit);
        const QString value = check.value ? optionalNumber(check.value) + QChar(' ') + unit
                                          : QStringLiteral("not measured");
        const QString cells[] = {QString::fromStdString(check.checkId),
                                 QString::fromStdString(check.name),
                                 value.trimmed(),
                                 optionalNumber(check.low),
                                 optionalNumber(check.high),
                                 QString::fromStdString(check.verdict) +
                                     (check.marginal ? QStringLiteral(" (marginal)") : QString())};
        for (int column = 0; column < 6; ++column) {
            checkTable_->setItem(i, column, new QTableWidgetItem(cells[column]));
        }
        if (check.verdict == "fail") {
            checkTable_->item(i, VerdictColumn)->setForeground(QColor(192, 0, 0));
        }
    }
    const bool hasPdf =
        std::any_of(shownRun_->attachments.begin(), shownRun_->attachments.end(),
                    [](const results::AttachmentRecord& file) { return file.kind == "pdf"; });
    reportButton_->setEnabled(hasPdf);
    offerChecks(*shownRun_);
    showMessage(QStringLiteral("%1, %2: %3 checks")
                    .arg(QString::fromStdString(shownRun_->serialNumber),
                         shownRun_->startedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                    .arg(checks.size()),
                false);
}

bool ResultsWindow::openReport() {
    if (!shownRun_) {
        showMessage(QStringLiteral("Choose a run first."), true);
        return false;
    }
    for (const results::AttachmentRecord& file : shownRun_->attachments) {
        if (file.kind != "pdf") {
            continue;
        }
        const QString path = QString::fromStdString(file.path);
        if (!QFileInfo::exists(path)) {
            showMessage(QStringLiteral("The report %1 is not on this computer (it was written "
                                       "on station %2).")
                            .arg(path, QString::fromStdString(shownRun_->station)),
                        true);
            return false;
        }
        if (!openUrl(QUrl::fromLocalFile(path))) {
            showMessage(QStringLiteral("No program opened %1.").arg(path), true);
            return false;
        }
        return true;
    }
    showMessage(QStringLiteral("This run has no PDF report."), true);
    return false;
}

bool ResultsWindow::exportCsv(const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        showMessage(QStringLiteral("%1 could not be written: %2").arg(path, file.errorString()),
                    true);
        return false;
    }
    const QString error = writeResultsCsv(file, store_, model_->runs());
    if (!error.isEmpty()) {
        file.cancelWriting();
        showMessage(error + QStringLiteral(" Nothing was written to %1.").arg(path), true);
        return false;
    }
    if (!file.commit()) {
        showMessage(QStringLiteral("%1 could not be written: %2").arg(path, file.errorString()),
                    true);
        return false;
    }
    showMessage(QStringLiteral("%1 runs exported to %2").arg(model_->rowCount()).arg(path), false);
    return true;
}

void ResultsWindow::showStatistics(const QString& checkId) {
    pictures_.clear();
    groupCombo_->clear();
    const std::string id = checkId.trimmed().toStdString();
    if (id.empty()) {
        chart_->clear(QStringLiteral("Choose a check to see its statistics."));
        return;
    }
    results::Answer<std::vector<results::CheckValue>> values =
        store_.checkValues(id, model_->filter());
    if (!values.ok()) {
        chart_->clear(QStringLiteral("The values could not be read: %1")
                          .arg(QString::fromStdString(values.error)));
        return;
    }
    std::string unit;
    QString name;
    if (shownRun_) {
        for (const results::CheckRecord& check : shownRun_->checks) {
            if (check.checkId == id) {
                unit = check.unit;
                name = QString::fromStdString(check.name);
            }
        }
    }
    const results::CheckStatistics statistics =
        results::checkStatistics(results::checkSamplesOf(values.value, unit));
    const std::vector<results::RunSample> runs = results::runSamplesOf(model_->runs());
    const std::vector<results::DayYield> firstPass = results::firstPassYieldPerDay(runs);
    if (statistics.groups.empty()) {
        chart_->clear(QStringLiteral("No production values of %1 in the runs shown%2.")
                          .arg(checkId.trimmed())
                          .arg(statistics.demonstrationsLeftOut > 0
                                   ? QStringLiteral(" (%1 demonstration runs left out)")
                                         .arg(statistics.demonstrationsLeftOut)
                                   : QString()));
        return;
    }
    for (const results::CheckGroup& group : statistics.groups) {
        StatisticsPicture picture;
        picture.title = name.isEmpty() ? checkId.trimmed()
                                       : QStringLiteral("%1: %2").arg(checkId.trimmed(), name);
        picture.group = group;
        picture.firstPass = firstPass;
        picture.demonstrationsLeftOut = statistics.demonstrationsLeftOut;
        picture.otherGroups = static_cast<int>(statistics.groups.size()) - 1;
        pictures_.push_back(std::move(picture));
        groupCombo_->addItem(groupLabel(group));
    }
    showGroup(0);
}

void ResultsWindow::showGroup(int index) {
    if (index < 0 || index >= static_cast<int>(pictures_.size())) {
        return;
    }
    groupCombo_->setCurrentIndex(index);
    chart_->setPicture(pictures_[static_cast<std::size_t>(index)]);
}

QString ResultsWindow::message() const {
    return messageLabel_->text();
}

void ResultsWindow::showMessage(const QString& text, bool problem) {
    messageLabel_->setText(text);
    QPalette palette = messageLabel_->palette();
    palette.setColor(QPalette::WindowText,
                     problem ? QColor(192, 0, 0) : this->palette().color(QPalette::WindowText));
    messageLabel_->setPalette(palette);
}

}  // namespace vitalon
