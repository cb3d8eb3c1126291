#pragma once
// app/top_panel_view.h: the settings strip across the top of the main window. It holds no
// settings of its own: the frame reads the controls when a reduction starts. The panel keeps the
// value labels in step with their sliders, ties a few controls together and forwards the button
// clicks and the zoom choice as signals. Every control's objectName is its numeric id ("1017").

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
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

    /// The factor of the zoom list's selection: 1, 2, 4, 8, 12, 16 or 32; 1 with no selection.
    int ZoomFactor() const;

    // Read by the frame when a reduction starts: slider positions and check states.
    int ColoursPosition() const;
    int OpacityPosition() const;
    bool FloydChecked() const;
    bool TransparentLastChecked() const;
    bool ContrastMapChecked() const;
    bool DitherMapChecked() const;
    bool FastHistogramChecked() const;
    int HistogramPosition() const;
    int FeedbackPosition() const;
    int VoronoiPosition() const;
    int ConvergencePosition() const;
    bool UseUserWeightChecked() const;
    int UserWeightPosition() const;
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
    QSlider* AddSlider(const char* id, int x, int y, int minimum, int maximum);
    QCheckBox* AddCheckBox(const char* id, const QString& text, int x, int y, int width, int height);
    QPushButton* AddButton(const char* id, const QString& text, int x, int y, int width, int height);

    void UpdateLabels();
    void ApplyIe6Rule(bool checked);
    void ApplyContrastRule(bool checked);

    QCheckBox* ie6 = nullptr;
    QGroupBox* algorithm = nullptr;
    QRadioButton* floyd = nullptr;
    QRadioButton* ordered = nullptr;
    QButtonGroup* algorithmGroup = nullptr;
    QPushButton* save = nullptr;
    QLabel* coloursLabel = nullptr;
    QSlider* colours = nullptr;
    QLabel* opacityLabel = nullptr;
    QSlider* opacity = nullptr;
    QCheckBox* autoSave = nullptr;
    QPushButton* preview = nullptr;
    QCheckBox* transparentLast = nullptr;
    QCheckBox* contrastMap = nullptr;
    QCheckBox* ditherMap = nullptr;
    QCheckBox* fastHistogram = nullptr;
    QLabel* histogramLabel = nullptr;
    QSlider* histogram = nullptr;
    QSlider* feedback = nullptr;
    QLabel* feedbackLabel = nullptr;
    QLabel* voronoiLabel = nullptr;
    QSlider* voronoi = nullptr;
    QLabel* convergenceLabel = nullptr;
    QSlider* convergence = nullptr;
    QComboBox* zoomList = nullptr;
    QLabel* userWeightLabel = nullptr;
    QSlider* userWeight = nullptr;
    QCheckBox* useUserWeight = nullptr;
    QPushButton* clearWeight = nullptr;
};

} // namespace tessaline
