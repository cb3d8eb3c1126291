#include "app/palette_strip.h"

#include <algorithm>

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "app/ui_texts.h"

namespace tessaline {

namespace {

constexpr int LargestCell = 24;
constexpr int SmallestCell = 3;

} // namespace

CPaletteStrip::CPaletteStrip(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumHeight(2 * 12);
    setToolTip(texts::PaletteStripTip());
}

void CPaletteStrip::SetEntries(std::vector<QRgb> newColours, std::vector<std::uint64_t> newPixels)
{
    const std::size_t count = std::min(newColours.size(), newPixels.size());
    newColours.resize(count);
    newPixels.resize(count);
    colours = std::move(newColours);
    pixels = std::move(newPixels);
    selected = -1;
    Layout();
    update();
}

void CPaletteStrip::Layout()
{
    // The largest square cell with which every entry fits into the strip.
    const int n = std::max(EntryCount(), 1);
    cell = SmallestCell;
    for (int side = LargestCell; side > SmallestCell; --side) {
        const int perRow = std::max(width() / side, 1);
        if ((n + perRow - 1) / perRow * side <= height()) {
            cell = side;
            break;
        }
    }
    columns = std::max(width() / cell, 1);
}

void CPaletteStrip::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Layout();
}

QRect CPaletteStrip::EntryRect(int index) const
{
    if (index < 0 || index >= EntryCount())
        return QRect();
    return QRect((index % columns) * cell, (index / columns) * cell, cell, cell);
}

int CPaletteStrip::EntryAt(QPoint point) const
{
    if (point.x() < 0 || point.y() < 0 || point.x() >= columns * cell)
        return -1;
    const int index = (point.y() / cell) * columns + point.x() / cell;
    return index < EntryCount() ? index : -1;
}

QString CPaletteStrip::EntryText(int index) const
{
    const QRgb c = EntryColour(index);
    return texts::PaletteEntryTip(index, qRed(c), qGreen(c), qBlue(c), qAlpha(c), EntryPixels(index)) +
           (IsLocked(index) ? texts::LockedEntry() : QString());
}

bool CPaletteStrip::IsLocked(int index) const
{
    return index >= 0 && index < EntryCount() &&
           std::find(locked.begin(), locked.end(), EntryColour(index)) != locked.end();
}

void CPaletteStrip::ClearLocks()
{
    if (locked.empty())
        return;
    locked.clear();
    update();
    emit locksChanged();
}

void CPaletteStrip::ToggleLock(int index)
{
    if (index < 0 || index >= EntryCount())
        return;
    const QRgb colour = EntryColour(index);
    if (const auto at = std::find(locked.begin(), locked.end(), colour); at != locked.end())
        locked.erase(at);
    else
        locked.push_back(colour);
    update();
    emit locksChanged();
}

void CPaletteStrip::Select(int index)
{
    if (index < -1 || index >= EntryCount())
        index = -1;
    if (index == selected)
        return;
    selected = index;
    update();
    emit selectionChanged(selected);
}

bool CPaletteStrip::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int index = EntryAt(help->pos());
        if (index >= 0)
            QToolTip::showText(help->globalPos(), EntryText(index), this, EntryRect(index));
        else
            QToolTip::showText(help->globalPos(), toolTip(), this);
        return true;
    }
    return QWidget::event(event);
}

void CPaletteStrip::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
        return ToggleLock(EntryAt(event->position().toPoint()));
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const int index = EntryAt(event->position().toPoint());
    Select(index == selected ? -1 : index);
}

void CPaletteStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const QColor white(255, 255, 255);
    const QColor grey(204, 204, 204);
    for (int i = 0; i < EntryCount(); ++i) {
        const QRect r = EntryRect(i);
        const QRgb c = EntryColour(i);
        if (qAlpha(c) < 255) {
            // A translucent entry over a small checkerboard, as the views show transparency.
            const int half = std::max(cell / 2, 1);
            painter.fillRect(r, white);
            painter.fillRect(QRect(r.left() + half, r.top(), r.width() - half, half), grey);
            painter.fillRect(QRect(r.left(), r.top() + half, half, r.height() - half), grey);
        }
        painter.fillRect(r, QColor::fromRgba(c));
        if (IsLocked(i)) {
            // A white square edged in black shows on any colour.
            const int mark = std::max(cell / 3, 3);
            painter.fillRect(QRect(r.left(), r.top(), mark, mark), Qt::black);
            painter.fillRect(QRect(r.left() + 1, r.top() + 1, mark - 2, mark - 2), Qt::white);
        }
    }
    if (selected >= 0) {
        const QRect r = EntryRect(selected).adjusted(0, 0, -1, -1);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::black, 1));
        painter.drawRect(r);
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(r.adjusted(1, 1, -1, -1));
    }
}

} // namespace tessaline
