#include "cli/result_claims.h"

#include <string>
#include <unordered_map>

#include "imageio/input_names.h"
#include "imageio/output_files.h"

namespace fs = std::filesystem;

namespace tessaline {

namespace {

struct PlaceHash
{
    std::size_t operator()(const ResultPlace& place) const
    {
        return std::hash<std::uint64_t>()(place.folder.file * 0x9E3779B97F4A7C15ull ^ place.folder.device) ^
               std::hash<std::string>()(place.rest);
    }
};

} // namespace

std::vector<std::optional<QString>> DecideResultClaims(const std::vector<fs::path>& destinations,
                                                       const fs::path& report)
{
    std::vector<std::optional<QString>> refusals(destinations.size());
    std::unordered_map<ResultPlace, std::size_t, PlaceHash> taken; // place -> first input there
    const std::optional<ResultPlace> reportPlace = report.empty() ? std::nullopt : ResultPlaceOf(report);
    for (std::size_t i = 0; i < destinations.size(); ++i) {
        if (destinations[i].empty())
            continue;
        const std::optional<ResultPlace> place = ResultPlaceOf(destinations[i]);
        if (!place)
            continue; // no folder of it exists: the write fails with its own reason
        const QString target = DisplayName(destinations[i]);
        if (reportPlace && *place == *reportPlace)
            refusals[i] = "refusing to overwrite the report " + target;
        else if (!taken.emplace(*place, i).second)
            refusals[i] = "refusing to overwrite " + target + ", written for an earlier input of this run";
    }
    return refusals;
}

} // namespace tessaline
