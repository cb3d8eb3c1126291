#pragma once
// tests/app/drop_files.h: a drop onto a widget as a file manager makes it: the drag's entry first
// (the window takes a drop only after it has accepted the entry), then the drop.

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QPoint>
#include <QWidget>

namespace tessaline::apptest {

/// Sends the entry and then the drop of `mime` at `at`; returns whether the entry was accepted.
inline bool DropMime(QWidget& target, QMimeData& mime, QPoint at = QPoint(20, 300))
{
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &enter);
    const bool accepted = enter.isAccepted();
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &drop);
    return accepted;
}

} // namespace tessaline::apptest
