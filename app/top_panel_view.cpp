#include "app/top_panel_view.h"

#include <algorithm>
#include <array>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include "app/ui_texts.h"

namespace tessaline {

namespace {

constexpr std::array<int, 7> ZoomFactors = {1, 2, 4, 8, 12, 16, 32};

// Value shown by the histogram label and handed to the job: entries allowed before coarsening.
int HistogramLimit(int position) { return position * 262144 + 131072; }

} // namespace

CTopPanelView::CTopPanelView(QWidget* parent) : QWidget(parent)
{
    // The layout is laid out in dialog units of an 8-point dialog font; take the platform's
    // sans-serif at that size so that the strip keeps its proportions.
    QFont panelFont = font();
    panelFont.setPointSizeF(8.0);
    setFont(panelFont);

    // Controls in template order: Qt's default tab order is creation order, which keeps the
    // keyboard path through the panel the one the layout was designed with.
    ie6 = AddCheckBox("1003", texts::Ie6Workaround(), 522, 102, 67, 10);
    algorithm = new QGroupBox(texts::Algorithm(), this);
    algorithm->setObjectName(QStringLiteral("1009"));
    algorithm->setGeometry(DialogRect(522, 6, 108, 30));
    floyd = new QRadioButton(texts::Floyd(), this);
    floyd->setObjectName(QStringLiteral("1007"));
    floyd->setGeometry(DialogRect(534, 18, 32, 10));
    ordered = new QRadioButton(texts::Ordered(), this);
    ordered->setObjectName(QStringLiteral("1008"));
    ordered->setGeometry(DialogRect(582, 18, 37, 10));
    algorithmGroup = new QButtonGroup(this);
    algorithmGroup->addButton(floyd);
    algorithmGroup->addButton(ordered);
    save = AddButton("1012", texts::Save(), 444, 108, 48, 16);
    save->setDefault(true);
    coloursLabel = AddLabel(texts::ColoursLabel(256), 24, 6, 103, 8, "1019");
    colours = AddSlider("1017", 24, 18, 2, 256);
    AddLabel(texts::Few(), 12, 18, 9, 8);
    AddLabel(texts::Many(), 234, 18, 9, 8);
    opacityLabel = AddLabel(texts::OpacityLabel(256), 276, 6, 114, 8, "1020");
    opacity = AddSlider("1018", 276, 18, 1, 256);
    AddLabel(texts::Faint(), 264, 18, 9, 8);
    AddLabel(texts::Dense(), 486, 18, 9, 8);
    autoSave = AddCheckBox("1021", texts::AutoSave(), 522, 114, 48, 10);
    preview = AddButton("1022", texts::Preview(), 390, 108, 50, 16);
    transparentLast = AddCheckBox("1023", texts::TransparentLast(), 522, 90, 109, 10);
    contrastMap = AddCheckBox("1024", texts::UseContrastMap(), 522, 42, 101, 10);
    ditherMap = AddCheckBox("1025", texts::UseDitherMap(), 522, 54, 92, 10);
    fastHistogram = AddCheckBox("1026", texts::FastHistogram(), 522, 66, 100, 10);
    histogramLabel = AddLabel(texts::HistogramLabel(2752512), 24, 36, 192, 8, "1031");
    histogram = AddSlider("1027", 24, 48, 0, 63);
    AddLabel(texts::Few(), 12, 48, 9, 8);
    AddLabel(texts::Many(), 234, 48, 9, 8);
    feedback = AddSlider("1028", 276, 48, 0, 49);
    feedbackLabel = AddLabel(texts::FeedbackLabel(50), 276, 36, 204, 8, "1032");
    AddLabel(texts::Few(), 264, 48, 9, 8);
    AddLabel(texts::Many(), 486, 48, 9, 8);
    voronoiLabel = AddLabel(texts::VoronoiLabel(7), 24, 66, 204, 8, "1033");
    voronoi = AddSlider("1029", 24, 78, 0, 7);
    AddLabel(texts::Few(), 12, 78, 9, 8);
    AddLabel(texts::Many(), 234, 78, 9, 8);
    convergenceLabel = AddLabel(texts::ConvergenceLabel(4194304), 276, 66, 204, 8, "1034");
    convergence = AddSlider("1030", 276, 78, 13, 22);
    AddLabel(texts::Large(), 264, 78, 9, 8);
    AddLabel(texts::Small(), 486, 78, 9, 8);
    zoomList = new QComboBox(this);
    zoomList->setObjectName(QStringLiteral("1035"));
    // A drop-down's template height includes its open list; the closed box is one control high.
    const QRect zoomRect = DialogRect(276, 108, 48, 14);
    zoomList->setGeometry(zoomRect);
    AddLabel(texts::Magnification(), 276, 96, 41, 8);
    userWeightLabel = AddLabel(texts::UserWeightLabel(40), 24, 98, 162, 8, "1036");
    userWeight = AddSlider("1037", 24, 108, 0, 100);
    AddLabel(texts::Low(), 12, 108, 9, 8);
    AddLabel(texts::High(), 234, 108, 9, 8);
    useUserWeight = AddCheckBox("1038", texts::UseUserWeight(), 522, 78, 99, 10);
    clearWeight = AddButton("1039", texts::ClearWeight(), 336, 108, 50, 16);

    // Initial state: zoom list, slider ranges and positions, check states, labels.
    for (int factor : ZoomFactors)
        zoomList->addItem(texts::ZoomEntry(factor));
    zoomList->setCurrentIndex(0);
    colours->setValue(256);
    opacity->setValue(256);
    histogram->setValue(10);
    feedback->setValue(49);
    voronoi->setValue(7);
    convergence->setValue(22);
    userWeight->setValue(15);
    autoSave->setChecked(false);
    transparentLast->setChecked(false);
    ie6->setChecked(false);
    floyd->setChecked(true);
    ordered->setChecked(false);
    contrastMap->setChecked(true);
    ditherMap->setChecked(true);
    fastHistogram->setChecked(false);
    useUserWeight->setChecked(false);
    save->setEnabled(true);
    UpdateLabels();

    setMinimumSize(DialogRect(0, 0, DialogWidthDu, DialogHeightDu).size());

    // A slider change only rewrites labels: reductions start from the buttons and loads alone.
    for (QSlider* slider : {colours, opacity, histogram, feedback, voronoi, convergence, userWeight})
        connect(slider, &QSlider::valueChanged, this, &CTopPanelView::UpdateLabels);
    connect(ie6, &QCheckBox::toggled, this, &CTopPanelView::ApplyIe6Rule);
    connect(autoSave, &QCheckBox::toggled, this, [this](bool checked) { save->setEnabled(!checked); });
    connect(contrastMap, &QCheckBox::toggled, this, &CTopPanelView::ApplyContrastRule);
    connect(useUserWeight, &QCheckBox::toggled, this, &CTopPanelView::useWeightChanged);
    connect(save, &QPushButton::clicked, this, &CTopPanelView::saveRequested);
    connect(preview, &QPushButton::clicked, this, &CTopPanelView::previewRequested);
    connect(clearWeight, &QPushButton::clicked, this, &CTopPanelView::clearWeightRequested);
    connect(zoomList, &QComboBox::currentIndexChanged, this, &CTopPanelView::zoomChanged);
}

QRect CTopPanelView::DialogRect(int x, int y, int width, int height) const
{
    const QFontMetrics metrics(font());
    const int baseX = metrics.averageCharWidth();
    const int baseY = metrics.height();
    return QRect(x * baseX / 4, y * baseY / 8, width * baseX / 4, height * baseY / 8);
}

QLabel* CTopPanelView::AddLabel(const QString& text, int x, int y, int width, int height, const char* id)
{
    auto* label = new QLabel(text, this);
    if (id)
        label->setObjectName(QString::fromLatin1(id));
    label->setGeometry(DialogRect(x, y, width, height));
    return label;
}

QSlider* CTopPanelView::AddSlider(const char* id, int x, int y, int minimum, int maximum)
{
    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setObjectName(QString::fromLatin1(id));
    slider->setTickPosition(QSlider::NoTicks);
    slider->setRange(minimum, maximum);
    slider->setFocusPolicy(Qt::StrongFocus);
    slider->setGeometry(DialogRect(x, y, 204, 15));
    return slider;
}

QCheckBox* CTopPanelView::AddCheckBox(const char* id, const QString& text, int x, int y, int width, int height)
{
    auto* box = new QCheckBox(text, this);
    box->setObjectName(QString::fromLatin1(id));
    QRect area = DialogRect(x, y, width, height);
    // Dialog units come from the Latin average width, and full-width captions can need more; the
    // boxes stand in the panel's right-hand column, so they may grow rightwards without overlap.
    area.setWidth(std::max(area.width(), box->sizeHint().width()));
    box->setGeometry(area);
    return box;
}

QPushButton* CTopPanelView::AddButton(const char* id, const QString& text, int x, int y, int width, int height)
{
    auto* button = new QPushButton(text, this);
    button->setObjectName(QString::fromLatin1(id));
    button->setGeometry(DialogRect(x, y, width, height));
    return button;
}

void CTopPanelView::UpdateLabels()
{
    coloursLabel->setText(texts::ColoursLabel(colours->value()));
    opacityLabel->setText(texts::OpacityLabel(opacity->value()));
    histogramLabel->setText(texts::HistogramLabel(HistogramLimit(histogram->value())));
    feedbackLabel->setText(texts::FeedbackLabel(feedback->value() + 1));
    voronoiLabel->setText(texts::VoronoiLabel(voronoi->value()));
    convergenceLabel->setText(texts::ConvergenceLabel(1 << convergence->value()));
    userWeightLabel->setText(texts::UserWeightLabel(userWeight->value()));
}

void CTopPanelView::ApplyIe6Rule(bool checked)
{
    // Old Internet Explorer drew partly transparent palette entries wrongly; 238 keeps nearly
    // opaque pixels opaque. Unchecking always returns to 256, not to the earlier position.
    opacity->setValue(checked ? 238 : 256);
    opacity->setEnabled(!checked);
    opacityLabel->setEnabled(!checked);
    UpdateLabels();
}

void CTopPanelView::ApplyContrastRule(bool checked)
{
    // User weights are added to the contrast map, so without it they have nothing to steer.
    useUserWeight->setEnabled(checked);
    if (!checked) {
        const QSignalBlocker quiet(useUserWeight); // one notification below is enough
        useUserWeight->setChecked(false);
    }
    emit useWeightChanged();
}

int CTopPanelView::ZoomFactor() const
{
    const int index = zoomList->currentIndex();
    if (index < 0 || index >= static_cast<int>(ZoomFactors.size()))
        return 1;
    return ZoomFactors[index];
}

int CTopPanelView::ColoursPosition() const { return colours->value(); }
int CTopPanelView::OpacityPosition() const { return opacity->value(); }
bool CTopPanelView::FloydChecked() const { return floyd->isChecked(); }
bool CTopPanelView::TransparentLastChecked() const { return transparentLast->isChecked(); }
bool CTopPanelView::ContrastMapChecked() const { return contrastMap->isChecked(); }
bool CTopPanelView::DitherMapChecked() const { return ditherMap->isChecked(); }
bool CTopPanelView::FastHistogramChecked() const { return fastHistogram->isChecked(); }
int CTopPanelView::HistogramPosition() const { return histogram->value(); }
int CTopPanelView::FeedbackPosition() const { return feedback->value(); }
int CTopPanelView::VoronoiPosition() const { return voronoi->value(); }
int CTopPanelView::ConvergencePosition() const { return convergence->value(); }
bool CTopPanelView::UseUserWeightChecked() const { return useUserWeight->isChecked(); }
int CTopPanelView::UserWeightPosition() const { return userWeight->value(); }
bool CTopPanelView::AutoSaveChecked() const { return autoSave->isChecked(); }

} // namespace tessaline
