#pragma once
// app/ui_texts.h: every text the desktop application shows, in one place. The source is UTF-8
// (MSVC needs /utf-8). Label formats keep their printf field widths: "%3d" right-aligns the
// value in three places, and a wider value simply grows the field.

#include <cmath>
#include <cstdint>
#include <string>

#include <QString>

#include "settings/setting_table.h"

namespace tessaline::texts {

inline QString WindowTitle() { return QStringLiteral("Tessaline"); }
/// The title while a file is shown: its name first, as window lists show it.
inline QString WindowTitleFor(const QString& file) { return QStringLiteral("%1 - Tessaline").arg(file); }
inline QString Ready() { return QStringLiteral("レディ"); }
inline QString RestoreDefaults() { return QStringLiteral("初期設定に戻す"); }
inline QString SettingsDock() { return QStringLiteral("設定 (F9)"); }
/// The window's keys, listed where the zoom is chosen and on the views.
inline QString ZoomKeysTip()
{
    return QStringLiteral("拡大 : Ctrl++ / Ctrl+ホイール上、縮小 : Ctrl+- / Ctrl+ホイール下\n"
                          "全体表示 : Ctrl+0、等倍 : Ctrl+1\n"
                          "プレビュー : F5、保存 : Ctrl+S、開く : Ctrl+O、設定の表示 : F9\n"
                          "元画像を見る : Space (押している間)、次 / 前のファイル : PageDown / PageUp\n"
                          "中止 : Esc、一括処理の結果 : Ctrl+L、閉じる : Ctrl+W / Ctrl+Q");
}
inline QString ElapsedText(int ms) { return QString::asprintf("処理時間 : %d ms ", ms); }

/// A file size as the status bar shows it: bytes below 1 KB, else whole KB (1024 bytes) or tenths of MB.
inline QString FileSizeText(std::uint64_t bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 10u * 1024 * 1024)
        return QStringLiteral("%1 KB").arg((bytes + 512) / 1024);
    return QStringLiteral("%1 MB").arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
}
/// PSNR in dB with one decimal; "∞ dB" when the result shows exactly the source.
inline QString PsnrText(double psnr)
{
    return std::isinf(psnr) ? QStringLiteral("∞ dB") : QStringLiteral("%1 dB").arg(psnr, 0, 'f', 1);
}
/// The processing time with the result's figures: "処理時間 : 231 ms | 41.2 dB | 187 色 | 118 KB".
/// The size is left out when the result could not be encoded.
inline QString ResultText(int ms, double psnr, std::uint32_t coloursUsed, std::uint64_t pngBytes)
{
    QString text = ElapsedText(ms) + QStringLiteral("| ") + PsnrText(psnr) +
                   QStringLiteral(" | %1 色").arg(coloursUsed);
    if (pngBytes > 0)
        text += QStringLiteral(" | ") + FileSizeText(pngBytes);
    return text;
}

/// After the figures, what became of the source's colour profile: converted from a described one
/// (" | Adobe RGB (1998) から sRGB に変換"), ignored, or nothing for none or sRGB.
inline QString ProfileText(const std::string& convertedFrom, bool ignored)
{
    if (!convertedFrom.empty())
        return QStringLiteral(" | %1 から sRGB に変換").arg(QString::fromStdString(convertedFrom));
    return ignored ? QStringLiteral(" | カラープロファイルを無視 (壊れているか未対応)") : QString();
}

// Comparing, inspecting and the weight file, in the bar below the views.
inline QString ShowSource() { return QStringLiteral("元画像"); }
inline QString ShowSourceTip() { return QStringLiteral("結果の位置に元画像を表示します (ビューでスペースキーを押している間も)"); }
inline QString Difference() { return QStringLiteral("差分"); }
inline QString DifferenceTip() { return QStringLiteral("元画像との誤差をヒートマップで表示します"); }
inline QString DifferenceLegendTitle() { return QStringLiteral("誤差 (階調)"); }
inline QString SaveWeights() { return QStringLiteral("ウェイト保存"); }
inline QString LoadWeights() { return QStringLiteral("ウェイト読込"); }
inline QString WeightsFileSuffix() { return QStringLiteral("-weight.png"); }
/// The palette strip's hover text for one entry.
inline QString PaletteEntryTip(int index, int r, int g, int b, int a, std::uint64_t pixels)
{
    return QStringLiteral("#%1  RGBA(%2, %3, %4, %5)  %6 画素").arg(index).arg(r).arg(g).arg(b).arg(a).arg(pixels);
}
inline QString PaletteStripTip()
{
    return QStringLiteral("クリックでその色の画素を強調表示 (もう一度クリックで解除)\n"
                          "右クリックでその色を固定 (次のプレビューでもそのまま残します)");
}
/// Added to an entry's hover text while its colour is locked.
inline QString LockedEntry() { return QStringLiteral("  [固定]"); }
inline QString LockedCount(int count) { return QStringLiteral("固定 %1 色 ×").arg(count); }
inline QString LockedCountTip(const QString& colours)
{
    return QStringLiteral("次の減色でそのまま残す色 (AARRGGBB) : %1\nクリックで固定をすべて解除します。新しい画像を開くと解除されます。")
        .arg(colours);
}
inline QString LoadPalette() { return QStringLiteral("パレット読込"); }
inline QString LoadPaletteTip()
{
    return QStringLiteral("パレットファイル (パレットPNG、GIMPパレット .gpl、256色以下の画像) の色をそのままの順で使います "
                          "(もう一度押すと解除)");
}
inline QString SavePalette() { return QStringLiteral("パレット保存"); }
inline QString SavePaletteTip() { return QStringLiteral("結果のパレットをパレットPNGまたはGIMPパレット (.gpl) で保存します"); }
inline QString PaletteFilter() { return QStringLiteral("パレットファイル (*.png *.gpl)"); }
inline QString GimpPaletteFilter() { return QStringLiteral("GIMPパレット (*.gpl)"); }
inline QString PaletteLoaded(const QString& path, int entries)
{
    return QStringLiteral("パレットを読み込みました : %1 (%2 色)").arg(path).arg(entries);
}
inline QString PaletteNotLoaded(const QString& path, const QString& reason)
{
    return QStringLiteral("パレットを読み込めません : %1 (%2)").arg(path, reason);
}
inline QString PaletteDropped() { return QStringLiteral("読み込んだパレットの使用を解除しました"); }
inline QString PaletteSaved(const QString& path) { return QStringLiteral("パレットを保存しました : %1").arg(path); }
inline QString PaletteNotSaved(const QString& path) { return QStringLiteral("パレットを保存できません : %1").arg(path); }
inline QString PaletteFileName() { return QStringLiteral("palette.png"); }
inline QString WeightsSaved(const QString& path) { return QStringLiteral("ウェイトを保存しました : %1").arg(path); }
inline QString WeightsNotSaved(const QString& path) { return QStringLiteral("ウェイトを保存できません : %1").arg(path); }
inline QString WeightsLoaded(const QString& path) { return QStringLiteral("ウェイトを読み込みました : %1").arg(path); }
inline QString WeightsNotLoaded(const QString& path) { return QStringLiteral("ウェイトを読み込めません : %1").arg(path); }
inline QString WeightsWrongSize(int width, int height, int imageWidth, int imageHeight)
{
    return QStringLiteral("ウェイト画像の大きさ (%1 x %2) が画像 (%3 x %4) と違います")
        .arg(width).arg(height).arg(imageWidth).arg(imageHeight);
}

// The colour curve: size and PSNR against the colour count.
inline QString ColourCurve() { return QStringLiteral("色数カーブ"); }
inline QString ColourCurveTip()
{
    return QStringLiteral("色数ごとのファイルサイズと PSNR (点をクリックするとその色数で減色します)");
}
inline QString CurveColoursAxis() { return QStringLiteral("色数"); }
inline QString CurveSizeAxis() { return QStringLiteral("サイズ"); }
inline QString CurvePsnrAxis() { return QStringLiteral("PSNR"); }
inline QString CurveMeasuring(int done, int total)
{
    return QStringLiteral("計算中... %1 / %2").arg(done).arg(total);
}
inline QString CurveFailed() { return QStringLiteral("カーブを計算できません"); }
inline QString CurveEmpty() { return QStringLiteral("画像を読み込むとカーブを表示します"); }
inline QString CurveCurrent(int colours) { return QStringLiteral("現在 %1 色").arg(colours); }
/// One point's hover text: "64 色 : 95 KB | 40.1 dB | 最大誤差 25".
inline QString CurvePointTip(int colours, std::uint64_t bytes, double psnr, int maxError)
{
    return QStringLiteral("%1 色 : ").arg(colours) + FileSizeText(bytes) + QStringLiteral(" | ") +
           PsnrText(psnr) + QStringLiteral(" | 最大誤差 %1").arg(maxError);
}

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
/// A save's confirmation: where the file went, after the result's figures.
inline QString SavedWithFigures(const QString& figures, const QString& path)
{
    return QStringLiteral("%1 | 保存しました : %2").arg(figures.trimmed(), path);
}
inline QString StoppingText() { return QStringLiteral("中止しています..."); }
inline QString StoppedText() { return QStringLiteral("中止しました"); }
/// The end of a batch: how many results were written and how many files failed; with failures
/// it points to the batch list, which holds every file with its reason.
inline QString BatchSummaryText(int saved, int failed)
{
    const QString counts = QStringLiteral("一括処理終了 : %1 件保存、%2 件失敗").arg(saved).arg(failed);
    return failed == 0 ? counts : counts + QStringLiteral(" (理由は「一括処理の結果」で)");
}
/// A batch stopped by the user, with the same counts.
inline QString BatchStoppedText(int saved, int failed)
{
    return QStringLiteral("中止しました : %1 件保存、%2 件失敗").arg(saved).arg(failed);
}
/// Files added to a running batch.
inline QString AddedToBatchText(int count) { return QStringLiteral("一括処理に %1 件追加しました").arg(count); }
// 共有パレット: the batch's files are read once for the palette before the first is reduced.
inline QString ChoosingSharedPaletteText(int count)
{
    return QStringLiteral("共有パレットを選んでいます : %1 件").arg(count);
}
inline QString SharedPaletteFailedText(const QString& reason)
{
    return QStringLiteral("共有パレットを選べません : %1").arg(reason);
}
inline QString NoReadableImage() { return QStringLiteral("読み込める画像がありません"); }

// The batch list: every file of a batch with what became of it.
inline QString BatchListButton() { return QStringLiteral("一括処理の結果"); }
inline QString BatchListButtonWithKey() { return QStringLiteral("一括処理の結果 (Ctrl+L)"); }
inline QString BatchListTitle() { return QStringLiteral("一括処理の結果 - Tessaline"); }
inline QString CopyList() { return QStringLiteral("コピー"); }
inline QString OutcomeFileHeader() { return QStringLiteral("ファイル"); }
inline QString OutcomeStateHeader() { return QStringLiteral("結果"); }
inline QString OutcomeDetailHeader() { return QStringLiteral("保存先 / 理由"); }
inline QString OutcomeWaiting() { return QStringLiteral("待機中"); }
inline QString OutcomeSaved() { return QStringLiteral("保存"); }
inline QString OutcomeFailed() { return QStringLiteral("失敗"); }
inline QString OutcomeStopped() { return QStringLiteral("中止"); }
/// A failure as the batch list gives it: what failed (reading, reducing, saving) and why.
inline QString LoadFailedDetail(const QString& reason) { return QStringLiteral("読み込めません (%1)").arg(reason); }
inline QString ReduceFailedDetail(const QString& reason) { return QStringLiteral("減色できません (%1)").arg(reason); }
inline QString SaveFailedDetail(const QString& target, const QString& reason)
{
    return QStringLiteral("保存できません : %1 (%2)").arg(target, reason);
}

// The list of files taken in without automatic saving, stepped through with Page Down / Page Up.
/// Where the shown file stands in the list, in the status bar.
inline QString FileListPosition(int position, int count)
{
    return QStringLiteral("%1 / %2 ファイル (PageDown: 次, PageUp: 前)").arg(position).arg(count);
}
inline QString NextFile() { return QStringLiteral("次のファイル"); }
inline QString PreviousFile() { return QStringLiteral("前のファイル"); }
/// A file asked for (a drop, Page Down) while another is worked on.
inline QString OpensAfterText(const QString& file)
{
    return QStringLiteral("%1 は今の減色が終わってから開きます (Esc で中止)").arg(file);
}
/// Files of a drop beyond the first, kept in the list.
inline QString AddedToListText(int count)
{
    return QStringLiteral("ほかの %1 件は一覧に入れました (PageDown で次へ)").arg(count);
}
inline QString NoImagesInFolder() { return QStringLiteral("フォルダに画像がありません"); }
inline QString WalkingFolderText() { return QStringLiteral("フォルダ内の画像を探しています…"); }
inline QString LoadingText(const QString& file) { return QStringLiteral("読み込み中 : %1").arg(file); }

// Why the result view is empty.
inline QString ReducingHint() { return QStringLiteral("減色中..."); }
inline QString StoppedHint() { return QStringLiteral("中止しました : 結果はありません"); }
inline QString FailedHint(const QString& reason) { return QStringLiteral("減色できませんでした (%1)").arg(reason); }

// The few words of why.
inline QString NoSuchFile() { return QStringLiteral("ファイルがありません"); }
inline QString IsAFolder() { return QStringLiteral("フォルダです"); }
inline QString NotARegularFile() { return QStringLiteral("通常のファイルではありません"); }
inline QString Unreadable() { return QStringLiteral("読み取れません"); }
inline QString Damaged() { return QStringLiteral("ファイルが壊れています"); }
inline QString ImageTooLarge() { return QStringLiteral("画像が大きすぎます"); }
inline QString FileTooLarge() { return QStringLiteral("ファイルが大きすぎます"); }
inline QString NotReadable() { return QStringLiteral("読み取りが許可されていません"); }
inline QString NotAnImage() { return QStringLiteral("画像として読めません"); }
inline QString OutOfMemory() { return QStringLiteral("メモリが足りません"); }
inline QString QualityTooLow() { return QStringLiteral("誤差が許容範囲を超えました"); }
inline QString TargetIsDroppedFile() { return QStringLiteral("ドロップされたファイルは上書きしません"); }
inline QString OutputNotAFolder() { return QStringLiteral("OUTPUT がフォルダではありません"); }
inline QString CannotCreateFolder() { return QStringLiteral("フォルダを作成できません"); }
inline QString NoSuchFolder() { return QStringLiteral("保存先のフォルダがありません"); }
inline QString NotWritable() { return QStringLiteral("書き込みが許可されていません"); }
inline QString DiskFull() { return QStringLiteral("ディスクの空きがありません"); }
inline QString WriteFailed() { return QStringLiteral("書き込みに失敗しました"); }

// The settings panel. The captions and value formats of the setting controls live in their rows
// of settings/setting_table.h (UTF-8), shared with the command line's help; these two read them.
inline QString Caption(const char* utf8) { return QString::fromUtf8(utf8); }
/// A slider's value label: "caption : value" in the row's printf format.
inline QString SliderLabel(const SettingRow& row, int position)
{
    return Caption(row.caption) + QStringLiteral(" : ") + QString::asprintf(row.valueFormat, ShownValue(row, position));
}

// Push buttons and other captions of the settings panel.
inline QString Save() { return QStringLiteral("保存"); }
inline QString AutoSave() { return QStringLiteral("自動保存"); }
inline QString Preview() { return QStringLiteral("プレビュー"); }
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

/// The zoom list's entries, in list order: the magnifications, the reductions, the fit.
inline QString ZoomEntry(int factor) { return QStringLiteral("x %1").arg(factor); }
inline QString ShrinkEntry(int divisor) { return QStringLiteral("x 1/%1").arg(divisor); }
inline QString FitEntry() { return QStringLiteral("全体表示"); }
inline QString DotEntry() { return QStringLiteral("ドット等倍"); }

} // namespace tessaline::texts
