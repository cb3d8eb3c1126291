#pragma once
// engine/kept_colours.h: colours a chosen palette must hold exactly (a brand's colours, a device's
// fixed entries). The median cut spends its boxes on what the kept colours do not already cover,
// the refinement never moves a kept entry, and the written bytes are the kept colours' own.

#include <cstdint>
#include <utility>
#include <vector>

#include "engine/colour_model.h"
#include "engine/histogram.h"
#include "engine/palette_colours.h"
#include "engine/reduce_settings.h"

namespace tessaline {

/// A palette of at most max(maxColours, kept colours) entries: first the median cut's entries,
/// then settings.keptColours in their order. The cut gets the entries the kept colours leave; it
/// runs once over the whole histogram to learn which colours the kept ones serve best, then again,
/// with the feedback trials of `settings`, over the rest. *error receives the second cut's error
/// when it ran. Reorders and reweights the histogram. Throws std::bad_alloc.
Palette CutAroundKeptColours(Histogram& histogram, const ReduceSettings& settings, std::uint32_t maxColours,
                             double* error);

/// Puts the kept colours back into the last entries of `palette`, where CutAroundKeptColours put
/// them, after a refinement pass has moved them. Nothing without kept colours.
void RestoreKeptColours(Palette& palette, const std::vector<RgbaColour>& kept);

/// Where the kept colours sit in a palette once it has been ordered.
class KeptEntries
{
public:
    /// Finds each kept colour among the entries of `ordered` (one entry each).
    KeptEntries(const Palette& ordered, const std::vector<RgbaColour>& kept);
    /// Puts the kept colours back where a remap has moved them.
    void Restore(Palette& palette) const;
    /// Writes the kept colours' bytes into the output's tables, as given (a transparent entry keeps its
    /// R, G, B), and the entries' colours to match.
    void StoreBytes(IndexedImage& output, Palette& palette) const;

private:
    std::vector<std::pair<std::uint32_t, RgbaColour>> positions;
};

} // namespace tessaline
