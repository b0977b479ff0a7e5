#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <vector>

#include "ResultsStore.h"

namespace vitalon {

// The runs a filter selects from a results store, as a table: newest first,
// one row a run. The records are read once per filter; the rows' texts are
// made when the view asks for them, so a store of many runs opens quickly.
class ResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        StartedColumn,
        SerialColumn,
        OutcomeColumn,
        AttemptColumn,
        StationColumn,
        OperatorColumn,
        LimitsColumn,
        DemonstrationColumn,
        ColumnCount
    };

    explicit ResultsModel(results::ResultsStore& store, QObject* parent = nullptr);

    // Reads the runs `filter` selects. On an error the table is left empty and
    // the error (a sentence) returned; else an empty string.
    QString setFilter(const results::RunFilter& filter);
    const results::RunFilter& filter() const { return filter_; }

    // Oldest first, as the store gives them.
    const std::vector<results::RunRecord>& runs() const { return runs_; }
    const results::RunRecord& runAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    results::ResultsStore& store_;
    results::RunFilter filter_;
    std::vector<results::RunRecord> runs_;
};

// An outcome key ("pass", "fail", "incomplete", "unfinished") as the user reads it.
QString outcomeLabel(const std::string& key);

}  // namespace vitalon
