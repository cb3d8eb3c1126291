#pragma once
// app/image_view.h: a scrolling view of one ARGB32 image over a checkerboard, magnified by a whole
// zoom (nearest neighbour, each image pixel a whole block) or reduced by a whole shrink (smoothly,
// to see a large image whole). Document coordinates are scaled image pixels with the origin at
// the image's top-left; the scroll position is the document point at the viewport's top-left.
// The source view also owns the user-weight map (alpha = weight) that the left mouse button
// paints. Every change of what is shown (image, scale, overlay) repaints the whole viewport, so
// a scroll, which moves what is on screen and paints only the uncovered strip, never meets an
// outdated picture. UI thread only.

#include <optional>
#include <utility>

#include <QAbstractScrollArea>
#include <QImage>
#include <QString>

#include "app/reduced_copies.h"

class QPainter;

namespace tessaline {

class ViewState;

class CImageView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    /// Screen pixels one arrow key moves the view (a wheel notch moves three).
    static constexpr int ScrollStep = 20;

    explicit CImageView(QWidget* parent = nullptr);

    /// Shows `image` (ARGB32; a null image shows nothing). A new extent returns the view to the
    /// origin (with a view state: to the shared position); one of the same size keeps the scroll
    /// position.
    /// `reduced` are the image's area-averaged copies when the caller made them (off the UI
    /// thread); without them the view makes its own the first time it shows the image reduced.
    void SetBitmap(QImage image, ReducedCopies reduced = {});
    const QImage& Bitmap() const { return bitmap; }
    /// The bitmap's area-averaged copies, as far as they have been made.
    const ReducedCopies& BitmapCopies() const { return bitmapCopies; }

    /// Magnification 1 or more; smaller factors are ignored. With an image, returns to the origin.
    /// With a view state the zoom goes through it, so every view observing it follows.
    void SetZoom(int z);
    int Zoom() const { return zoom; }
    /// Reduction 1 or more (the image seen at 1/d), otherwise as SetZoom.
    void SetShrink(int d);
    int Shrink() const { return shrink; }

    /// The zoom and scroll position this view shares with others (not owned; null for none).
    /// The view takes the state's zoom and position at once, and from then on writes every scroll
    /// of its own into it and follows every change of it.
    void SetViewState(ViewState* shared);

    /// A short text shown over the checkerboard while the view has no image.
    void SetHint(const QString& text);
    const QString& Hint() const { return hint; }

    /// Replaces the weight map by a fully transparent one of the image's size (none without image).
    void CreateWeightMap();
    /// Sets every weight to 0 and redraws.
    void ClearWeights();
    /// The weight map, or a null image when there is none.
    const QImage& WeightMap() const { return weightMap; }

    /// Replaces the weight map by `map` (ARGB32 of the image's size; alpha is the weight). False,
    /// changing nothing, for another size or when there is no image.
    bool SetWeightMap(QImage map);

    /// An image of the bitmap's size shown in its place (the source for a blink comparison, the
    /// difference heat map), at the same zoom and scroll; a null image shows the bitmap again.
    /// An image of another size is not shown.
    void SetAlternate(QImage image, ReducedCopies reduced = {});
    const QImage& Alternate() const { return alternate; }
    /// An image of the bitmap's size drawn over whatever is shown (a highlight); null for none.
    void SetHighlight(QImage image);
    const QImage& Highlight() const { return highlight; }

    /// While true the weight map is drawn over the image and the mouse paints into it.
    void SetWeightVisible(bool visible);
    bool WeightVisible() const { return weightVisible; }
    /// While true the brush does nothing (the job has taken the weights; a reduction runs).
    void SetBrushLocked(bool locked) { brushLocked = locked; }

    /// Fills the 11-pixel brush circle centred on the image pixel under viewport point (x, y).
    void PaintWeight(int x, int y);
    /// Fills brush circles at every image pixel on the line between two image points, both ends
    /// included, so that a fast stroke leaves a joined trace rather than separate dots.
    void PaintStroke(QPoint fromImage, QPoint toImage);

    /// Viewport point to image pixel and image pixel to viewport point at the current zoom and
    /// scroll position; painting, scrolling and the brush all go through these two.
    QPoint ViewToImage(QPoint view) const;
    QPoint ImageToView(QPoint image) const;

    /// The scroll position in document coordinates.
    QPoint ScrollPosition() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void ApplyScale(int z, int d);
    QSize DocumentSize() const;
    void ApplyPosition(QPoint position);
    void OnScrolled();
    void SetScrollSize(int width, int height);
    void UpdateScrollRanges();
    void PaintAt(QPoint viewPoint);
    void StampBrush(QPainter& painter, QPoint centre);
    void PaintHint(QPainter& painter);

    QImage bitmap;
    QImage weightMap;
    QImage alternate;
    ReducedCopies bitmapCopies;
    ReducedCopies alternateCopies;
    QImage highlight;
    ViewState* state = nullptr;
    QString hint;
    bool weightVisible = false;
    bool brushLocked = false;
    int zoom = 1;
    int shrink = 1;
    QSize extent{200, 200};            ///< scroll extent in document pixels
    bool applyingState = false;        ///< set while the state's position is applied, to stop echoes
    std::optional<QPoint> strokePoint; ///< image point the current brush stroke last reached
};

/// Fills `rect` with 16 x 16 tiles laid from `origin` (which need not lie inside it), white and
/// light grey alternating along a row and from row to row, the tile at `origin` white; tiles are
/// cut at the edges of `rect`.
void FillCheckerboard(QPainter& painter, const QRect& rect, QPoint origin);
/// The same with the tiles laid from the top-left of `rect`.
void FillCheckerboard(QPainter& painter, const QRect& rect);

/// Draws the part of `image` that `area` covers, `area` being in document coordinates (image
/// pixels times `zoom`, as is the painter), with each image pixel a whole zoom x zoom block,
/// nearest-neighbour: partly covered pixels at the edges are drawn whole, so the drawing may
/// reach up to zoom - 1 pixels beyond `area`. Only the covered part of the image is scaled, so a
/// paint costs the same at every zoom.
void PaintZoomed(QPainter& painter, const QImage& image, int zoom, const QRect& area);

/// The same for a reduced view, `area` in document coordinates of the image shrunk by `shrink`.
/// With `copies` of this image, each document pixel shows the area average of the image pixels
/// under it (exactly at 1/2, 1/4, 1/8...; in between, the nearest finer copy scaled smoothly),
/// so thin lines and dithering read as they average. Without, the covered image pixels are drawn
/// smoothly scaled down.
/// `zoom` (below `shrink`) makes the scale zoom / shrink, a fit's reduction.
/// `deviceRatio` is the painter's device pixels per document pixel: where one image pixel falls on
/// exactly one device pixel (ドット等倍 on a scaled screen) the image itself is drawn pixel for
/// pixel, nothing averaged or interpolated.
void PaintShrunk(QPainter& painter, const QImage& image, int shrink, const QRect& area,
                 const ReducedCopies* copies = nullptr, int zoom = 1, double deviceRatio = 1.0);

} // namespace tessaline
