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

// Open dialog and the window's own actions.
inline QString Open() { return QStringLiteral("開く..."); }
inline QString OpenTitle() { return QStringLiteral("画像ファイルを開く"); }
inline QString ImageFilter()
{
    return QStringLiteral("画像ファイル (*.png *.jpg *.jpeg *.bmp *.gif *.tif *.tiff *.webp *.ico)");
}
inline QString Stop() { return QStringLiteral("中止"); }
/// Shown in the empty source view.
inline QString EmptySourceHint()
{
    return QStringLiteral("画像ファイルをここにドロップするか、Ctrl+O で開いてください");
}

// Status-bar reports: which file, and why in a few words. A batch goes on after each of them.
inline QString LoadFailedText(const QString& file, const QString& reason)
{
    return QStringLiteral("読み込めません : %1 (%2)").arg(file, reason);
}
inline QString ReduceFailedText(const QString& file, const QString& reason)
{
    return QStringLiteral("減色できません : %1 (%2)").arg(file, reason);
}
inline QString SaveFailedText(const QString& file, const QString& reason)
{
    return QStringLiteral("保存できません : %1 (%2)").arg(file, reason);
}
inline QString SavedText(const QString& file) { return QStringLiteral("保存しました : %1").arg(file); }
inline QString StoppingText() { return QStringLiteral("中止しています..."); }
inline QString StoppedText() { return QStringLiteral("中止しました"); }
/// The end of a batch: how many results were written and how many files failed, naming them.
inline QString BatchSummaryText(int saved, int failed, const QString& failedFiles)
{
    const QString counts = QStringLiteral("一括処理終了 : %1 件保存、%2 件失敗").arg(saved).arg(failed);
    return failedFiles.isEmpty() ? counts : QStringLiteral("%1 (%2)").arg(counts, failedFiles);
}
/// A batch stopped by the user, with the same counts.
inline QString BatchStoppedText(int saved, int failed)
{
    return QStringLiteral("中止しました : %1 件保存、%2 件失敗").arg(saved).arg(failed);
}
/// Failed files beyond the ones named in a summary.
inline QString AndOthersText(int count) { return QStringLiteral("ほか %1 件").arg(count); }

// The few words of why.
inline QString NoSuchFile() { return QStringLiteral("ファイルがありません"); }
inline QString NotReadable() { return QStringLiteral("読み取りが許可されていません"); }
inline QString NotAnImage() { return QStringLiteral("画像として読めません"); }
inline QString OutOfMemory() { return QStringLiteral("メモリが足りません"); }
inline QString QualityTooLow() { return QStringLiteral("誤差が許容範囲を超えました"); }
inline QString OutputNotAFolder() { return QStringLiteral("OUTPUT がフォルダではありません"); }
inline QString CannotCreateFolder() { return QStringLiteral("フォルダを作成できません"); }
inline QString NoSuchFolder() { return QStringLiteral("保存先のフォルダがありません"); }
inline QString NotWritable() { return QStringLiteral("書き込みが許可されていません"); }
inline QString DiskFull() { return QStringLiteral("ディスクの空きがありません"); }
inline QString WriteFailed() { return QStringLiteral("書き込みに失敗しました"); }

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
