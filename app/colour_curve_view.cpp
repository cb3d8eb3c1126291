#include "app/colour_curve_view.h"

#include <algorithm>
#include <cmath>
#include <new>

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QHelpEvent>
#include <QToolTip>

#include "app/ui_texts.h"
#include "imageio/png_writer.h"
#include "jobs/painted_weights.h"
#include "worker/colour_curve_thread.h"
#include "worker/reduce_thread.h"

namespace tessaline {

namespace {

constexpr double LeastCount = 2.0;
constexpr double MostCount = 256.0;
constexpr int PointRadius = 4;
constexpr int PickDistance = 9;
const QColor SizeColour(40, 110, 200);
const QColor PsnrColour(220, 120, 30);

// The settings a curve depends on: all but the count.
SettingValues WithoutCount(SettingValues values)
{
    values[Setting::Colours] = RowOf(Setting::Colours).defaultValue;
    return values;
}

} // namespace

CColourCurveView::CColourCurveView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("colourCurveView"));
    setToolTip(texts::ColourCurveTip());
    setMouseTracking(true);
    setMinimumSize(320, 180);
}

CColourCurveView::~CColourCurveView()
{
    thread.reset();
    retired.clear();
}

void CColourCurveView::Follow(const RgbaImage& source, const SettingValues& values, const QImage& weights,
                              std::uint64_t imageId)
{
    currentCount = values[Setting::Colours];
    const bool same = haveWanted && wantedImage == imageId && WithoutCount(values) == wantedValues &&
                      wantedWeights.cacheKey() == weights.cacheKey();
    if (!same) {
        wantedSource = &source;
        wantedValues = WithoutCount(values);
        wantedWeights = weights;
        wantedImage = imageId;
        haveWanted = true;
        stale = true;
        StartIfWanted();
    }
    update();
}

void CColourCurveView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    StartIfWanted();
}

void CColourCurveView::StartIfWanted()
{
    if (!stale || !haveWanted || !isVisible() || wantedSource == nullptr)
        return;
    stale = false;
    // The curve being measured is no longer wanted: cancelled, and deleted once it reports, so
    // this thread never waits for it.
    if (thread) {
        thread->Cancel();
        retired.emplace_back(generation, std::move(thread));
    }
    points.clear();
    failed = false;
    measuring = false;
    const std::uint64_t mine = ++generation;
    try {
        auto next = std::make_unique<ColourCurveThread>();
        ReduceThread builder(nullptr); // the window's own job, weights included, without starting it
        RgbaImage copy = wantedSource->Clone();
        IndexedImage unused;
        BuildReduceJob(builder, wantedValues, wantedWeights.isNull() ? nullptr : &wantedWeights, copy,
                       unused);
        next->job = std::move(builder.job);
        next->job.progress = nullptr;
        next->source = std::move(copy);
        next->encode = [](const IndexedImage& image) { return EncodePng(image); };
        next->onPoint = [this, mine](const CurvePoint& point) {
            QMetaObject::invokeMethod(
                this,
                [this, mine, point] {
                    if (mine != generation)
                        return;
                    points.push_back(point);
                    update();
                },
                Qt::QueuedConnection);
        };
        next->onDone = [this, mine](int code) {
            QMetaObject::invokeMethod(
                this, [this, mine, code] { OnDone(mine, code); }, Qt::QueuedConnection);
        };
        if (next->Start() != ThreadStarted)
            throw std::bad_alloc();
        thread = std::move(next);
        measuring = true;
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    update();
}

void CColourCurveView::OnDone(std::uint64_t finished, int code)
{
    // The worker that reported has returned from Run by now, or is about to: the join is short.
    std::erase_if(retired, [finished](const auto& entry) { return entry.first == finished; });
    if (finished != generation)
        return;
    thread.reset();
    measuring = false;
    failed = code != ReduceOk;
    update();
    emit curveFinished();
}

QRectF CColourCurveView::Plot() const
{
    const QFontMetrics metrics(font());
    const double left = metrics.horizontalAdvance(QStringLiteral("0000 KB")) + 12;
    const double right = metrics.horizontalAdvance(QStringLiteral("00.0 dB")) + 12;
    const double top = metrics.height() + 10;
    const double bottom = 2 * metrics.height() + 8;
    return QRectF(left, top, std::max(10.0, width() - left - right), std::max(10.0, height() - top - bottom));
}

double CColourCurveView::XOf(double colours) const
{
    const QRectF plot = Plot();
    const double t =
        (std::log2(colours) - std::log2(LeastCount)) / (std::log2(MostCount) - std::log2(LeastCount));
    return plot.left() + t * plot.width();
}

namespace {

// The vertical ranges of both series over the points measured so far.
struct Ranges
{
    double maxBytes = 1.0;
    double minPsnr = 0.0;
    double maxPsnr = 1.0;
};

Ranges RangesOf(const std::vector<CurvePoint>& points)
{
    Ranges ranges;
    double low = 1e9;
    double high = -1e9;
    for (const CurvePoint& point : points) {
        ranges.maxBytes = std::max(ranges.maxBytes, double(point.figures.pngBytes));
        if (std::isfinite(point.figures.psnr)) {
            low = std::min(low, point.figures.psnr);
            high = std::max(high, point.figures.psnr);
        }
    }
    if (high >= low) {
        ranges.minPsnr = std::floor(low / 5.0) * 5.0;
        ranges.maxPsnr = std::max(ranges.minPsnr + 5.0, std::ceil(high / 5.0) * 5.0);
    }
    return ranges;
}

} // namespace

QPointF CColourCurveView::PointPosition(int colours) const
{
    for (const CurvePoint& point : points)
        if (int(point.colours) == colours) {
            const Ranges ranges = RangesOf(points);
            const QRectF plot = Plot();
            return {XOf(colours),
                    plot.bottom() - plot.height() * double(point.figures.pngBytes) / ranges.maxBytes};
        }
    return {};
}

int CColourCurveView::CountAt(QPoint position) const
{
    int best = 0;
    double bestDistance = PickDistance;
    for (const CurvePoint& point : points) {
        const double distance = std::abs(XOf(point.colours) - position.x());
        if (distance <= bestDistance) {
            bestDistance = distance;
            best = int(point.colours);
        }
    }
    return best;
}

void CColourCurveView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF plot = Plot();
    const QFontMetrics metrics(font());
    const Ranges ranges = RangesOf(points);

    // Axes, the count's ticks and both series' scales.
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(plot);
    painter.setPen(palette().color(QPalette::Text));
    for (const int colours : {2, 4, 8, 16, 32, 64, 128, 256}) {
        const double x = XOf(colours);
        painter.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 4));
        const QString label = QString::number(colours);
        painter.drawText(
            QPointF(x - metrics.horizontalAdvance(label) / 2.0, plot.bottom() + 4 + metrics.ascent()), label);
    }
    painter.drawText(
        QPointF(plot.center().x() - metrics.horizontalAdvance(texts::CurveColoursAxis()) / 2.0, height() - 4),
        texts::CurveColoursAxis());
    painter.setPen(SizeColour);
    painter.drawText(QPointF(4, metrics.ascent() + 2), texts::CurveSizeAxis());
    painter.drawText(QPointF(4, plot.top() + metrics.ascent()),
                     texts::FileSizeText(std::uint64_t(ranges.maxBytes)));
    painter.drawText(QPointF(4, plot.bottom()), QStringLiteral("0"));
    painter.setPen(PsnrColour);
    painter.drawText(
        QPointF(width() - metrics.horizontalAdvance(texts::CurvePsnrAxis()) - 4, metrics.ascent() + 2),
        texts::CurvePsnrAxis());
    painter.drawText(QPointF(plot.right() + 6, plot.top() + metrics.ascent()),
                     texts::PsnrText(ranges.maxPsnr));
    painter.drawText(QPointF(plot.right() + 6, plot.bottom()), texts::PsnrText(ranges.minPsnr));

    // The panel's count.
    if (currentCount >= LeastCount) {
        const double x = XOf(currentCount);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5, Qt::DashLine));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        const QString label = texts::CurveCurrent(currentCount);
        const double labelX = std::min(x + 4, plot.right() - metrics.horizontalAdvance(label) - 2);
        painter.drawText(QPointF(labelX, plot.top() - 4), label);
    }

    // Both series, as measured so far in count order.
    std::vector<CurvePoint> sorted = points;
    std::sort(sorted.begin(), sorted.end(),
              [](const CurvePoint& a, const CurvePoint& b) { return a.colours < b.colours; });
    const auto sizeY = [&](const CurvePoint& p) {
        return plot.bottom() - plot.height() * double(p.figures.pngBytes) / ranges.maxBytes;
    };
    const auto psnrY = [&](const CurvePoint& p) {
        const double psnr = std::isfinite(p.figures.psnr) ? p.figures.psnr : ranges.maxPsnr;
        return plot.bottom() - plot.height() * (psnr - ranges.minPsnr) / (ranges.maxPsnr - ranges.minPsnr);
    };
    for (const auto& [colour, y] : {std::pair{SizeColour, +0}, std::pair{PsnrColour, +1}}) {
        QPainterPath path;
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            const QPointF at(XOf(sorted[i].colours), y == 0 ? sizeY(sorted[i]) : psnrY(sorted[i]));
            i == 0 ? path.moveTo(at) : path.lineTo(at);
        }
        painter.setPen(QPen(colour, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.setBrush(colour);
        for (const CurvePoint& p : sorted)
            painter.drawEllipse(QPointF(XOf(p.colours), y == 0 ? sizeY(p) : psnrY(p)), PointRadius,
                                PointRadius);
    }

    // What the view is doing, when it is not showing a whole curve.
    QString state;
    if (measuring)
        state = texts::CurveMeasuring(int(points.size()), int(DefaultCurveCounts().size()));
    else if (failed)
        state = texts::CurveFailed();
    else if (!haveWanted)
        state = texts::CurveEmpty();
    if (!state.isEmpty()) {
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(plot.adjusted(8, 6, -8, -6), Qt::AlignLeft | Qt::AlignTop, state);
    }
}

void CColourCurveView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        if (const int colours = CountAt(event->position().toPoint()); colours > 0)
            emit countChosen(colours);
    QWidget::mousePressEvent(event);
}

QString CColourCurveView::TipAt(QPoint position) const
{
    const int colours = CountAt(position);
    for (const CurvePoint& point : points)
        if (int(point.colours) == colours)
            return texts::CurvePointTip(colours, point.figures.pngBytes, point.figures.psnr, point.figures.maxError);
    return toolTip();
}

bool CColourCurveView::event(QEvent* event)
{
    // Qt asks for the hover text after a pause; over a point that is the point's figures, which
    // the widget's own tip must not replace.
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), TipAt(help->pos()), this);
        return true;
    }
    return QWidget::event(event);
}

void CColourCurveView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const QString tip = TipAt(at);
    if (tip != toolTip()) {
        QToolTip::showText(event->globalPosition().toPoint(), tip, this);
        setCursor(Qt::PointingHandCursor);
        return;
    }
    unsetCursor();
    QToolTip::hideText();
}

} // namespace tessaline
