#include "ResultsModel.h"

#include <QBrush>
#include <QColor>

namespace vitalon {

QString outcomeLabel(const std::string& key) {
    if (key == "pass") {
        return QStringLiteral("PASS");
    }
    if (key == "fail") {
        return QStringLiteral("FAIL");
    }
    if (key == "incomplete") {
        return QStringLiteral("INCOMPLETE");
    }
    return QString::fromStdString(key);
}

ResultsModel::ResultsModel(results::ResultsStore& store, QObject* parent)
    : QAbstractTableModel(parent), store_(store) {}

QString ResultsModel::setFilter(const results::RunFilter& filter) {
    beginResetModel();
    filter_ = filter;
    results::Answer<std::vector<results::RunRecord>> answer = store_.runs(filter);
    runs_ = answer.ok() ? std::move(answer.value) : std::vector<results::RunRecord>{};
    endResetModel();
    return QString::fromStdString(answer.error);
}

const results::RunRecord& ResultsModel::runAt(int row) const {
    return runs_[runs_.size() - 1 - static_cast<std::size_t>(row)];
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(runs_.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const results::RunRecord& run = runAt(index.row());
    if (role == Qt::ForegroundRole && index.column() == OutcomeColumn) {
        if (run.outcome == "pass") {
            return QBrush(QColor(0, 128, 0));
        }
        if (run.outcome == "fail") {
            return QBrush(QColor(192, 0, 0));
        }
        return {};
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
        case StartedColumn:
            return run.startedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        case SerialColumn:
            return QString::fromStdString(run.serialNumber);
        case OutcomeColumn:
            return outcomeLabel(run.outcome);
        case AttemptColumn:
            return run.attempt;
        case StationColumn:
            return QString::fromStdString(run.station);
        case OperatorColumn:
            return QString::fromStdString(run.operatorName);
        case LimitsColumn:
            return run.limitsRevision.empty()
                       ? QString::fromStdString(run.limitsName)
                       : QStringLiteral("%1 rev. %2")
                             .arg(QString::fromStdString(run.limitsName),
                                  QString::fromStdString(run.limitsRevision));
        case DemonstrationColumn:
            return run.demonstration ? QStringLiteral("demonstration") : QString();
        default:
            return {};
    }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    static const char* const kTitles[ColumnCount] = {
        "Started", "Serial number", "Outcome", "Attempt", "Station", "Operator", "Limits", "Kind"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(kTitles[section])
                                                 : QVariant();
}

}  // namespace vitalon
