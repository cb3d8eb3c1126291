#include "app/file_dialogs.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>

#include "app/ui_texts.h"

namespace tessaline {

namespace {

// The file system model's "size" and "date modified" columns.
constexpr int SizeColumn = 1;
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
        // Qt's own size text is English ("12 bytes"); the status bar's units are used instead.
        if (index.column() == SizeColumn && role == Qt::DisplayRole) {
            if (const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
                files && !files->isDir(mapToSource(index)))
                return texts::FileSizeText(static_cast<std::uint64_t>(files->size(mapToSource(index))));
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
