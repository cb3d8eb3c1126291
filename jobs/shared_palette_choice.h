#pragma once
// jobs/shared_palette_choice.h: the one palette of a shared-palette batch, chosen from its image
// files as the front ends take them (tessaline-cli --shared-palette, a 自動保存 batch with
// 共有パレット): each file is read and counted into one histogram as its own reduction would count
// it, in list order so that the palette never depends on how many files run at once.

#include <filesystem>
#include <span>
#include <vector>

#include "engine/cancel_flag.h"
#include "engine/palette_colours.h"
#include "imageio/bitmap_reader.h"
#include "jobs/job_builder.h"
#include "settings/palette_request.h"
#include "settings/setting_table.h"

namespace tessaline {

/// The palette every file of `paths` takes, in written order: counted with `values` (its palette
/// rows filled from `request`, the kept colours held) and, for a file of its size, the weight map.
/// Files that cannot be read, or have no memory to be counted, are left out: they fail on their
/// own when their turn comes. Empty when no file could be counted or `cancel` was set. Never
/// throws std::bad_alloc from counting; may from choosing, as SharedPaletteBuilder::Choose does.
std::vector<RgbaColour> ChooseSharedPalette(std::span<const std::filesystem::path> paths, const SettingValues& values,
                                            const PaletteRequest& request, const WeightAlpha* weights,
                                            BitmapReader& bitmaps, const CancelFlag* cancel = nullptr);

} // namespace tessaline
