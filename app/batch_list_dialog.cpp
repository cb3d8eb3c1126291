#include "app/batch_list_dialog.h"

#include <algorithm>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "app/batch_outcomes.h"
#include "app/ui_texts.h"

namespace tessaline {

CBatchListDialog::CBatchListDialog(BatchOutcomes* outcomes, QWidget* parent)
    : QDialog(parent), outcomes(outcomes)
{
    setWindowTitle(texts::BatchListTitle());
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    table = new QTableView(this);
    table->setObjectName(QStringLiteral("batchTable"));
    table->setModel(outcomes);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setColumnWidth(BatchOutcomes::FileColumn, 300);
    table->setColumnWidth(BatchOutcomes::StateColumn, 70);
    // A list squeezed into a short space is no list: five rows stay in sight wherever it opens.
    table->setMinimumHeight(table->horizontalHeader()->sizeHint().height() +
                            VisibleRows * table->verticalHeader()->defaultSectionSize() +
                            2 * table->frameWidth());
    layout->addWidget(table);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy = buttons->addButton(texts::CopyList(), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyButton"));
    layout->addWidget(buttons);
    connect(copy, &QPushButton::clicked, this, &CBatchListDialog::Copy);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* copyKey = new QAction(this);
    copyKey->setShortcut(QKeySequence::Copy);
    connect(copyKey, &QAction::triggered, this, &CBatchListDialog::Copy);
    addAction(copyKey);
    // The newest outcome stays in sight while the batch runs.
    connect(outcomes, &QAbstractItemModel::rowsInserted, table, &QTableView::scrollToBottom);
    resize(720, 360);
}

QString CBatchListDialog::SelectedText() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : table->selectionModel()->selectedRows())
        rows.push_back(index.row());
    if (rows.empty())
        for (int row = 0; row < outcomes->Files(); ++row)
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (const int row : rows)
        lines << outcomes->RowText(row);
    return lines.join(QLatin1Char('\n'));
}

void CBatchListDialog::Copy()
{
    QApplication::clipboard()->setText(SelectedText());
}

} // namespace tessaline
