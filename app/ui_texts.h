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
inline QString Ready() { return QStringLiteral("レディ"); }
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

/// The zoom list's entries, in list order.
inline QString ZoomEntry(int factor) { return QStringLiteral("x %1").arg(factor); }

} // namespace tessaline::texts
