#include "jobs/shared_palette_choice.h"

#include <new>

#include "engine/shared_palette.h"
#include "imageio/image_loader.h"
#include "worker/reduce_thread.h"

namespace tessaline {

std::vector<RgbaColour> ChooseSharedPalette(std::span<const std::filesystem::path> paths, const SettingValues& values,
                                            const PaletteRequest& request, const WeightAlpha* weights,
                                            BitmapReader& bitmaps, const CancelFlag* cancel)
{
    SharedPaletteBuilder builder;
    ReduceThread holder(nullptr); // only its job is used: the job each file's reduction starts from
    IndexedImage unused;
    for (const std::filesystem::path& path : paths) {
        if (CancelRequested(cancel))
            return {};
        RgbaImage image;
        if (!LoadImageFile(image, path, bitmaps))
            continue;
        const WeightAlpha* fitting =
            weights && weights->width == image.width && weights->height == image.height ? weights : nullptr;
        try {
            BuildReduceJob(holder, values, fitting, image, unused);
            FillPaletteRequest(values, request, holder.job);
            holder.job.progress = nullptr;
            if (cancel)
                holder.job.cancel = cancel;
            builder.Add(holder.job, image);
        } catch (const std::bad_alloc&) {
            continue; // the file reports its own lack of memory later
        }
    }
    holder.job.userWeights.reset();
    if (builder.ImageCount() == 0 || CancelRequested(cancel))
        return {};
    return builder.Choose(holder.job);
}

} // namespace tessaline
