#pragma once
// app/compare_bar.h: the bar below the two views for judging a result: "元画像" shows the source in
// the result view while it is on, "差分" shows the difference heat map there, the palette strip
// lists the result's entries, and the weight buttons save and load the painted user weight as a
// PNG file. The bar only announces requests; the main frame acts on them. UI thread only.

#include <QWidget>

class QPushButton;

namespace tessaline {

class CPaletteStrip;

class CCompareBar : public QWidget
{
    Q_OBJECT

public:
    explicit CCompareBar(QWidget* parent = nullptr);

    /// Checkable: while checked the result view shows the source ("元画像").
    QPushButton* SourceButton() const { return sourceButton; }
    /// Checkable: while checked the result view shows the difference heat map ("差分").
    QPushButton* DifferenceButton() const { return differenceButton; }
    CPaletteStrip* Strip() const { return strip; }
    /// Checkable: checked while a loaded palette is the given palette ("パレット読込").
    QPushButton* LoadPaletteButton() const { return loadPaletteButton; }
    /// Checkable: while checked the colour curve ("色数カーブ") is shown.
    QPushButton* CurveButton() const { return curveButton; }

    /// Shown while colours are locked: how many, each listed in its tip; a click unlocks them all.
    QPushButton* LocksButton() const { return locksButton; }

signals:
    void sourceToggled(bool shown);
    void differenceToggled(bool shown);
    void saveWeightsRequested();
    void loadWeightsRequested();
    /// "パレット読込" was switched on (a palette file is wanted) or off (the loaded palette goes).
    void loadPaletteToggled(bool on);
    void savePaletteRequested();

private:
    QPushButton* sourceButton = nullptr;
    QPushButton* differenceButton = nullptr;
    QPushButton* curveButton = nullptr;
    CPaletteStrip* strip = nullptr;
    QPushButton* loadPaletteButton = nullptr;
    QPushButton* locksButton = nullptr;
};

} // namespace tessaline
