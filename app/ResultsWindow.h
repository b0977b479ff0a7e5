#pragma once

#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>

#include "ResultsStore.h"
#include "StatisticsChart.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTableWidget;
class QTabWidget;

namespace vitalon {

class ResultsModel;

// The Results window: the stored runs filtered by serial number, date range,
// station, outcome and operator; a run's checks and its report; the filtered
// runs with their checks exported as CSV; and one check's statistics over the
// filtered runs, drawn. It reads the store it is given and writes nothing to it.
class ResultsWindow : public QWidget {
    Q_OBJECT
public:
    explicit ResultsWindow(results::ResultsStore& store, QWidget* parent = nullptr);
    ~ResultsWindow() override;

    // Reads the runs the filter fields select; false, with the reason shown,
    // when the store cannot answer.
    bool applyFilter();
    // The filter the fields stand for.
    results::RunFilter filterOfFields() const;

    // Shows the checks of the run in `row` of the table (newest first).
    void openRun(int row);
    // Opens the shown run's PDF report; false, with the reason shown, when
    // there is none or it cannot be opened.
    bool openReport();
    // Writes the filtered runs and their checks to `path` as CSV.
    bool exportCsv(const QString& path);
    // The statistics of `checkId` over the filtered runs.
    void showStatistics(const QString& checkId);

    const ResultsModel& model() const { return *model_; }
    const StatisticsChart& chart() const { return *chart_; }
    QString message() const;

    // Opens a file in the desktop's viewer; QDesktopServices unless replaced (the tests do).
    std::function<bool(const QUrl&)> openUrl;
    // Asks where to save the CSV; a save dialog unless replaced; empty: cancelled.
    std::function<QString()> askCsvPath;

private:
    void buildControls();
    void showMessage(const QString& text, bool problem);
    void offerChecks(const results::RunRecord& run);
    void showGroup(int index);

    results::ResultsStore& store_;
    ResultsModel* model_ = nullptr;
    std::optional<results::RunRecord> shownRun_;
    std::vector<StatisticsPicture> pictures_;  // one per limits group of the chosen check

    QLineEdit* serialEdit_ = nullptr;
    QCheckBox* sinceCheck_ = nullptr;
    QDateEdit* sinceEdit_ = nullptr;
    QCheckBox* untilCheck_ = nullptr;
    QDateEdit* untilEdit_ = nullptr;
    QLineEdit* stationEdit_ = nullptr;
    QComboBox* outcomeCombo_ = nullptr;
    QLineEdit* operatorEdit_ = nullptr;
    QPushButton* applyButton_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QTableView* runTable_ = nullptr;
    QTableWidget* checkTable_ = nullptr;
    QPushButton* reportButton_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QComboBox* checkCombo_ = nullptr;
    QComboBox* groupCombo_ = nullptr;
    StatisticsChart* chart_ = nullptr;
    QLabel* messageLabel_ = nullptr;
};

}  // namespace vitalon
