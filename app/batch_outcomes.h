#pragma once
// app/batch_outcomes.h: what became of every file of an automatically saved batch, as a table
// the batch list shows while the batch runs and after it: the file, its state (waiting, saved,
// failed, not done because the batch was stopped) and where it was saved or why not. Rows are
// added as files are taken in and never removed until the next batch starts. UI thread only.

#include <vector>

#include <QAbstractTableModel>
#include <QString>

namespace tessaline {

class BatchOutcomes : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum class State
    {
        Waiting,
        Saved,
        Failed,
        Stopped, ///< never reached: the batch was stopped first
    };
    enum Column
    {
        FileColumn,
        StateColumn,
        DetailColumn,
        ColumnCount
    };

    using QAbstractTableModel::QAbstractTableModel;

    /// Empties the table for a new batch.
    void Clear();
    /// Adds a waiting file (its full name as shown); returns its row.
    int Add(const QString& file);
    /// The file of `row` was saved to `target` (as shown).
    void SetSaved(int row, const QString& target);
    /// The file of `row` failed; `reason` says why in a few words.
    void SetFailed(int row, const QString& reason);
    /// Every file still waiting is marked as stopped.
    void StopWaiting();

    int Count(State state) const;
    int Files() const { return static_cast<int>(rows.size()); }
    State StateOf(int row) const { return rows.at(static_cast<std::size_t>(row)).state; }
    /// One row as text, the columns separated by tabs (what the copy puts on the clipboard).
    QString RowText(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Row
    {
        QString file;
        State state = State::Waiting;
        QString detail;
    };
    void Set(int row, State state, const QString& detail);
    QString Text(const Row& row, int column) const;

    std::vector<Row> rows;
};

} // namespace tessaline
