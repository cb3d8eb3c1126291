#include "app/difference_legend.h"

#include <cmath>

#include <QPainter>

#include "app/ui_texts.h"
#include "imageio/compare_bitmaps.h"

namespace tessaline {

namespace {

constexpr int Margin = 6;
constexpr int RampWidth = 160;
constexpr int RampHeight = 10;

} // namespace

const int CDifferenceLegend::Marks[4] = {0, 4, 16, DifferenceScaleTop};

CDifferenceLegend::CDifferenceLegend(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents); // painting and scrolling go on underneath
    resize(sizeHint());
}

QSize CDifferenceLegend::sizeHint() const
{
    const int line = fontMetrics().height();
    return QSize(RampWidth + 2 * Margin + fontMetrics().horizontalAdvance(QStringLiteral("64+")),
                 2 * line + RampHeight + 2 * Margin);
}

void CDifferenceLegend::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(255, 255, 255, 220));
    painter.setPen(Qt::black);
    const int line = fontMetrics().height();
    painter.drawText(QRect(Margin, Margin, width() - 2 * Margin, line), Qt::AlignLeft | Qt::AlignVCenter,
                     texts::DifferenceLegendTitle());
    const int top = Margin + line;
    // The ramp runs along the scale's own position, so the marks fall where their colours are.
    for (int x = 0; x < RampWidth; ++x) {
        const double position = (x + 0.5) / RampWidth;
        const int levels = static_cast<int>(std::lround(position * position * DifferenceScaleTop));
        painter.fillRect(QRect(Margin + x, top, 1, RampHeight), QColor::fromRgb(DifferenceColour(levels)));
    }
    for (const int mark : Marks) {
        const int x = Margin + static_cast<int>(std::lround(DifferenceScalePosition(mark) * (RampWidth - 1)));
        painter.drawLine(x, top + RampHeight, x, top + RampHeight + 2);
        const QString label =
            mark == DifferenceScaleTop ? QStringLiteral("%1+").arg(mark) : QString::number(mark);
        const int labelWidth = fontMetrics().horizontalAdvance(label);
        painter.drawText(QRect(x - labelWidth / 2, top + RampHeight + 2, labelWidth, line), Qt::AlignCenter,
                         label);
    }
}

} // namespace tessaline
