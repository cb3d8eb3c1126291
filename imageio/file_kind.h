#pragma once
// imageio/file_kind.h: what a file's first bytes say, and the reason every reader gives for an
// image beyond the limits; shared by the PNG road and the Qt bitmap road.

#include <cstdint>

#include <QIODevice>
#include <QString>

namespace tessaline {

/// True when `device`'s next bytes are the PNG signature. Reads nothing (peeks).
bool StartsWithPngSignature(QIODevice& device);

/// The reason given for an image beyond WithinImageLimits, by every reader alike.
QString TooLargeReason(std::uint32_t width, std::uint32_t height);

} // namespace tessaline
