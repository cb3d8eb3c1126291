#include "app/batch_outcomes.h"

#include <algorithm>

#include <QBrush>
#include <QColor>

#include "app/ui_texts.h"

namespace tessaline {

void BatchOutcomes::Clear()
{
    beginResetModel();
    rows.clear();
    endResetModel();
}

int BatchOutcomes::Add(const QString& file)
{
    const int row = static_cast<int>(rows.size());
    beginInsertRows({}, row, row);
    rows.push_back({file, State::Waiting, {}});
    endInsertRows();
    return row;
}

void BatchOutcomes::Set(int row, State state, const QString& detail)
{
    if (row < 0 || row >= Files())
        return;
    rows[static_cast<std::size_t>(row)].state = state;
    rows[static_cast<std::size_t>(row)].detail = detail;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void BatchOutcomes::SetSaved(int row, const QString& target) { Set(row, State::Saved, target); }
void BatchOutcomes::SetFailed(int row, const QString& reason) { Set(row, State::Failed, reason); }

void BatchOutcomes::StopWaiting()
{
    for (int row = 0; row < Files(); ++row)
        if (rows[static_cast<std::size_t>(row)].state == State::Waiting)
            Set(row, State::Stopped, {});
}

int BatchOutcomes::Count(State state) const
{
    return static_cast<int>(std::count_if(rows.begin(), rows.end(), [state](const Row& row) { return row.state == state; }));
}

QString BatchOutcomes::Text(const Row& row, int column) const
{
    switch (column) {
    case FileColumn: return row.file;
    case StateColumn:
        switch (row.state) {
        case State::Waiting: return texts::OutcomeWaiting();
        case State::Saved: return texts::OutcomeSaved();
        case State::Failed: return texts::OutcomeFailed();
        case State::Stopped: return texts::OutcomeStopped();
        }
        break;
    case DetailColumn: return row.detail;
    default: break;
    }
    return {};
}

QString BatchOutcomes::RowText(int row) const
{
    if (row < 0 || row >= Files())
        return {};
    const Row& r = rows[static_cast<std::size_t>(row)];
    return Text(r, FileColumn) + QLatin1Char('\t') + Text(r, StateColumn) + QLatin1Char('\t') + Text(r, DetailColumn);
}

int BatchOutcomes::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Files();
}

int BatchOutcomes::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant BatchOutcomes::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= Files())
        return {};
    const Row& row = rows[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return Text(row, index.column());
    if (role == Qt::ForegroundRole && row.state == State::Failed)
        return QBrush(QColor(176, 0, 0));
    return {};
}

QVariant BatchOutcomes::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case FileColumn: return texts::OutcomeFileHeader();
    case StateColumn: return texts::OutcomeStateHeader();
    case DetailColumn: return texts::OutcomeDetailHeader();
    default: return {};
    }
}

} // namespace tessaline
