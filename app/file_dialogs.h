#pragma once
// app/file_dialogs.h: the window's file dialogs. Qt's own dialog takes its words from the
// installed Japanese translation, but writes the dates of its file list in the session's locale;
// here they follow the application's locale (Japanese) as well. UI thread only.

#include <QString>
#include <QStringList>

class QFileDialog;
class QWidget;

namespace tessaline {

/// Makes `dialog` show its file list's dates in the application's locale.
void UseApplicationLocaleForDates(QFileDialog& dialog);

/// Asks for existing files to open (several at once); empty when cancelled.
QStringList AskOpenFiles(QWidget* parent, const QString& title, const QString& folder,
                         const QStringList& filters);
/// Asks for one existing file (of `filters`, when given); empty when cancelled.
QString AskOpenFile(QWidget* parent, const QString& title, const QString& folder,
                    const QStringList& filters = {});
/// Asks for a file to write, proposing `proposal`, asking before an existing file is replaced;
/// empty when cancelled.
QString AskSaveFile(QWidget* parent, const QString& title, const QString& proposal,
                    const QStringList& filters);

} // namespace tessaline
