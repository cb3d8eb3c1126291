// Settings panel: ranges, defaults, label texts, the enabling rules and the five requests.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include "app/top_panel_view.h"
#include "app/view_state.h"

using tessaline::CTopPanelView;

class TopPanelViewTest : public QObject
{
    Q_OBJECT

    template <typename T> T* Control(CTopPanelView& panel, const char* id)
    {
        T* control = panel.findChild<T*>(QString::fromLatin1(id));
        if (!control)
            qFatal("control %s missing", id);
        return control;
    }

private slots:
    void SlidersHaveTheirRangesAndDefaults()
    {
        CTopPanelView panel;
        struct Case { const char* id; int minimum, maximum, position; };
        const Case cases[] = {{"1017", 2, 256, 256}, {"1018", 1, 256, 256}, {"1027", 0, 63, 10},
                              {"1028", 0, 49, 49},  {"1029", 0, 7, 7},     {"1030", 13, 22, 22},
                              {"1037", 0, 100, 15}};
        for (const Case& c : cases) {
            auto* slider = Control<QSlider>(panel, c.id);
            QCOMPARE(slider->minimum(), c.minimum);
            QCOMPARE(slider->maximum(), c.maximum);
            QCOMPARE(slider->value(), c.position);
            QCOMPARE(slider->orientation(), Qt::Horizontal);
            QCOMPARE(slider->tickPosition(), QSlider::NoTicks);
        }
    }

    void LabelsStartFromTheSliderPositions()
    {
        CTopPanelView panel;
        QCOMPARE(Control<QLabel>(panel, "1019")->text(), QStringLiteral("色数 : 256"));
        QCOMPARE(Control<QLabel>(panel, "1020")->text(), QStringLiteral("不透明度閾値 : 256"));
        QCOMPARE(Control<QLabel>(panel, "1031")->text(), QStringLiteral("ヒストグラム最大色数 : 2752512"));
        QCOMPARE(Control<QLabel>(panel, "1032")->text(),
                 QStringLiteral("メディアンカットフィードバックループ試行回数 : 49")); // as --feedback says
        QCOMPARE(Control<QLabel>(panel, "1033")->text(), QStringLiteral("ボロノイ分割繰り返し回数 : 7"));
        QCOMPARE(Control<QLabel>(panel, "1034")->text(), QStringLiteral("ボロノイ分割収束誤差 : 1 / 4194304"));
        QCOMPARE(Control<QLabel>(panel, "1036")->text(), QStringLiteral("ユーザーウェイト :  15"));
    }

    void LabelsFollowTheirSliders()
    {
        CTopPanelView panel;
        Control<QSlider>(panel, "1028")->setValue(0); // the label, the flag and the job say 0 alike
        QCOMPARE(Control<QLabel>(panel, "1032")->text(),
                 QStringLiteral("メディアンカットフィードバックループ試行回数 :  0"));
        QCOMPARE(panel.Values()[tessaline::Setting::Feedback], 0);
        Control<QSlider>(panel, "1027")->setValue(63);
        QCOMPARE(Control<QLabel>(panel, "1031")->text(), QStringLiteral("ヒストグラム最大色数 : 16646144"));
        Control<QSlider>(panel, "1027")->setValue(0);
        QCOMPARE(Control<QLabel>(panel, "1031")->text(), QStringLiteral("ヒストグラム最大色数 :  131072"));
        Control<QSlider>(panel, "1030")->setValue(13);
        QCOMPARE(Control<QLabel>(panel, "1034")->text(), QStringLiteral("ボロノイ分割収束誤差 : 1 /    8192"));
        Control<QSlider>(panel, "1017")->setValue(2);
        QCOMPARE(Control<QLabel>(panel, "1019")->text(), QStringLiteral("色数 :   2"));
        QTest::keyClick(Control<QSlider>(panel, "1037"), Qt::Key_Right);
        QCOMPARE(Control<QLabel>(panel, "1036")->text(), QStringLiteral("ユーザーウェイト :  16"));
    }

    void ChecksCaptionsAndZoomListStartAsDesigned()
    {
        CTopPanelView panel;
        struct Case { const char* id; const char* caption; bool checked; };
        const Case cases[] = {{"1021", "自動保存", false},
                              {"1023", "透明色をパレットの末尾に置く", false},
                              {"1003", "IE6不具合回避", false},
                              {"1024", "コントラストマップを使用する", true},
                              {"1025", "ディザーマップを使用する", true},
                              {"1026", "ヒストグラムの収束を早める", false},
                              {"1038", "ユーザーウェイトを使用する", false},
                              {"1040", "知覚的な色差を使用する", false},
                              {"1042", "共有パレット", false},
                              {"1043", "メタデータを保持", false}};
        for (const Case& c : cases) {
            auto* box = Control<QCheckBox>(panel, c.id);
            QCOMPARE(box->text(), QString::fromUtf8(c.caption));
            QCOMPARE(box->isChecked(), c.checked);
        }
        QVERIFY(Control<QRadioButton>(panel, "1007")->isChecked());
        QCOMPARE(Control<QRadioButton>(panel, "1007")->text(), QStringLiteral("floyd"));
        QVERIFY(!Control<QRadioButton>(panel, "1008")->isChecked());
        QCOMPARE(Control<QRadioButton>(panel, "1008")->text(), QStringLiteral("orderd"));
        QCOMPARE(Control<QPushButton>(panel, "1012")->text(), QStringLiteral("保存"));
        QVERIFY(Control<QPushButton>(panel, "1012")->isEnabled());
        QCOMPARE(Control<QPushButton>(panel, "1022")->text(), QStringLiteral("プレビュー"));
        QCOMPARE(Control<QPushButton>(panel, "1039")->text(), QStringLiteral("ウェイトクリア"));

        auto* zoom = Control<QComboBox>(panel, "1035");
        // The magnifications first, as always; then the reductions and the fit, added after them.
        const QStringList entries = {"x 1",
                                     "x 2",
                                     "x 4",
                                     "x 8",
                                     "x 12",
                                     "x 16",
                                     "x 32",
                                     "x 1/2",
                                     "x 1/4",
                                     "x 1/8",
                                     QStringLiteral("全体表示"),
                                     QStringLiteral("ドット等倍")};
        QCOMPARE(zoom->count(), entries.size());
        for (int i = 0; i < entries.size(); ++i)
            QCOMPARE(zoom->itemText(i), entries[i]);
        QCOMPARE(zoom->currentIndex(), 0);
        const int factors[] = {1, 2, 4, 8, 12, 16, 32};
        for (int i = 0; i < 7; ++i) {
            zoom->setCurrentIndex(i);
            QCOMPARE(panel.ZoomFactor(), factors[i]);
        }
        const int shrinks[] = {2, 4, 8};
        for (int i = 0; i < 3; ++i) {
            zoom->setCurrentIndex(7 + i);
            QCOMPARE(panel.ZoomFactor(), 1);
            QCOMPARE(panel.ZoomShrink(), shrinks[i]);
            QVERIFY(!panel.ZoomFits());
        }
        zoom->setCurrentIndex(10);
        QVERIFY(panel.ZoomFits());
        zoom->setCurrentIndex(11); // ドット等倍: the screen's whole scale (1 here), never a fit
        QVERIFY(!panel.ZoomFits());
        QCOMPARE(panel.ZoomFactor(), 1);
        QCOMPARE(panel.ZoomShrink(), tessaline::DotShrink(panel.devicePixelRatioF()));
        panel.SelectFit();
        QCOMPARE(zoom->currentIndex(), 10);
        zoom->setCurrentIndex(-1);
        QCOMPARE(panel.ZoomFactor(), 1);
        QCOMPARE(panel.ZoomShrink(), 1);
    }

    void PerceptualBoxPicksTheSecondTuning()
    {
        CTopPanelView panel;
        QCOMPARE(panel.Values()[tessaline::Setting::Tune], 0);
        Control<QCheckBox>(panel, "1040")->setChecked(true);
        QCOMPARE(panel.Values()[tessaline::Setting::Tune], 1);
        tessaline::ReduceSettings job;
        tessaline::FillReduceSettings(panel.Values(), job);
        QVERIFY(job.channelScales == tessaline::PerceptualChannels);
    }

    void ChoosingOrderedUnchecksFloyd()
    {
        CTopPanelView panel;
        QTest::mouseClick(Control<QRadioButton>(panel, "1008"), Qt::LeftButton);
        QVERIFY(!panel.Values().On(tessaline::Setting::Dither));
        QVERIFY(!Control<QRadioButton>(panel, "1007")->isChecked());
    }

    void Ie6RuleHoldsOpacityAt238AndReturnsTo256()
    {
        CTopPanelView panel;
        auto* opacity = Control<QSlider>(panel, "1018");
        auto* label = Control<QLabel>(panel, "1020");
        opacity->setValue(100);
        Control<QCheckBox>(panel, "1003")->setChecked(true);
        QCOMPARE(opacity->value(), 238);
        QCOMPARE(label->text(), QStringLiteral("不透明度閾値 : 238"));
        QVERIFY(!opacity->isEnabled());
        QVERIFY(!label->isEnabled());
        Control<QCheckBox>(panel, "1003")->setChecked(false);
        QCOMPARE(opacity->value(), 256); // not back to 100
        QCOMPARE(label->text(), QStringLiteral("不透明度閾値 : 256"));
        QVERIFY(opacity->isEnabled());
        QVERIFY(label->isEnabled());
    }

    void ContrastRuleGovernsUserWeight()
    {
        CTopPanelView panel;
        QSignalSpy useWeight(&panel, &CTopPanelView::useWeightChanged);
        auto* contrast = Control<QCheckBox>(panel, "1024");
        auto* weight = Control<QCheckBox>(panel, "1038");
        weight->setChecked(true);
        QCOMPARE(useWeight.count(), 1);
        contrast->setChecked(false);
        QVERIFY(!weight->isChecked());
        QVERIFY(!weight->isEnabled());
        QVERIFY(!panel.UseUserWeightChecked());
        QCOMPARE(useWeight.count(), 2);
        contrast->setChecked(true);
        QVERIFY(weight->isEnabled());
        QVERIFY(!weight->isChecked());
        QCOMPARE(useWeight.count(), 3);
    }

    void AutoSaveDisablesSave()
    {
        CTopPanelView panel;
        auto* save = Control<QPushButton>(panel, "1012");
        QTest::mouseClick(Control<QCheckBox>(panel, "1021"), Qt::LeftButton);
        QVERIFY(panel.AutoSaveChecked());
        QVERIFY(!save->isEnabled());
        QTest::mouseClick(Control<QCheckBox>(panel, "1021"), Qt::LeftButton);
        QVERIFY(save->isEnabled());
    }

    void ButtonsAndZoomListSendTheirRequests()
    {
        CTopPanelView panel;
        QSignalSpy preview(&panel, &CTopPanelView::previewRequested);
        QSignalSpy save(&panel, &CTopPanelView::saveRequested);
        QSignalSpy clear(&panel, &CTopPanelView::clearWeightRequested);
        QSignalSpy zoom(&panel, &CTopPanelView::zoomChanged);
        QTest::mouseClick(Control<QPushButton>(panel, "1022"), Qt::LeftButton);
        QTest::mouseClick(Control<QPushButton>(panel, "1012"), Qt::LeftButton);
        QTest::mouseClick(Control<QPushButton>(panel, "1039"), Qt::LeftButton);
        Control<QComboBox>(panel, "1035")->setCurrentIndex(3);
        QCOMPARE(preview.count(), 1);
        QCOMPARE(save.count(), 1);
        QCOMPARE(clear.count(), 1);
        QCOMPARE(zoom.count(), 1);
        // Moving a slider or ticking a setting requests nothing.
        Control<QSlider>(panel, "1017")->setValue(30);
        Control<QCheckBox>(panel, "1026")->setChecked(true);
        QCOMPARE(preview.count(), 1);
    }

    void ControlsSitAtTheirDialogUnitPositionsInTemplateOrder()
    {
        CTopPanelView panel;
        panel.show();
        QCOMPARE(Control<QSlider>(panel, "1017")->geometry(), panel.DialogRect(24, 18, 204, 15));
        QCOMPARE(Control<QPushButton>(panel, "1012")->geometry(), panel.DialogRect(444, 108, 48, 16));
        // Check boxes keep their place and may grow to show their whole caption.
        const QRect weightBox = Control<QCheckBox>(panel, "1038")->geometry();
        QCOMPARE(weightBox.topLeft(), panel.DialogRect(522, 78, 99, 10).topLeft());
        QVERIFY(weightBox.width() >= panel.DialogRect(522, 78, 99, 10).width());
        QVERIFY(weightBox.width() >= Control<QCheckBox>(panel, "1038")->sizeHint().width());
        QVERIFY(weightBox.right() < panel.DialogRect(0, 0, CTopPanelView::DialogWidthDu, 1).width() + 40);
        QVERIFY(panel.DialogRect(0, 0, 4, 8).width() > 0);
        // The batch's two boxes found room: inside the panel, over no other control.
        for (const char* id : {"1042", "1043"}) {
            const QRect box = Control<QCheckBox>(panel, id)->geometry();
            QVERIFY(box.bottom() < panel.minimumHeight());
            for (QWidget* other : panel.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (other->objectName() != QLatin1String(id) && other->isVisible() && !other->objectName().isEmpty())
                    QVERIFY2(!other->geometry().intersects(box), qPrintable(other->objectName() + " under " + id));
        }
        // Tab order is template order: IE6 box first, then the radio buttons, then Save.
        QWidget* ie6 = Control<QCheckBox>(panel, "1003");
        QList<QWidget*> order;
        for (QWidget* w = ie6; order.size() < 40; w = w->nextInFocusChain()) {
            if (w->focusPolicy() & Qt::TabFocus)
                order << w;
            if (w->nextInFocusChain() == ie6)
                break;
        }
        const QStringList expected = {"1003", "1007", "1008", "1012", "1017", "1018", "1021", "1022",
                                      "1023", "1024", "1025", "1026", "1027", "1028", "1029", "1030",
                                      "1035", "1037", "1038", "1039", "1040", "1041", "1042", "1043"};
        QStringList ids;
        for (QWidget* w : order)
            if (!w->objectName().isEmpty())
                ids << w->objectName();
        QCOMPARE(ids, expected);
    }
};

QTEST_MAIN(TopPanelViewTest)
#include "top_panel_view_test.moc"
