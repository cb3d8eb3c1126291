#include "app/save_name.h"

#include <string>
#include <system_error>

namespace tessaline {

std::filesystem::path SaveNameFor(const std::filesystem::path& source, int colours,
                                  const ProtectedFiles& taken)
{
    const std::filesystem::path folder = source.parent_path();
    const std::filesystem::path stem = source.stem();
    std::filesystem::path candidate;
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        std::string suffix = std::to_string(colours);
        if (attempt > 1)
            suffix.append(1, '-').append(std::to_string(attempt));
        std::filesystem::path name = stem;
        name += '-';
        name += suffix;
        name += ".png";
        candidate = folder / name;
        std::error_code error;
        const bool exists = std::filesystem::exists(std::filesystem::symlink_status(candidate, error));
        // The source is one of the session's inputs too; the name check covers a source that
        // has gone from the disk since it was loaded.
        if (!exists && candidate != source && taken.Check(candidate, false) == ProtectedFiles::Clash::None)
            return candidate;
    }
    return candidate;
}

} // namespace tessaline
