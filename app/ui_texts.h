#pragma once
// app/ui_texts.h: every text the desktop application shows, in one place. The source is UTF-8
// (MSVC needs /utf-8). Label formats keep their printf field widths: "%3d" right-aligns the
// value in three places, and a wider value simply grows the field.

#include <QString>

#include "settings/setting_table.h"

namespace tessaline::texts {

inline QString WindowTitle() { return QStringLiteral("Tessaline"); }
inline QString Ready() { return QStringLiteral("レディ"); }
inline QString ElapsedText(int ms) { return QString::asprintf("処理時間 : %d ms ", ms); }

// Save dialog.
inline QString PngFilter() { return QStringLiteral("PNGファイル (*.png)"); }
inline QString AllFilesFilter() { return QStringLiteral("すべてのファイル (*.*)"); }

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
