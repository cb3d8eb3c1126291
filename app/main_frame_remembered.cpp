// app/main_frame_remembered.cpp: what the window keeps between starts in Qt's settings store
// (the panel's settings, 自動保存, the zoom, the window's place and docks, the last folder). Only
// the window reads and writes it; the command line never does.
#include "app/main_frame.h"

#include <QSettings>
#include <QVariant>

#include "app/top_panel_view.h"
#include "imageio/input_names.h"

namespace tessaline {

namespace {

QString PanelKey(const SettingRow& row)
{
    return QStringLiteral("panel/") + QString::fromUtf8(row.name);
}

} // namespace

std::unique_ptr<QSettings> OpenWindowStore()
{
    return std::make_unique<QSettings>(QStringLiteral("Tessaline"), QStringLiteral("Tessaline"));
}

void CMainFrame::RestoreRemembered(QSettings& store)
{
    // A value outside its row's range (an edited or older store) is left at the default.
    SettingValues values = panel->Values();
    for (const SettingRow& row : SettingRows()) {
        bool ok = false;
        const int value = store.value(PanelKey(row)).toInt(&ok);
        if (ok && value >= row.low && value <= row.high)
            values[row.key] = value;
    }
    panel->SetValues(values);
    panel->SetAutoSave(store.value(QStringLiteral("panel/auto-save"), false).toBool());
    panel->SetZoomIndex(store.value(QStringLiteral("view/zoom"), 0).toInt());
    restoreGeometry(store.value(QStringLiteral("window/geometry")).toByteArray());
    restoredDocks = restoreState(store.value(QStringLiteral("window/docks")).toByteArray());
    lastFolder = ToPath(store.value(QStringLiteral("files/last-folder")).toString());
}

void CMainFrame::Remember(QSettings& store) const
{
    const SettingValues values = panel->Values();
    for (const SettingRow& row : SettingRows())
        store.setValue(PanelKey(row), values[row.key]);
    store.setValue(QStringLiteral("panel/auto-save"), panel->AutoSaveChecked());
    store.setValue(QStringLiteral("view/zoom"), panel->ZoomIndex());
    store.setValue(QStringLiteral("window/geometry"), saveGeometry());
    store.setValue(QStringLiteral("window/docks"), saveState());
    const std::filesystem::path folder = sourcePath.empty() ? lastFolder : sourcePath.parent_path();
    store.setValue(QStringLiteral("files/last-folder"), ToQString(folder));
    store.sync();
}

} // namespace tessaline
