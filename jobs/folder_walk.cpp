#include "jobs/folder_walk.h"

#include <algorithm>
#include <system_error>

#include "imageio/image_loader.h"
#include "imageio/input_names.h"
#include "imageio/output_files.h"

namespace fs = std::filesystem;

namespace tessaline {

namespace {

bool Hidden(const fs::path& name)
{
    const auto text = name.native();
    return !text.empty() && text[0] == '.';
}

class Walker
{
public:
    Walker(std::vector<WalkedFile>& found, const fs::path& skip, BitmapReader& bitmaps,
           const std::atomic<bool>* stop)
        : found(found), bitmaps(bitmaps), stop(stop)
    {
        if (!skip.empty())
            skipFolder = IdentityOf(skip);
    }

    void Walk(const fs::path& folder, const fs::path& subfolder)
    {
        std::error_code error;
        std::vector<fs::directory_entry> entries;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
            entries.push_back(*it);
        if (error) {
            found.push_back({folder, subfolder, "cannot read the folder: " + QString::fromStdString(error.message())});
            return;
        }
        // Name order, byte by byte: the same list on every run, whatever the directory's own order.
        std::sort(entries.begin(), entries.end(),
                  [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
        for (const fs::directory_entry& entry : entries) {
            if (stop && stop->load(std::memory_order_relaxed))
                return;
            const fs::path name = entry.path().filename();
            if (Hidden(name))
                continue;
            std::error_code statusError;
            if (entry.is_directory(statusError)) {
                // A link to a folder could lead back up the tree; OUTPUT holds results of earlier runs.
                if (entry.is_symlink(statusError) || name == "OUTPUT")
                    continue;
                if (skipFolder && IdentityOf(entry.path()) == skipFolder)
                    continue;
                Walk(entry.path(), subfolder / name);
            } else if (LooksLikeImageFile(entry.path(), bitmaps) ||
                       (entry.is_regular_file(statusError) && WhyNotAnInput(entry.path()))) {
                // A file that cannot be opened may well be an image: it fails with its reason,
                // as it would when named directly, rather than vanish from the batch.
                found.push_back({entry.path(), subfolder, std::nullopt});
            }
        }
    }

private:
    std::vector<WalkedFile>& found;
    BitmapReader& bitmaps;
    const std::atomic<bool>* stop;
    std::optional<FileIdentity> skipFolder;
};

} // namespace

void WalkFolder(const fs::path& folder, const fs::path& skipFolder, BitmapReader& bitmaps,
                std::vector<WalkedFile>& found, const std::atomic<bool>* stop)
{
    Walker(found, skipFolder, bitmaps, stop).Walk(folder, {});
}

} // namespace tessaline
