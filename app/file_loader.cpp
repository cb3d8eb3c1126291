#include "app/file_loader.h"

#include <memory>
#include <new>

#include "imageio/bitmap_bridge.h"
#include "imageio/image_loader.h"
#include "imageio/qt_bitmap_reader.h"

namespace tessaline {

namespace {

// Runs on the loader's thread: nothing here may throw, the thread has no one to catch it.
void Decode(LoadedFile& file)
{
    try {
        if (!LoadImageFile(file.image, file.path, QtBitmaps(), &file.whyNot, {&file.profile, &file.metadata}))
            return;
        file.bitmap = MakeSourceBitmap(file.image);
        if (file.bitmap.isNull())
            throw std::bad_alloc();
        // Shown only with its weight map: no memory for it makes the file unreadable like any
        // other failure.
        file.weights = QImage(file.bitmap.size(), QImage::Format_ARGB32);
        if (file.weights.isNull())
            throw std::bad_alloc();
        file.weights.fill(Qt::transparent);
        file.reduced = MakeReducedCopies(file.bitmap);
    } catch (const std::bad_alloc&) {
        file.image.Release();
        file.metadata = ImageMetadata();
        file.bitmap = QImage();
        file.weights = QImage();
        file.reduced = ReducedCopies();
        file.whyNot = QStringLiteral("out of memory");
    }
}

} // namespace

CFileLoader::CFileLoader(Receiver receiver, QObject* parent) : QObject(parent), receiver(std::move(receiver))
{
}

bool CFileLoader::Start(const std::filesystem::path& path)
{
    if (task.Busy())
        return false;
    auto file = std::make_shared<LoadedFile>();
    file->path = path;
    return task.Start([file] { Decode(*file); }, [this, file] { receiver(std::move(*file)); });
}

} // namespace tessaline
