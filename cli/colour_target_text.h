#pragma once
// cli/colour_target_text.h: what tessaline-cli says about a chosen colour count and a colour curve:
// the target from the options, the summary line's words about the search, the curve's table and
// the report's curve field.

#include <string>
#include <vector>

#include "cli/batch_report.h"
#include "cli/cli_options.h"
#include "worker/colour_search.h"

namespace tessaline {

/// The target the options ask for; none (Any() false) without --min-psnr, --max-error or --max-bytes.
ColourTarget TargetOf(const CliOptions& options);

/// The counts --curve measures: the options' list or the default one; empty without --curve.
std::vector<std::uint32_t> CurveCountsOf(const CliOptions& options);

/// The summary line's words about a search, after the figures: "; 37-colour palette for 40.0 dB in
/// 6 reductions (36: 39.9 dB)" or "; target 50.0 dB missed even with a 256-colour palette".
std::string SearchSummary(const ColourTarget& target, const ColourSearchOutcome& outcome);

/// The curve as a table, one line per count, under a heading naming the input.
std::string CurveTable(const std::string& name, const std::vector<CurvePoint>& curve);

/// The curve as the report carries it.
std::vector<ReportCurvePoint> CurveRecord(const std::vector<CurvePoint>& curve);

} // namespace tessaline
