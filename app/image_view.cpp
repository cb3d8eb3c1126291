#include "app/image_view.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <tuple>
#include <utility>

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>

#include "app/view_state.h"

namespace tessaline {

namespace {

constexpr int TileSize = 16;
constexpr int BrushRadius = 5;
constexpr int BrushDiameter = 11;

// Integer division rounding towards minus infinity, so that points left of or above the origin
// map to negative pixels instead of pixel 0.
int FloorDiv(int value, int divisor)
{
    const int quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

} // namespace

void FillCheckerboard(QPainter& painter, const QRect& rect, QPoint origin)
{
    if (rect.isEmpty())
        return;
    // One textured fill instead of a fillRect per tile: a tile of two by two squares repeats
    // from the brush origin, so the pattern stays fixed to `origin` whatever part is filled.
    static const QImage pattern = [] {
        QImage tile(2 * TileSize, 2 * TileSize, QImage::Format_RGB32);
        tile.fill(QColor(255, 255, 255));
        const QColor grey(204, 204, 204);
        for (int y = 0; y < 2 * TileSize; ++y)
            for (int x = 0; x < 2 * TileSize; ++x)
                if ((x / TileSize + y / TileSize) % 2 == 1)
                    tile.setPixelColor(x, y, grey);
        return tile;
    }();
    const QPoint oldOrigin = painter.brushOrigin();
    painter.setBrushOrigin(origin);
    painter.fillRect(rect, QBrush(pattern));
    painter.setBrushOrigin(oldOrigin);
}

void FillCheckerboard(QPainter& painter, const QRect& rect)
{
    FillCheckerboard(painter, rect, rect.topLeft());
}

void PaintZoomed(QPainter& painter, const QImage& image, int zoom, const QRect& area)
{
    if (image.isNull() || area.isEmpty() || zoom < 1)
        return;
    const QPoint first(FloorDiv(area.left(), zoom), FloorDiv(area.top(), zoom));
    const QPoint last(FloorDiv(area.right(), zoom), FloorDiv(area.bottom(), zoom));
    const QRect source = QRect(first, last).intersected(image.rect());
    if (source.isEmpty())
        return;
    const QRect destination(source.topLeft() * zoom, source.size() * zoom);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(destination, image, source);
}

void PaintShrunk(QPainter& painter, const QImage& image, int shrink, const QRect& area, const ReducedCopies* copies,
                 int zoom, double deviceRatio)
{
    if (image.isNull() || area.isEmpty() || shrink < 1 || zoom < 1)
        return;
    // Image pixels per document pixel, and per device pixel.
    const double factor = double(shrink) / zoom;
    const double perDevice = factor / std::max(1.0, deviceRatio);
    if (perDevice == 1.0) {
        // One image pixel per device pixel: drawn as it is, so dithering is seen as it is.
        const QRect source = QRectF(QPointF(area.topLeft()) * factor, QSizeF(area.size()) * factor)
                                 .toAlignedRect()
                                 .intersected(image.rect());
        if (source.isEmpty())
            return;
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(QRectF(QPointF(source.topLeft()) / factor, QSizeF(source.size()) / factor), image,
                          QRectF(source));
        return;
    }
    if (copies && copies->of == image.cacheKey() && factor > 1) {
        // The finest picture no finer than needed: the image itself below 1/2, else the copy at
        // 1/level with level the largest power of two not above the factor.
        const QImage* copy = &image;
        int level = 1;
        for (std::size_t index = 0; index < copies->levels.size() && level * 2 <= factor; ++index) {
            copy = &copies->levels[index];
            level *= 2;
        }
        // Document point p shows image point p * factor, which is copy point p * factor / level.
        const double ratio = factor / level;
        const QRect source = QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio)
                                 .toAlignedRect()
                                 .intersected(copy->rect());
        if (source.isEmpty())
            return;
        if (long(zoom) * level == shrink) {
            painter.drawImage(source.topLeft() / ratio, *copy, source);
            return;
        }
        // In between, the copy is averaged down once more (QImage's smooth scaling averages
        // areas when it reduces, where the painter's would interpolate between samples). Only
        // the covered part is scaled, so a paint costs what the view shows.
        const QSize size(std::max(1, int(std::lround(source.width() / ratio))),
                         std::max(1, int(std::lround(source.height() / ratio))));
        painter.drawImage(QPointF(source.topLeft()) / ratio,
                          copy->copy(source).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        return;
    }
    const QRect source = QRectF(QPointF(area.topLeft()) * factor, QSizeF(area.size()) * factor)
                             .toAlignedRect()
                             .intersected(image.rect());
    if (source.isEmpty())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRectF(QPointF(source.topLeft()) / factor, QSizeF(source.size()) / factor), image,
                      QRectF(source));
}

CImageView::CImageView(QWidget* parent) : QAbstractScrollArea(parent)
{
    // Painting covers the whole viewport, so Qt need not clear it first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    SetScrollSize(200, 200);
    // Every way of scrolling (arrows, pages, thumb, wheel, keyboard) ends in a new value.
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &CImageView::OnScrolled);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &CImageView::OnScrolled);
}

void CImageView::SetViewState(ViewState* shared)
{
    if (state)
        disconnect(state, nullptr, this, nullptr);
    state = shared;
    if (!state)
        return;
    connect(state, &ViewState::zoomChanged, this, [this] { ApplyScale(state->Zoom(), state->Shrink()); });
    connect(state, &ViewState::positionChanged, this, &CImageView::ApplyPosition);
    connect(state, &QObject::destroyed, this, [this] { state = nullptr; });
    if (state->Zoom() != zoom || state->Shrink() != shrink)
        ApplyScale(state->Zoom(), state->Shrink());
    ApplyPosition(state->Position());
}

void CImageView::ApplyPosition(QPoint position)
{
    // A view smaller than the other clamps the position to its own range; that clamped value must
    // not travel back and pull the larger view with it.
    applyingState = true;
    horizontalScrollBar()->setValue(position.x());
    verticalScrollBar()->setValue(position.y());
    applyingState = false;
}

void CImageView::OnScrolled()
{
    if (state && !applyingState)
        state->SetPosition(ScrollPosition());
}

void CImageView::scrollContentsBy(int dx, int dy)
{
    // Everything but the empty view's checkerboard is fixed to the document, so what stays in
    // sight can be moved as it is and only the uncovered strip painted.
    if (bitmap.isNull())
        viewport()->update();
    else
        viewport()->scroll(dx, dy);
}

void CImageView::SetHint(const QString& text)
{
    hint = text;
    viewport()->update();
}

void CImageView::SetScrollSize(int width, int height)
{
    extent = QSize(std::max(width, 1), std::max(height, 1));
    UpdateScrollRanges();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

void CImageView::UpdateScrollRanges()
{
    const QSize visible = viewport()->size();
    // Steps are screen distances, whatever the zoom: an arrow key or a wheel notch (three
    // steps) moves a few lines of the screen, a page key one view less a step of overlap.
    for (auto [bar, length, room] : {std::tuple{horizontalScrollBar(), extent.width(), visible.width()},
                                     std::tuple{verticalScrollBar(), extent.height(), visible.height()}}) {
        bar->setRange(0, std::max(length - room, 0));
        bar->setSingleStep(ScrollStep);
        bar->setPageStep(std::max(room - ScrollStep, ScrollStep));
    }
}

QSize CImageView::DocumentSize() const
{
    // A partly covered last document pixel still shows the image pixels it holds.
    const auto scaled = [this](int length) { return (length * zoom + shrink - 1) / shrink; };
    return QSize(scaled(bitmap.width()), scaled(bitmap.height()));
}

void CImageView::SetBitmap(QImage image, ReducedCopies reduced)
{
    bitmap = std::move(image);
    bitmapCopies = std::move(reduced);
    viewport()->update();
    if (bitmap.isNull())
        return;
    const QSize document = DocumentSize();
    if (document == extent)
        return;
    if (!state) {
        SetScrollSize(document.width(), document.height());
        return;
    }
    // A view sharing its place joins the shared position rather than pulling every view back to
    // the origin: a result that arrives while the source is scrolled shows the same part. Whoever
    // shows a new image puts the shared position where it wants it.
    applyingState = true;
    SetScrollSize(document.width(), document.height());
    applyingState = false;
    ApplyPosition(state->Position());
}

void CImageView::SetZoom(int z)
{
    if (z < 1)
        return;
    if (state)
        state->SetZoom(z); // comes back through ApplyScale, to every view alike
    else
        ApplyScale(z, 1);
}

void CImageView::SetShrink(int d)
{
    if (d < 1)
        return;
    if (state)
        state->SetShrink(d);
    else
        ApplyScale(1, d);
}

void CImageView::ApplyScale(int z, int d)
{
    zoom = z;
    shrink = d;
    // Scrolling back to the origin moves the old picture along; all of it is out of date.
    viewport()->update();
    if (!bitmap.isNull()) {
        const QSize document = DocumentSize();
        SetScrollSize(document.width(), document.height()); // always: back to the origin
    }
}

void CImageView::SetAlternate(QImage image, ReducedCopies reduced)
{
    // The same picture again (a difference map shown anew) keeps the copies made of it.
    if (!reduced.Empty() || image.cacheKey() != alternateCopies.of)
        alternateCopies = std::move(reduced);
    alternate = std::move(image);
    viewport()->update();
}

void CImageView::SetHighlight(QImage image)
{
    highlight = std::move(image);
    viewport()->update();
}

void CImageView::SetWeightVisible(bool visible)
{
    weightVisible = visible;
    viewport()->update();
}

void CImageView::CreateWeightMap()
{
    weightMap = QImage();
    if (bitmap.isNull())
        return;
    weightMap = QImage(bitmap.size(), QImage::Format_ARGB32);
    if (weightMap.isNull())
        throw std::bad_alloc();
    weightMap.fill(Qt::transparent);
    viewport()->update();
}

bool CImageView::SetWeightMap(QImage map)
{
    if (bitmap.isNull() || map.size() != bitmap.size())
        return false;
    weightMap = map.convertToFormat(QImage::Format_ARGB32);
    viewport()->update();
    return true;
}

void CImageView::ClearWeights()
{
    if (weightMap.isNull())
        return;
    weightMap.fill(Qt::transparent);
    viewport()->repaint();
}

QPoint CImageView::ScrollPosition() const
{
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

QPoint CImageView::ViewToImage(QPoint view) const
{
    const QPoint document = view + ScrollPosition();
    return QPoint(FloorDiv(document.x() * shrink, zoom), FloorDiv(document.y() * shrink, zoom));
}

QPoint CImageView::ImageToView(QPoint image) const
{
    return QPoint(FloorDiv(image.x() * zoom, shrink), FloorDiv(image.y() * zoom, shrink)) - ScrollPosition();
}

void CImageView::StampBrush(QPainter& painter, QPoint centre)
{
    painter.drawEllipse(centre.x() - BrushRadius, centre.y() - BrushRadius, BrushDiameter, BrushDiameter);
}

void CImageView::PaintWeight(int x, int y)
{
    const QPoint centre = ViewToImage(QPoint(x, y));
    PaintStroke(centre, centre);
}

void CImageView::PaintStroke(QPoint fromImage, QPoint toImage)
{
    if (!weightVisible || weightMap.isNull() || brushLocked)
        return;
    {
        QPainter painter(&weightMap);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 255));
        // One stamp per image pixel along the longer axis: consecutive circles overlap, so the
        // trace has no gaps and is exactly what a slow stroke over the same pixels would leave.
        const QPoint delta = toImage - fromImage;
        const int steps = std::max(std::abs(delta.x()), std::abs(delta.y()));
        for (int i = 0; i <= steps; ++i) {
            const QPoint offset = steps == 0 ? QPoint(0, 0)
                                             : QPoint(int(std::lround(double(delta.x()) * i / steps)),
                                                      int(std::lround(double(delta.y()) * i / steps)));
            StampBrush(painter, fromImage + offset);
        }
    }
    // Only the zoomed brush area along the stroke needs drawing again.
    const QRect pixels =
        QRect(fromImage, toImage).normalized().adjusted(-BrushRadius, -BrushRadius, BrushRadius, BrushRadius);
    viewport()->update(QRect(ImageToView(pixels.topLeft()), ImageToView(pixels.bottomRight() + QPoint(1, 1)))
                           .adjusted(-1, -1, 1, 1));
}

void CImageView::paintEvent(QPaintEvent* event)
{
    // Qt draws widgets through a back buffer, so painting straight onto the viewport does not
    // flicker. Everything is limited to the area Qt asks for, which a brush stroke keeps small.
    QPainter painter(viewport());
    const QRect dirty = event->rect();
    if (bitmap.isNull()) {
        FillCheckerboard(painter, dirty, QPoint(0, 0));
        if (!hint.isEmpty())
            PaintHint(painter);
        return;
    }

    const QPoint scroll = ScrollPosition();
    painter.translate(-scroll); // draw in document coordinates
    const QRect area = dirty.translated(scroll);
    const QRect imageArea(QPoint(0, 0), DocumentSize());
    // Beside and below a small image the viewport shows the window colour.
    for (const QRect& outside : QRegion(area).subtracted(QRegion(imageArea)))
        painter.fillRect(outside, palette().color(QPalette::Window));
    const QRect shown = area.intersected(imageArea);
    FillCheckerboard(painter, shown, QPoint(0, 0));
    const auto paint = [&](const QImage& image, ReducedCopies* copies) {
        if (shrink > zoom && copies && copies->of != image.cacheKey()) {
            // Not made beforehand (a difference map, a bitmap handed in bare): made once now.
            try {
                *copies = MakeReducedCopies(image);
            } catch (const std::bad_alloc&) {
                *copies = ReducedCopies(); // drawn sampled instead
            }
        }
        if (shrink > zoom)
            PaintShrunk(painter, image, shrink, shown, copies, zoom, viewport()->devicePixelRatioF());
        else
            PaintZoomed(painter, image, zoom, shown);
    };
    const bool showAlternate = alternate.size() == bitmap.size();
    if (showAlternate)
        paint(alternate, &alternateCopies);
    else
        paint(bitmap, &bitmapCopies);
    if (highlight.size() == bitmap.size())
        paint(highlight, nullptr);
    if (weightVisible && !weightMap.isNull())
        paint(weightMap, nullptr);
}

void CImageView::PaintHint(QPainter& painter)
{
    // On a plate of the window colour, so that it reads over both checkerboard colours.
    const QRect client = viewport()->rect();
    QRect box = painter.fontMetrics().boundingRect(client.adjusted(16, 16, -16, -16),
                                                   Qt::AlignCenter | Qt::TextWordWrap, hint);
    box.adjust(-12, -8, 12, 8);
    painter.fillRect(box, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, hint);
}

void CImageView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRanges();
}

void CImageView::PaintAt(QPoint viewPoint)
{
    // The view takes no mouse grab of its own: painting stops at the viewport's edge, and a stroke
    // that comes back in starts afresh rather than joining across the outside.
    if (!viewport()->rect().contains(viewPoint)) {
        strokePoint.reset();
        return;
    }
    const QPoint centre = ViewToImage(viewPoint);
    PaintStroke(strokePoint.value_or(centre), centre);
    strokePoint = centre;
}

void CImageView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && !weightMap.isNull()) {
        strokePoint.reset();
        PaintAt(event->position().toPoint());
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void CImageView::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && !weightMap.isNull())
        PaintAt(event->position().toPoint());
    if (!hasFocus())
        setFocus(Qt::MouseFocusReason);
    QAbstractScrollArea::mouseMoveEvent(event);
}

void CImageView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && !weightMap.isNull())
        PaintAt(event->position().toPoint());
    strokePoint.reset();
    QAbstractScrollArea::mouseReleaseEvent(event);
}

} // namespace tessaline
