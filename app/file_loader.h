#pragma once
// app/file_loader.h: decodes one image file at a time on a thread of its own, so that a large
// photograph (a second and more) never holds the window still; what the window draws of it is
// prepared here too. The result comes back on the UI
// thread, through a queued call, as a LoadedFile that the caller takes whole.

#include <filesystem>
#include <functional>

#include <QImage>
#include <QObject>
#include <QString>

#include "app/background_task.h"
#include "app/reduced_copies.h"
#include "engine/colour_model.h"
#include "imageio/colour_profile.h"
#include "imageio/image_metadata.h"

namespace tessaline {

/// One decoded file: the engine's image and its display bitmap, or why there is none.
struct LoadedFile
{
    std::filesystem::path path;
    RgbaImage image;
    QImage bitmap;          ///< ARGB32 of the image; null when the load failed
    /// Made beside the bitmap so that taking a large image in costs the window nothing: the
    /// bitmap's area-averaged copies and a blank (fully transparent) weight map of its size.
    ReducedCopies reduced;
    QImage weights;
    QString whyNot;         ///< the loader's own (English) reason when it failed
    ProfileOutcome profile; ///< what became of an embedded colour profile
    /// What メタデータを保持 carries into the result; gathered always, since the box may be
    /// ticked after the load and the image reduced again.
    ImageMetadata metadata;
    bool Ok() const { return !bitmap.isNull(); }
};

class CFileLoader : public QObject
{
    Q_OBJECT

public:
    using Receiver = std::function<void(LoadedFile)>;

    /// `receiver` is called on the UI thread with every finished load.
    explicit CFileLoader(Receiver receiver, QObject* parent = nullptr);
    /// A load still running is waited for by the task (a decoder cannot be interrupted); its file
    /// is dropped.

    /// Starts decoding `path`. False, starting nothing, while another load runs or when no
    /// thread can be started.
    bool Start(const std::filesystem::path& path);
    /// True from Start until the receiver has been called.
    bool Busy() const { return task.Busy(); }

private:
    Receiver receiver;
    CBackgroundTask task; ///< after the receiver, so that it is joined first
};

} // namespace tessaline
