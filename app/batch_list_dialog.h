#pragma once
// app/batch_list_dialog.h: the batch list, a window beside the main one (never modal) that shows
// every file of the batch with what became of it, live while the batch runs. Rows can be
// selected and copied (Ctrl+C or the copy button; the whole list when nothing is selected) as
// tab-separated text. UI thread only.

#include <QDialog>

class QTableView;

namespace tessaline {

class BatchOutcomes;

class CBatchListDialog : public QDialog
{
    Q_OBJECT

public:
    CBatchListDialog(BatchOutcomes* outcomes, QWidget* parent = nullptr);

    /// The selected rows (every row when none is selected) as lines of tab-separated text.
    QString SelectedText() const;
    /// Puts SelectedText on the clipboard.
    void Copy();
    QTableView* Table() const { return table; }

    /// Rows the list always has room for, however little space the window leaves it.
    static constexpr int VisibleRows = 5;

private:
    BatchOutcomes* outcomes;
    QTableView* table = nullptr;
};

} // namespace tessaline
