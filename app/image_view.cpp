#include "app/image_view.h"

#include <algorithm>
#include <new>
#include <utility>

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

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

void FillCheckerboard(QPainter& painter, const QRect& rect)
{
    const QColor white(255, 255, 255);
    const QColor grey(204, 204, 204);
    int row = 0;
    for (int y = rect.top(); y <= rect.bottom(); y += TileSize, ++row) {
        int column = 0;
        for (int x = rect.left(); x <= rect.right(); x += TileSize, ++column) {
            const QRect tile = QRect(x, y, TileSize, TileSize).intersected(rect);
            painter.fillRect(tile, ((row + column) % 2 == 0) ? white : grey);
        }
    }
}

CImageView::CImageView(QWidget* parent) : QAbstractScrollArea(parent)
{
    // Painting covers the whole viewport, so Qt need not clear it first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    SetScrollSize(200, 200);
    // Before the first image the steps are fixed ones, not fractions of the extent.
    for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()}) {
        bar->setSingleStep(10);
        bar->setPageStep(100);
    }
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { FollowPartner(Qt::Horizontal, action); });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { FollowPartner(Qt::Vertical, action); });
}

void CImageView::SetScrollSize(int width, int height)
{
    extent = QSize(std::max(width, 1), std::max(height, 1));
    for (auto [bar, length] : {std::pair{horizontalScrollBar(), extent.width()},
                               std::pair{verticalScrollBar(), extent.height()}}) {
        bar->setSingleStep(std::max(length / 100, 1));
        bar->setPageStep(std::max(length / 10, 1));
    }
    UpdateScrollRanges();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

void CImageView::UpdateScrollRanges()
{
    const QSize visible = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(extent.width() - visible.width(), 0));
    verticalScrollBar()->setRange(0, std::max(extent.height() - visible.height(), 0));
}

void CImageView::SetBitmap(QImage image)
{
    bitmap = std::move(image);
    if (bitmap.isNull())
        return;
    const QSize zoomed(zoom * bitmap.width(), zoom * bitmap.height());
    if (zoomed != extent)
        SetScrollSize(zoomed.width(), zoomed.height());
}

void CImageView::SetZoom(int z)
{
    if (z < 1)
        return;
    zoom = z;
    if (!bitmap.isNull())
        SetScrollSize(z * bitmap.width(), z * bitmap.height()); // always: back to the origin
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
}

bool CImageView::SetWeightMap(QImage map)
{
    if (bitmap.isNull() || map.size() != bitmap.size())
        return false;
    weightMap = map.convertToFormat(QImage::Format_ARGB32);
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
    return QPoint(FloorDiv(document.x(), zoom), FloorDiv(document.y(), zoom));
}

QPoint CImageView::ImageToView(QPoint image) const
{
    return image * zoom - ScrollPosition();
}

void CImageView::PaintWeight(int x, int y)
{
    if (!weightVisible || weightMap.isNull())
        return;
    const QPoint centre = ViewToImage(QPoint(x, y));
    {
        QPainter painter(&weightMap);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 255));
        painter.drawEllipse(centre.x() - BrushRadius, centre.y() - BrushRadius, BrushDiameter, BrushDiameter);
    }
    // Only the zoomed brush area needs drawing again.
    const QPoint corner = ImageToView(centre - QPoint(BrushRadius, BrushRadius));
    viewport()->update(QRect(corner, QSize(BrushDiameter * zoom, BrushDiameter * zoom)).adjusted(-1, -1, 1, 1));
}

void CImageView::paintEvent(QPaintEvent*)
{
    QPainter target(viewport());
    const QRect client = viewport()->rect();
    if (bitmap.isNull()) {
        FillCheckerboard(target, client);
        return;
    }

    // One off-screen image per paint: the checkerboard and the image never flicker.
    const QPoint scroll = ScrollPosition();
    QImage offscreen(client.size(), QImage::Format_ARGB32_Premultiplied);
    offscreen.fill(palette().color(QPalette::Window)); // outside a small image
    {
        QPainter painter(&offscreen);
        painter.translate(-scroll); // draw in document coordinates
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        const QSize zoomed(zoom * bitmap.width(), zoom * bitmap.height());
        FillCheckerboard(painter, QRect(QPoint(0, 0), zoomed));

        // Only the visible part is scaled, widened to whole zoomed pixels so that a partly
        // visible pixel at the left or top is drawn whole rather than shrunk.
        const QPoint first = ViewToImage(QPoint(0, 0));
        const QPoint last = ViewToImage(QPoint(client.width() - 1, client.height() - 1));
        const QRect source = QRect(first, last).intersected(bitmap.rect());
        if (!source.isEmpty()) {
            const QRect destination(source.topLeft() * zoom, source.size() * zoom);
            const bool showAlternate = alternate.size() == bitmap.size();
            painter.drawImage(destination, showAlternate ? alternate : bitmap, source);
            if (highlight.size() == bitmap.size())
                painter.drawImage(destination, highlight, source);
            if (weightVisible && !weightMap.isNull())
                painter.drawImage(destination, weightMap, source);
        }
    }
    target.drawImage(0, 0, offscreen);
}

void CImageView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRanges();
}

void CImageView::FollowPartner(Qt::Orientation orientation, int action)
{
    // Line, page, top and bottom requests move both views; a thumb drag or the wheel
    // (SliderMove) moves only the view it happens in.
    if (!partner || following)
        return;
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
    case QAbstractSlider::SliderSingleStepSub:
    case QAbstractSlider::SliderPageStepAdd:
    case QAbstractSlider::SliderPageStepSub:
    case QAbstractSlider::SliderToMinimum:
    case QAbstractSlider::SliderToMaximum:
        break;
    default:
        return;
    }
    QScrollBar* bar = orientation == Qt::Horizontal ? partner->horizontalScrollBar()
                                                    : partner->verticalScrollBar();
    partner->following = true;
    bar->triggerAction(static_cast<QAbstractSlider::SliderAction>(action));
    partner->following = false;
}

void CImageView::PaintAt(QPoint viewPoint)
{
    // The view takes no mouse grab of its own: painting stops at the viewport's edge.
    if (viewport()->rect().contains(viewPoint))
        PaintWeight(viewPoint.x(), viewPoint.y());
}

void CImageView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && !weightMap.isNull())
        PaintAt(event->position().toPoint());
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
    QAbstractScrollArea::mouseReleaseEvent(event);
}

} // namespace tessaline
