#pragma once
// app/ui_texts.h: every text the desktop application shows, in one place. The source is UTF-8
// (MSVC needs /utf-8). Label formats keep their printf field widths: "%3d" right-aligns the
// value in three places, and a wider value simply grows the field.

#include <QString>

namespace tessaline::texts {

inline QString WindowTitle() { return QStringLiteral("Tessaline"); }
inline QString Ready() { return QStringLiteral("レディ"); }
inline QString ElapsedText(int ms) { return QString::asprintf("処理時間 : %d ms ", ms); }

// Save dialog.
inline QString PngFilter() { return QStringLiteral("PNGファイル (*.png)"); }
inline QString AllFilesFilter() { return QStringLiteral("すべてのファイル (*.*)"); }

// Check boxes, radio buttons, group box and push buttons of the settings panel.
inline QString Ie6Workaround() { return QStringLiteral("IE6不具合回避"); }
inline QString Algorithm() { return QStringLiteral("アルゴリズム"); }
inline QString Floyd() { return QStringLiteral("floyd"); }
inline QString Ordered() { return QStringLiteral("orderd"); }
inline QString Save() { return QStringLiteral("保存"); }
inline QString AutoSave() { return QStringLiteral("自動保存"); }
inline QString Preview() { return QStringLiteral("プレビュー"); }
inline QString TransparentLast() { return QStringLiteral("透明色をパレットの末尾に置く"); }
inline QString UseContrastMap() { return QStringLiteral("コントラストマップを使用する"); }
inline QString UseDitherMap() { return QStringLiteral("ディザーマップを使用する"); }
inline QString FastHistogram() { return QStringLiteral("ヒストグラムの収束を早める"); }
inline QString UseUserWeight() { return QStringLiteral("ユーザーウェイトを使用する"); }
inline QString ClearWeight() { return QStringLiteral("ウェイトクリア"); }
inline QString Magnification() { return QStringLiteral("表示拡大率"); }

// The small words at both ends of the sliders.
inline QString Few() { return QStringLiteral("少"); }
inline QString Many() { return QStringLiteral("多"); }
inline QString Faint() { return QStringLiteral("淡"); }
inline QString Dense() { return QStringLiteral("濃"); }
inline QString Large() { return QStringLiteral("大"); }
inline QString Small() { return QStringLiteral("小"); }
inline QString Low() { return QStringLiteral("低"); }
inline QString High() { return QStringLiteral("高"); }

// Value labels of the sliders, printf formats with the shown value.
inline QString ColoursLabel(int value) { return QString::asprintf("色数 : %3d", value); }
inline QString OpacityLabel(int value) { return QString::asprintf("不透明度閾値 : %3d", value); }
inline QString HistogramLabel(int value) { return QString::asprintf("ヒストグラム最大色数 : %7d", value); }
inline QString FeedbackLabel(int value)
{
    return QString::asprintf("メディアンカットフィードバックループ試行回数 : %2d", value);
}
inline QString VoronoiLabel(int value) { return QString::asprintf("ボロノイ分割繰り返し回数 : %1d", value); }
inline QString ConvergenceLabel(int value)
{
    return QString::asprintf("ボロノイ分割収束誤差 : 1 / %7d", value);
}
inline QString UserWeightLabel(int value) { return QString::asprintf("ユーザーウェイト : %3d", value); }

/// The zoom list's entries, in list order.
inline QString ZoomEntry(int factor) { return QStringLiteral("x %1").arg(factor); }

} // namespace tessaline::texts
