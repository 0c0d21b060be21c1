// SPDX-License-Identifier: Apache-2.0
// Step 1 of the checker finder: X-junction candidates at every scale, without segmenting
// squares.
#ifndef PLATFORM_CHECKERFINDER_JUNCTION_CANDIDATES_H
#define PLATFORM_CHECKERFINDER_JUNCTION_CANDIDATES_H

#include <vector>

#include "platform/checkerfinder/finder_types.h"

namespace cclft_internal {

// Local maxima of the ring response (see the .cc) on every level of a 2x2-box pyramid of
// `image`, with a response of at least that of a sharp junction of `minContrast` grey
// levels and well above what pixel noise of standard deviation `noiseSigma` (grey levels)
// gives, merged across levels (a candidate already found on a finer level within the
// coarser level's pixel footprint is kept once, at its finer position), at most
// `maxCandidates` of them, strongest first. Positions are window coordinates with a
// sub-pixel peak estimate (about 0.3 px). Calls ccAttention::check() between levels.
std::vector<Candidate> cfFindJunctionCandidates(const GrayView& image, double minContrast,
                                                int maxCandidates, double noiseSigma);

// The ring response at one pixel of `image` (x, y at least 3 pixels inside): about 4 to 8
// per grey level of contrast for a sharp junction, near or below zero for edges, blobs and
// flat ground.
int cfJunctionResponse(const GrayView& image, int x, int y);

}  // namespace cclft_internal

#endif  // PLATFORM_CHECKERFINDER_JUNCTION_CANDIDATES_H
