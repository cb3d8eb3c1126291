#pragma once
// imageio/bitmap_reader.h: what reads the image files the PNG reader does not take. The window
// links Qt's image plugins directly (QtBitmaps); the command-line tool loads them only when an
// input is not a PNG, so that a run on PNG files never pays for loading Qt Gui.

#include <filesystem>

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include "engine/colour_model.h"
#include "imageio/colour_profile.h"

namespace tessaline {

class BitmapReader
{
public:
    /// Fills `image` from a file that is not a PNG the PNG reader accepts. On failure returns
    /// false, leaves `image` empty and, when `whyNot` is given, stores a short English reason.
    /// An embedded colour profile converts the pixels to sRGB (imageio/colour_profile.h); what
    /// became of it goes to `profile` when given. Never throws.
    virtual bool ReadFile(RgbaImage& image, const std::filesystem::path& path, QString* whyNot,
                          ProfileOutcome* profile) = 0;

    /// ReadFile for a whole file already in memory.
    virtual bool ReadBytes(RgbaImage& image, const QByteArray& bytes, QString* whyNot,
                           ProfileOutcome* profile) = 0;

    /// Whether the header at `device`'s position (an open file) is one of the formats ReadFile
    /// takes. Never throws.
    virtual bool Recognises(QIODevice& device) = 0;

protected:
    ~BitmapReader() = default;
};

} // namespace tessaline
