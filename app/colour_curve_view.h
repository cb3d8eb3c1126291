#pragma once
// app/colour_curve_view.h: CColourCurveView, the "色数カーブ" view: the file size and the PSNR of
// the loaded image's result against the colour count, measured in the background (full
// reductions at each count of the curve, two at a time) and drawn as the points come in. It marks
// the panel's count; a click on a point asks for that count. A new image or other settings
// (anything but the count) start a new curve, only while the view is shown. UI thread only.

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include <QImage>
#include <QWidget>

#include "engine/colour_model.h"
#include "settings/setting_table.h"
#include "worker/colour_search.h"

namespace tessaline {

class ColourCurveThread;

class CColourCurveView : public QWidget
{
    Q_OBJECT

public:
    explicit CColourCurveView(QWidget* parent = nullptr);
    /// Cancels and joins the curve being measured.
    ~CColourCurveView() override;

    /// The image and panel settings the window reduces now. `imageId` changes with every load.
    /// The curve is measured again when the image, the weights or a setting other than the count
    /// changed, as soon as the view is shown; the count mark moves at once. `source` is copied.
    void Follow(const RgbaImage& source, const SettingValues& values, const QImage& weights,
                std::uint64_t imageId);

    const std::vector<CurvePoint>& Points() const { return points; }
    bool Measuring() const { return measuring; }
    int CurrentCount() const { return currentCount; }
    /// The count of the point nearest `position` (widget pixels) within a few pixels; 0 for none.
    int CountAt(QPoint position) const;
    /// Where the point of `colours` is drawn; null when it is not measured.
    QPointF PointPosition(int colours) const;
    /// The hover text at `position`: the point's figures over a measured point, else the view's own.
    QString TipAt(QPoint position) const;

signals:
    /// A click on the point of `colours`.
    void countChosen(int colours);
    /// A curve has been measured whole (or failed): Measuring() is false again.
    void curveFinished();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void StartIfWanted();
    void OnDone(std::uint64_t generation, int code);
    QRectF Plot() const;
    double XOf(double colours) const;

    std::unique_ptr<ColourCurveThread> thread;
    /// Cancelled curves by generation, each deleted once it has reported (its worker then only
    /// returns, so deleting it never waits).
    std::vector<std::pair<std::uint64_t, std::unique_ptr<ColourCurveThread>>> retired;
    std::uint64_t generation = 0;
    std::vector<CurvePoint> points;
    bool measuring = false;
    bool failed = false;
    bool stale = false;
    int currentCount = 0;

    // What the curve on show (or wanted) was measured for.
    const RgbaImage* wantedSource = nullptr;
    SettingValues wantedValues;
    QImage wantedWeights;
    std::uint64_t wantedImage = 0;
    bool haveWanted = false;
};

} // namespace tessaline
