#include "cli/bitmap_plugin_loader.h"

#include <mutex>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include "imageio/bitmap_plugin.h"

namespace tessaline {
namespace {

class PluginReader final : public BitmapReader
{
public:
    bool ReadFile(RgbaImage& image, const std::filesystem::path& path, QString* whyNot,
                  ProfileOutcome* profile) override
    {
        BitmapReader* reader = Loaded();
        if (!reader)
            return Missing(image, whyNot);
        return reader->ReadFile(image, path, whyNot, profile);
    }

    bool ReadBytes(RgbaImage& image, const QByteArray& bytes, QString* whyNot,
                   ProfileOutcome* profile) override
    {
        BitmapReader* reader = Loaded();
        if (!reader)
            return Missing(image, whyNot);
        return reader->ReadBytes(image, bytes, whyNot, profile);
    }

    bool Recognises(QIODevice& device) override
    {
        BitmapReader* reader = Loaded();
        return reader && reader->Recognises(device);
    }

private:
    BitmapReader* Loaded()
    {
        std::call_once(once, [this] { Load(); });
        return reader;
    }

    void Load()
    {
        const QString programDir = QCoreApplication::applicationDirPath();
        const QString candidates[] = {
            programDir + QLatin1Char('/') + QStringLiteral(TESSALINE_BITMAP_PLUGIN),
            QDir::cleanPath(programDir + QLatin1Char('/') + QStringLiteral(TESSALINE_BITMAP_PLUGIN_DIR) +
                            QLatin1Char('/') + QStringLiteral(TESSALINE_BITMAP_PLUGIN)),
        };
        for (const QString& candidate : candidates) {
            if (!QFileInfo::exists(candidate))
                continue;
            library.setFileName(candidate);
            if (!library.load()) {
                failure = library.errorString();
                continue;
            }
            const auto entry = reinterpret_cast<BitmapPluginEntryFunction>(library.resolve(BitmapPluginEntry));
            if (entry && (reader = entry()))
                return;
            failure = candidate + QStringLiteral(": not a Tessaline bitmap module");
            library.unload();
        }
        if (failure.isEmpty())
            failure = QStringLiteral(TESSALINE_BITMAP_PLUGIN) + QStringLiteral(" is not installed");
    }

    bool Missing(RgbaImage& image, QString* whyNot) const
    {
        image.Release();
        if (whyNot)
            *whyNot = QStringLiteral("not a PNG, and the reader of other formats cannot be loaded (") + failure +
                      QLatin1Char(')');
        return false;
    }

    std::once_flag once;
    QLibrary library;
    BitmapReader* reader = nullptr;
    QString failure;
};

} // namespace

BitmapReader& PluginBitmaps()
{
    static PluginReader reader;
    return reader;
}

} // namespace tessaline
