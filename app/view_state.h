#pragma once
// app/view_state.h: what the compared views share, the scale and the scroll position (the
// document point at their top-left, in scaled image pixels). The scale is a whole magnification
// (zoom, each image pixel a zoom x zoom block) or a whole reduction (shrink, shrink x shrink
// image pixels to one), or, for the fit alone, a reduction by zoom / shrink (both above 1, zoom
// less than shrink) that fills a pane exactly. Every view that observes one
// ViewState writes each scroll of its own into it (arrows, pages, thumb drags, the wheel, the
// keyboard) and follows every change it announces, so no view moves another behind its back.
// UI thread only.

#include <utility>

#include <QObject>
#include <QPoint>
#include <QSize>

namespace tessaline {

class ViewState : public QObject
{
    Q_OBJECT

public:
    explicit ViewState(QObject* parent = nullptr) : QObject(parent) {}

    int Zoom() const { return zoom; }
    int Shrink() const { return shrink; }
    QPoint Position() const { return position; }

    /// Magnification 1 or more (smaller factors are ignored), shrink 1; always returns to the
    /// origin, even at the same zoom, and announces both.
    void SetZoom(int z);
    /// Reduction 1 or more (smaller divisors are ignored), zoom 1; as SetZoom otherwise.
    void SetShrink(int d);
    /// The scale zoom / shrink (both 1 or more; a fit's reduction); as SetZoom otherwise.
    void SetScale(int z, int d);
    /// Announces a position that differs from the current one.
    void SetPosition(QPoint p);

signals:
    /// The scale changed (zoom or shrink; read both).
    void zoomChanged(int zoom);
    void positionChanged(QPoint position);

private:
    void Announce();

    int zoom = 1;
    int shrink = 1;
    QPoint position;
};

/// The scale at which an image of `image` pixels is seen whole in a viewport of `viewport`
/// pixels: the largest whole zoom up to `maxZoom` when it fits at 1, else the largest reduction
/// zoom / shrink (in 1/256 steps, the fraction in lowest terms) at which it fits, so that it
/// fills the viewport's width or height. Returned as (zoom, shrink).
std::pair<int, int> FitScale(QSize image, QSize viewport, int maxZoom = 32);

/// The reduction at which one image pixel is one device pixel on a screen of `deviceRatio`
/// device pixels per view pixel: the ratio itself when it is a whole number, else 1 (no whole
/// reduction matches a fractional scale; x 1 is then the closest to it without averaging).
int DotShrink(double deviceRatio);

} // namespace tessaline
