// The menu entry's MimeType list against the image loader: a file manager offers Tessaline for
// every type the entry claims, so each one must really load.

#include "imageio/image_loader.h"
#include "imageio/qt_bitmap_reader.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <filesystem>

namespace tessaline {
namespace {

QStringList ClaimedMimeTypes()
{
    QFile entry(QStringLiteral(TESSALINE_TEST_DATA_DIR "/../../resources/io.github.tessaline.Tessaline.desktop"));
    EXPECT_TRUE(entry.open(QIODevice::ReadOnly | QIODevice::Text)) << "menu entry not found";
    while (!entry.atEnd()) {
        const QString line = QString::fromUtf8(entry.readLine()).trimmed();
        if (line.startsWith(QStringLiteral("MimeType=")))
            return line.mid(9).split(';', Qt::SkipEmptyParts);
    }
    return {};
}

TEST(DesktopEntryTest, EveryClaimedTypeLoads)
{
    const QStringList claimed = ClaimedMimeTypes();
    ASSERT_TRUE(claimed.contains(QStringLiteral("image/png")));

    const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QImage picture(7, 5, QImage::Format_ARGB32);
    picture.fill(QColor(200, 40, 90));

    for (const QString& mimeType : claimed) {
        SCOPED_TRACE(mimeType.toStdString());
        // Qt's readers come from qt6-image-formats-plugins for TIFF, WebP and others.
        EXPECT_TRUE(readable.contains(mimeType.toUtf8())) << "no Qt image reader for this type";
        // Where Qt can also write the type, a written file must come back through the loader.
        const QList<QByteArray> formats = QImageWriter::imageFormatsForMimeType(mimeType.toUtf8());
        if (formats.isEmpty())
            continue;
        const QString path = folder.filePath(QStringLiteral("picture.") + QString::fromLatin1(formats.first()));
        QImageWriter writer(path, formats.first());
        if (!writer.write(picture))
            continue; // e.g. a writer that wants another size or depth; the reader check above holds
        RgbaImage image;
        QString whyNot;
        if (!LoadImageFile(image, std::filesystem::path(path.toStdString()), QtBitmaps(), &whyNot)) {
            ADD_FAILURE() << "not loaded: " << whyNot.toStdString();
            continue;
        }
        EXPECT_EQ(image.width, 7u);
        EXPECT_EQ(image.height, 5u);
    }
}

} // namespace
} // namespace tessaline
