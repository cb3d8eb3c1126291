#pragma once
// app/top_panel_view.h: the settings strip across the top of the main window. It holds no
// settings of its own: the frame reads the controls when a reduction starts. The panel keeps the
// value labels in step with their sliders, ties a few controls together and forwards the button
// clicks and the zoom choice as signals. Every control's objectName is its numeric id ("1017").
// The setting controls are built from the setting table's rows: ranges, defaults and captions.

#include <array>
#include <vector>

#include <QPointer>
#include <QWidget>

#include "settings/setting_table.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

namespace tessaline {

class CTopPanelView : public QWidget
{
    Q_OBJECT

public:
    /// The panel's size in dialog units; pixels follow from the panel font (DialogRect).
    static constexpr int DialogWidthDu = 638;
    static constexpr int DialogHeightDu = 133;

    explicit CTopPanelView(QWidget* parent = nullptr);

    /// The factor of the zoom list's selection: 1, 2, 4, 8, 12, 16 or 32; 1 with no selection
    /// and for the entries after x 32.
    int ZoomFactor() const;
    /// The divisor of a reduced entry ("x 1/2", "x 1/4", "x 1/8"); 1 for the others.
    int ZoomShrink() const;
    /// True for the fit entry ("全体表示"): the frame picks the scale that shows the image whole.
    bool ZoomFits() const;
    /// Selects the list's next larger (`step` > 0) or smaller scale than `zoom` / `shrink` (the
    /// scale on show, which a fit may have chosen off the list); false at either end.
    bool StepZoom(int step, int zoom, int shrink);
    /// Selects the fit entry, or x 1.
    void SelectFit();
    void SelectActualSize();

    /// Locks every control but the zoom list (a reduction runs and the job has read them all),
    /// or unlocks them, each control then as enabled as it was before.
    void SetLocked(bool locked);

    /// Read by the frame when a reduction starts: every setting row's slider position or check
    /// state. The opacity slider stands at Ie6Opacity while the IE6 box is checked.
    SettingValues Values() const;
    bool UseUserWeightChecked() const;
    /// Sets every setting row that has a control from `values` (sliders kept in their ranges;
    /// the IE6 box's and the contrast map's rules applied as clicks would).
    void SetValues(const SettingValues& values);
    /// Every setting row back to its default, 自動保存 off and the zoom at x 1 ("初期設定に戻す").
    void RestoreDefaults();
    void SetAutoSave(bool on);
    int ZoomIndex() const;
    void SetZoomIndex(int index);
    /// Moves the slider of a slider row to `value` (kept in its range); its label follows.
    void SetSliderValue(Setting key, int value);
    bool AutoSaveChecked() const;

    /// A rectangle in dialog units converted to pixels with the panel font's metrics
    /// (x by a quarter of the average character width, y by an eighth of the line height).
    QRect DialogRect(int x, int y, int width, int height) const;

signals:
    void previewRequested();
    void saveRequested();
    void zoomChanged();
    void clearWeightRequested();
    /// The use-user-weight box or the contrast-map box changed.
    void useWeightChanged();

private:
    QLabel* AddLabel(const QString& text, int x, int y, int width, int height, const char* id = nullptr);
    QCheckBox* AddCheckBox(const char* id, const QString& text, int x, int y, int width, int height);
    QPushButton* AddButton(const char* id, const QString& text, int x, int y, int width, int height);
    // Controls of setting rows: range, default and caption come from the row.
    /// A slider at (x, y) with its value label `labelRise` units above it and its two end words.
    void AddSliderGroup(Setting key, const char* labelId, int labelWidth, const char* sliderId, int x, int y,
                        const QString& lowWord, const QString& highWord, bool labelFirst = true, int labelRise = 12);
    QSlider* AddSlider(Setting key, const char* id, int x, int y);
    QCheckBox* AddSettingBox(Setting key, const char* id, int x, int y, int width, int height);
    QRadioButton* AddRadioButton(const char* id, const char* caption, int x, int y, int width, int height);

    void UpdateLabels();
    void ApplyIe6Rule(bool checked);
    void ApplyContrastRule(bool checked);

    // The control that shows each setting row (a slider with its value label, or a box; the
    // dither row is its "floyd" button).
    std::array<QSlider*, SettingCount> sliders{};
    std::array<QLabel*, SettingCount> valueLabels{};
    std::array<QAbstractButton*, SettingCount> buttons{};

    QCheckBox* ie6 = nullptr;
    QPushButton* save = nullptr;
    QCheckBox* autoSave = nullptr;
    QCheckBox* contrastMap = nullptr;
    QCheckBox* useUserWeight = nullptr;
    QComboBox* zoomList = nullptr;
    std::vector<QPointer<QWidget>> lockedControls; ///< the controls SetLocked disabled
};

} // namespace tessaline
