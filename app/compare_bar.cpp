#include "app/compare_bar.h"

#include <vector>

#include <QHBoxLayout>
#include <QPushButton>
#include <QStringList>

#include "app/palette_strip.h"
#include "app/ui_texts.h"

namespace tessaline {

namespace {

QPushButton* NewButton(const QString& text, const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    // The views keep the keyboard focus, so the blink key keeps working after a click here.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

CCompareBar::CCompareBar(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    sourceButton = NewButton(texts::ShowSource(), QStringLiteral("sourceButton"), this);
    sourceButton->setCheckable(true);
    sourceButton->setToolTip(texts::ShowSourceTip());
    differenceButton = NewButton(texts::Difference(), QStringLiteral("differenceButton"), this);
    differenceButton->setCheckable(true);
    differenceButton->setToolTip(texts::DifferenceTip());
    curveButton = NewButton(texts::ColourCurve(), QStringLiteral("curveButton"), this);
    curveButton->setCheckable(true);
    curveButton->setToolTip(texts::ColourCurveTip());
    strip = new CPaletteStrip(this);
    strip->setObjectName(QStringLiteral("paletteStrip"));
    loadPaletteButton = NewButton(texts::LoadPalette(), QStringLiteral("loadPaletteButton"), this);
    loadPaletteButton->setCheckable(true);
    loadPaletteButton->setToolTip(texts::LoadPaletteTip());
    auto* savePalette = NewButton(texts::SavePalette(), QStringLiteral("savePaletteButton"), this);
    savePalette->setToolTip(texts::SavePaletteTip());
    auto* saveWeights = NewButton(texts::SaveWeights(), QStringLiteral("saveWeightsButton"), this);
    auto* loadWeights = NewButton(texts::LoadWeights(), QStringLiteral("loadWeightsButton"), this);
    layout->addWidget(sourceButton);
    layout->addWidget(differenceButton);
    layout->addWidget(curveButton);
    layout->addWidget(strip, 1);
    // Locked colours go into every following reduction of this image, so they are never kept
    // out of sight: the count stands beside the strip, even when no entry shows them.
    locksButton = NewButton(QString(), QStringLiteral("locksButton"), this);
    locksButton->hide();
    layout->addWidget(locksButton);
    connect(locksButton, &QPushButton::clicked, strip, &CPaletteStrip::ClearLocks);
    connect(strip, &CPaletteStrip::locksChanged, this, [this] {
        const std::vector<QRgb>& locked = strip->LockedColours();
        QStringList names;
        for (const QRgb c : locked)
            names << QStringLiteral("#%1").arg(c, 8, 16, QLatin1Char('0')).toUpper();
        locksButton->setText(texts::LockedCount(int(locked.size())));
        locksButton->setToolTip(texts::LockedCountTip(names.join(QLatin1Char(' '))));
        locksButton->setVisible(!locked.empty());
    });
    layout->addWidget(loadPaletteButton);
    layout->addWidget(savePalette);
    layout->addWidget(saveWeights);
    layout->addWidget(loadWeights);
    setFixedHeight(52);

    connect(sourceButton, &QPushButton::toggled, this, &CCompareBar::sourceToggled);
    connect(differenceButton, &QPushButton::toggled, this, &CCompareBar::differenceToggled);
    connect(loadPaletteButton, &QPushButton::clicked, this, &CCompareBar::loadPaletteToggled);
    connect(savePalette, &QPushButton::clicked, this, &CCompareBar::savePaletteRequested);
    connect(saveWeights, &QPushButton::clicked, this, &CCompareBar::saveWeightsRequested);
    connect(loadWeights, &QPushButton::clicked, this, &CCompareBar::loadWeightsRequested);
}

} // namespace tessaline
