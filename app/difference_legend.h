#pragma once
// app/difference_legend.h: the small key to the difference heat map, laid over a corner of the
// result view while "差分" is on: the colour ramp with its marks in levels. UI thread only.

#include <QWidget>

namespace tessaline {

class CDifferenceLegend : public QWidget
{
    Q_OBJECT

public:
    explicit CDifferenceLegend(QWidget* parent = nullptr);
    QSize sizeHint() const override;

    /// The error levels marked under the ramp, left to right.
    static const int Marks[4];

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace tessaline
