// SPDX-License-Identifier: Apache-2.0
// The checker finder as a list of named steps, on a window-coordinate image view.
#ifndef PLATFORM_CHECKERFINDER_FINDER_RUN_H
#define PLATFORM_CHECKERFINDER_FINDER_RUN_H

#include <vector>

#include "platform/checkerfinder/finder_types.h"

namespace cclft_internal {

// Finds, refines, checks and labels the board's vertices (checker_finder.h describes the
// steps). On eFound, `vertices` holds them ordered by label y, then label x; otherwise it
// is empty. Exceptions of ccAttention::check() and of allocation pass through.
Outcome cfRunCheckerFinder(const GrayView& image, const FinderSettings& settings,
                           std::vector<FoundVertex>& vertices);

}  // namespace cclft_internal

#endif  // PLATFORM_CHECKERFINDER_FINDER_RUN_H
