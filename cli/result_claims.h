#pragma once
// cli/result_claims.h: which input of a batch may write which result, decided once before any
// file is written. Two inputs whose results land on one file (however the paths are spelled:
// through links, "..", or a folder reached two ways) would let the later one replace the earlier
// one's result; the first in input order keeps the name and the later ones fail. Deciding it up
// front on the place (the real folder and the name) makes the outcome the same for every -j and
// every finishing order.

#include <QString>

#include <filesystem>
#include <optional>
#include <vector>

namespace tessaline {

/// For each destination (empty: none, e.g. standard output) the reason it is refused, or nullopt.
/// A destination on the place of `report`
/// (may be empty) is refused too: the report is being written.
std::vector<std::optional<QString>> DecideResultClaims(const std::vector<std::filesystem::path>& destinations,
                                                       const std::filesystem::path& report);

} // namespace tessaline
