#pragma once
// app/view_state.h: what the compared views share, the zoom and the scroll position (the
// document point at their top-left, in zoomed image pixels). Every view that observes one
// ViewState writes each scroll of its own into it (arrows, pages, thumb drags, the wheel, the
// keyboard) and follows every change it announces, so no view moves another behind its back.
// UI thread only.

#include <QObject>
#include <QPoint>

namespace tessaline {

class ViewState : public QObject
{
    Q_OBJECT

public:
    explicit ViewState(QObject* parent = nullptr) : QObject(parent) {}

    int Zoom() const { return zoom; }
    QPoint Position() const { return position; }

    /// Magnification 1 or more (smaller factors are ignored); always returns to the origin, even
    /// at the same zoom, and announces both.
    void SetZoom(int z);
    /// Announces a position that differs from the current one.
    void SetPosition(QPoint p);

signals:
    void zoomChanged(int zoom);
    void positionChanged(QPoint position);

private:
    int zoom = 1;
    QPoint position;
};

} // namespace tessaline
