#include "app/file_dialogs.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>

namespace tessaline {

namespace {

// The file system model's "date modified" column.
constexpr int DateColumn = 3;

class LocalDates : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (index.column() == DateColumn && role == Qt::DisplayRole) {
            if (const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel()))
                return QLocale().toString(files->lastModified(mapToSource(index)), QLocale::ShortFormat);
        }
        return QIdentityProxyModel::data(index, role);
    }
};

QStringList Ask(QFileDialog& dialog)
{
    UseApplicationLocaleForDates(dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

} // namespace

void UseApplicationLocaleForDates(QFileDialog& dialog)
{
    dialog.setProxyModel(new LocalDates(&dialog));
}

QStringList AskOpenFiles(QWidget* parent, const QString& title, const QString& folder,
                         const QStringList& filters)
{
    QFileDialog dialog(parent, title, folder);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(filters);
    return Ask(dialog);
}

QString AskOpenFile(QWidget* parent, const QString& title, const QString& folder, const QStringList& filters)
{
    QFileDialog dialog(parent, title, folder);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    return Ask(dialog).value(0);
}

QString AskSaveFile(QWidget* parent, const QString& title, const QString& proposal,
                    const QStringList& filters)
{
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    dialog.selectFile(proposal);
    return Ask(dialog).value(0);
}

} // namespace tessaline
