#pragma once
// app/image_view.h: a scrolling view of one ARGB32 image magnified by an integer zoom over a
// checkerboard. Document coordinates are zoomed image pixels with the origin at the image's
// top-left; the scroll position is the document point at the viewport's top-left. The source
// view also owns the user-weight map (alpha = weight) that the left mouse button paints.
// UI thread only.

#include <utility>

#include <QAbstractScrollArea>
#include <QImage>

class QPainter;

namespace tessaline {

class CImageView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit CImageView(QWidget* parent = nullptr);

    /// Shows `image` (ARGB32; a null image shows nothing). A new extent returns the view to the
    /// origin; one of the same size keeps the scroll position. The caller redraws.
    void SetBitmap(QImage image);
    const QImage& Bitmap() const { return bitmap; }

    /// Magnification 1 or more; smaller factors are ignored. With an image, returns to the origin.
    void SetZoom(int z);
    int Zoom() const { return zoom; }

    /// The other view, which follows this one's line, page, top and bottom scrolling. Not owned.
    void SetPartner(CImageView* other) { partner = other; }

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
    /// An image of another size is not shown. The caller redraws.
    void SetAlternate(QImage image) { alternate = std::move(image); }
    const QImage& Alternate() const { return alternate; }
    /// An image of the bitmap's size drawn over whatever is shown (a highlight); null for none.
    void SetHighlight(QImage image) { highlight = std::move(image); }
    const QImage& Highlight() const { return highlight; }

    /// While true the weight map is drawn over the image and the mouse paints into it.
    void SetWeightVisible(bool visible) { weightVisible = visible; }
    bool WeightVisible() const { return weightVisible; }

    /// Fills the 11-pixel brush circle centred on the image pixel under viewport point (x, y).
    void PaintWeight(int x, int y);

    /// Viewport point to image pixel and image pixel to viewport point at the current zoom and
    /// scroll position; painting, scrolling and the brush all go through these two.
    QPoint ViewToImage(QPoint view) const;
    QPoint ImageToView(QPoint image) const;

    /// The scroll position in document coordinates.
    QPoint ScrollPosition() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void SetScrollSize(int width, int height);
    void UpdateScrollRanges();
    void FollowPartner(Qt::Orientation orientation, int action);
    void PaintAt(QPoint viewPoint);

    QImage bitmap;
    QImage weightMap;
    QImage alternate;
    QImage highlight;
    CImageView* partner = nullptr;
    bool weightVisible = false;
    int zoom = 1;
    QSize extent{200, 200}; ///< scroll extent in document pixels
    bool following = false; ///< set while a partner's action is being copied, to stop echoes
};

/// Fills `rect` with 16 x 16 tiles from its top-left, white and light grey alternating along a row
/// and from row to row, cut at the right and bottom edges.
void FillCheckerboard(QPainter& painter, const QRect& rect);

} // namespace tessaline
