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
#include "app/view_state.h"

namespace tessaline {

namespace {

// The zoom list in list order: the magnifications, then the reductions, then the fit, then
// ドット等倍 (one image pixel per device pixel: its reduction is the screen's scale).
struct ZoomChoice
{
    int zoom = 1;
    int shrink = 1;
    bool fit = false;
    bool device = false;
};
constexpr std::array<ZoomChoice, 12> ZoomChoices = {{{1}, {2}, {4}, {8}, {12}, {16}, {32}, {1, 2}, {1, 4}, {1, 8},
                                                     {1, 1, true}, {1, 1, false, true}}};
constexpr int FitIndex = 10;
static_assert(ZoomChoices[FitIndex].fit);

ZoomChoice ChoiceAt(int index)
{
    if (index < 0 || index >= static_cast<int>(ZoomChoices.size()))
        return {};
    return ZoomChoices[static_cast<std::size_t>(index)];
}

std::size_t Index(Setting key)
{
    return static_cast<std::size_t>(key);
}

} // namespace

CTopPanelView::CTopPanelView(QWidget* parent) : QWidget(parent)
{
    // The layout is laid out in dialog units of an 8-point dialog font; take the platform's
    // sans-serif at that size so that the strip keeps its proportions.
    QFont panelFont = font();
    panelFont.setPointSizeF(8.0);
    setFont(panelFont);

    // Controls in template order: Qt's default tab order is creation order, which keeps the
    // keyboard path through the panel the one the layout was designed with. Setting controls
    // start at their row's default; value labels are written once every slider exists.
    ie6 = AddSettingBox(Setting::Ie6, "1003", 522, 102, 67, 10);
    const SettingRow& dither = RowOf(Setting::Dither);
    auto* algorithm = new QGroupBox(texts::Caption(dither.caption), this);
    algorithm->setObjectName(QStringLiteral("1009"));
    algorithm->setGeometry(DialogRect(522, 6, 108, 30));
    QRadioButton* floyd = AddRadioButton("1007", dither.onCaption, 534, 18, 32, 10);
    QRadioButton* ordered = AddRadioButton("1008", dither.offCaption, 582, 18, 37, 10);
    auto* algorithmGroup = new QButtonGroup(this);
    algorithmGroup->addButton(floyd);
    algorithmGroup->addButton(ordered);
    (dither.defaultValue != 0 ? floyd : ordered)->setChecked(true);
    buttons[Index(Setting::Dither)] = floyd;
    save = AddButton("1012", texts::Save(), 444, 108, 48, 16);
    save->setDefault(true);
    AddSliderGroup(Setting::Colours, "1019", 103, "1017", 24, 18, texts::Few(), texts::Many());
    AddSliderGroup(Setting::Opacity, "1020", 114, "1018", 276, 18, texts::Faint(), texts::Dense());
    autoSave = AddCheckBox("1021", texts::AutoSave(), 522, 114, 48, 10);
    QPushButton* preview = AddButton("1022", texts::Preview(), 390, 108, 50, 16);
    AddSettingBox(Setting::TransparentLast, "1023", 522, 90, 109, 10);
    contrastMap = AddSettingBox(Setting::ContrastMap, "1024", 522, 42, 101, 10);
    AddSettingBox(Setting::DitherMap, "1025", 522, 54, 92, 10);
    AddSettingBox(Setting::FastHistogram, "1026", 522, 66, 100, 10);
    AddSliderGroup(Setting::Histogram, "1031", 192, "1027", 24, 48, texts::Few(), texts::Many());
    // The template lists this slider before its label.
    AddSliderGroup(Setting::Feedback, "1032", 204, "1028", 276, 48, texts::Few(), texts::Many(), false);
    AddSliderGroup(Setting::Voronoi, "1033", 204, "1029", 24, 78, texts::Few(), texts::Many());
    AddSliderGroup(Setting::Convergence, "1034", 204, "1030", 276, 78, texts::Large(), texts::Small());
    zoomList = new QComboBox(this);
    zoomList->setObjectName(QStringLiteral("1035"));
    zoomList->setToolTip(texts::ZoomKeysTip());
    // A drop-down's template height includes its open list; the closed box is one control high.
    zoomList->setGeometry(DialogRect(276, 108, 48, 14));
    AddLabel(texts::Magnification(), 276, 96, 41, 8);
    // This label stands 10 units above its slider, the others 12.
    AddSliderGroup(Setting::UserWeight, "1036", 162, "1037", 24, 108, texts::Low(), texts::High(), true, 10);
    useUserWeight = AddSettingBox(Setting::UseUserWeight, "1038", 522, 78, 99, 10);
    QPushButton* clearWeight = AddButton("1039", texts::ClearWeight(), 336, 108, 50, 16);
    // Above the buttons, right of the zoom list's caption.
    AddSettingBox(Setting::Tune, "1040", 336, 96, 110, 10);
    // Under the convergence slider's right end, right of the perceptual box.
    QPushButton* defaults = AddButton("1041", texts::RestoreDefaults(), 450, 94, 66, 12);
    // What a 自動保存 batch does beyond each file's own reduction: beside 自動保存, and in the
    // strip under it, the panel's last free row.
    AddSettingBox(Setting::SharedPalette, "1042", 574, 114, 60, 10);
    AddSettingBox(Setting::KeepMetadata, "1043", 522, 124, 100, 9);

    for (const ZoomChoice& choice : ZoomChoices)
        zoomList->addItem(choice.fit             ? texts::FitEntry()
                          : choice.device     ? texts::DotEntry()
                          : choice.shrink > 1 ? texts::ShrinkEntry(choice.shrink)
                                              : texts::ZoomEntry(choice.zoom));
    zoomList->setCurrentIndex(0);
    autoSave->setChecked(false);
    save->setEnabled(true);
    UpdateLabels();

    setMinimumSize(DialogRect(0, 0, DialogWidthDu, DialogHeightDu).size());

    // A slider change only rewrites labels: reductions start from the buttons and loads alone.
    for (QSlider* slider : sliders)
        if (slider)
            connect(slider, &QSlider::valueChanged, this, &CTopPanelView::UpdateLabels);
    connect(ie6, &QCheckBox::toggled, this, &CTopPanelView::ApplyIe6Rule);
    connect(autoSave, &QCheckBox::toggled, this, [this](bool checked) { save->setEnabled(!checked); });
    connect(contrastMap, &QCheckBox::toggled, this, &CTopPanelView::ApplyContrastRule);
    connect(useUserWeight, &QCheckBox::toggled, this, &CTopPanelView::useWeightChanged);
    connect(save, &QPushButton::clicked, this, &CTopPanelView::saveRequested);
    connect(preview, &QPushButton::clicked, this, &CTopPanelView::previewRequested);
    connect(clearWeight, &QPushButton::clicked, this, &CTopPanelView::clearWeightRequested);
    connect(defaults, &QPushButton::clicked, this, &CTopPanelView::RestoreDefaults);
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

void CTopPanelView::AddSliderGroup(Setting key, const char* labelId, int labelWidth, const char* sliderId, int x,
                                   int y, const QString& lowWord, const QString& highWord, bool labelFirst,
                                   int labelRise)
{
    const auto addLabel = [&] { valueLabels[Index(key)] = AddLabel(QString(), x, y - labelRise, labelWidth, 8, labelId); };
    if (labelFirst)
        addLabel();
    AddSlider(key, sliderId, x, y);
    if (!labelFirst)
        addLabel();
    // The end words stand just left of the slider and just right of its 204 units.
    AddLabel(lowWord, x - 12, y, 9, 8);
    AddLabel(highWord, x + 210, y, 9, 8);
}

QSlider* CTopPanelView::AddSlider(Setting key, const char* id, int x, int y)
{
    const SettingRow& row = RowOf(key);
    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setObjectName(QString::fromLatin1(id));
    slider->setTickPosition(QSlider::NoTicks);
    slider->setRange(row.low, row.high);
    slider->setValue(row.defaultValue);
    slider->setFocusPolicy(Qt::StrongFocus);
    slider->setGeometry(DialogRect(x, y, 204, 15));
    sliders[Index(key)] = slider;
    return slider;
}

QCheckBox* CTopPanelView::AddSettingBox(Setting key, const char* id, int x, int y, int width, int height)
{
    const SettingRow& row = RowOf(key);
    QCheckBox* box = AddCheckBox(id, texts::Caption(row.caption), x, y, width, height);
    box->setChecked(row.defaultValue != 0);
    buttons[Index(key)] = box;
    return box;
}

QRadioButton* CTopPanelView::AddRadioButton(const char* id, const char* caption, int x, int y, int width, int height)
{
    auto* button = new QRadioButton(texts::Caption(caption), this);
    button->setObjectName(QString::fromLatin1(id));
    button->setGeometry(DialogRect(x, y, width, height));
    return button;
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
    for (const SettingRow& row : SettingRows())
        if (QSlider* slider = sliders[Index(row.key)]; slider && valueLabels[Index(row.key)])
            valueLabels[Index(row.key)]->setText(texts::SliderLabel(row, slider->value()));
}

void CTopPanelView::ApplyIe6Rule(bool checked)
{
    // Unchecking always returns to the top of the range, not to the earlier position.
    QSlider* opacity = sliders[Index(Setting::Opacity)];
    opacity->setValue(checked ? Ie6Opacity : opacity->maximum());
    opacity->setEnabled(!checked);
    valueLabels[Index(Setting::Opacity)]->setEnabled(!checked);
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

bool CTopPanelView::StepZoom(int step, int zoom, int shrink)
{
    // Scales compared as zoom / shrink without division: a / b against c / d is a*d against c*b.
    int best = -1;
    for (int i = 0; i < static_cast<int>(ZoomChoices.size()); ++i) {
        const ZoomChoice& c = ZoomChoices[static_cast<std::size_t>(i)];
        if (c.fit || c.device)
            continue; // not a scale of their own
        const long candidate = long(c.zoom) * shrink;
        const long current = long(zoom) * c.shrink;
        if (step > 0 ? candidate <= current : candidate >= current)
            continue;
        if (best < 0) {
            best = i;
            continue;
        }
        const ZoomChoice& b = ZoomChoices[static_cast<std::size_t>(best)];
        const long versus = long(c.zoom) * b.shrink;
        const long held = long(b.zoom) * c.shrink;
        if (step > 0 ? versus < held : versus > held)
            best = i; // the nearest one in the step's direction
    }
    if (best < 0)
        return false;
    zoomList->setCurrentIndex(best);
    return true;
}

void CTopPanelView::SelectFit()
{
    zoomList->setCurrentIndex(FitIndex);
}

void CTopPanelView::SelectActualSize()
{
    zoomList->setCurrentIndex(0);
}

int CTopPanelView::ZoomFactor() const { return ChoiceAt(zoomList->currentIndex()).zoom; }
int CTopPanelView::ZoomShrink() const
{
    const ZoomChoice choice = ChoiceAt(zoomList->currentIndex());
    return choice.device ? DotShrink(devicePixelRatioF()) : choice.shrink;
}
bool CTopPanelView::ZoomFits() const { return ChoiceAt(zoomList->currentIndex()).fit; }

void CTopPanelView::SetLocked(bool locked)
{
    if (!locked) {
        for (const QPointer<QWidget>& control : lockedControls)
            if (control)
                control->setEnabled(true);
        lockedControls.clear();
        return;
    }
    if (!lockedControls.empty())
        return;
    // Only what is enabled now is locked, so unlocking leaves the panel's own rules (the IE6 box,
    // automatic saving) as they were.
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control == zoomList || !control->isEnabled())
            continue;
        control->setEnabled(false);
        lockedControls.emplace_back(control);
    }
}

void CTopPanelView::SetValues(const SettingValues& values)
{
    for (const SettingRow& row : SettingRows()) {
        if (row.key == Setting::Opacity || row.key == Setting::Ie6)
            continue; // below, in the order the IE6 rule needs
        if (QSlider* slider = sliders[Index(row.key)])
            slider->setValue(values[row.key]);
        else if (QAbstractButton* button = buttons[Index(row.key)]) {
            if (row.key == Setting::Dither) // the "floyd" button of a pair: the other takes the off state
                (values.On(row.key) ? button : findChild<QRadioButton*>(QStringLiteral("1008")))->setChecked(true);
            else
                button->setChecked(values.On(row.key));
        }
    }
    ie6->setChecked(values.On(Setting::Ie6));
    if (!values.On(Setting::Ie6))
        sliders[Index(Setting::Opacity)]->setValue(values[Setting::Opacity]);
    // The user-weight box is switched off with the contrast map: set it again once that is on.
    if (values.On(Setting::ContrastMap))
        useUserWeight->setChecked(values.On(Setting::UseUserWeight));
    UpdateLabels();
}

void CTopPanelView::RestoreDefaults()
{
    SetValues(SettingValues());
    autoSave->setChecked(false);
    zoomList->setCurrentIndex(0);
}

void CTopPanelView::SetAutoSave(bool on) { autoSave->setChecked(on); }
int CTopPanelView::ZoomIndex() const { return zoomList->currentIndex(); }

void CTopPanelView::SetZoomIndex(int index)
{
    if (index >= 0 && index < zoomList->count())
        zoomList->setCurrentIndex(index);
}

void CTopPanelView::SetSliderValue(Setting key, int value)
{
    if (QSlider* slider = sliders[Index(key)])
        slider->setValue(value);
}

SettingValues CTopPanelView::Values() const
{
    SettingValues values;
    for (const SettingRow& row : SettingRows()) {
        if (const QSlider* slider = sliders[Index(row.key)])
            values[row.key] = slider->value();
        else if (const QAbstractButton* button = buttons[Index(row.key)])
            values[row.key] = button->isChecked() ? 1 : 0;
    }
    return values;
}

bool CTopPanelView::UseUserWeightChecked() const { return useUserWeight->isChecked(); }
bool CTopPanelView::AutoSaveChecked() const { return autoSave->isChecked(); }

} // namespace tessaline
