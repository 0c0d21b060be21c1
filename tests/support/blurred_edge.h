// SPDX-License-Identifier: Apache-2.0
// Straight edges rendered with sub-millipixel ground truth: the Gaussian-blurred step is
// evaluated analytically and averaged over each pixel's area, so that no sample grid
// quantises the edge position (a supersampled hard step moves axis-aligned edges by up to
// half a subsample).
#ifndef TESTS_SUPPORT_BLURRED_EDGE_H
#define TESTS_SUPPORT_BLURRED_EDGE_H

#include <cstdint>

#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/vector.h"

struct ccBlurredEdgeSpec {
  long width = 64;
  long height = 64;
  ccVector<2> pointOnEdge{32.0, 32.0};  // image frame, pixel centres at integers
  double normalRadians = 0.0;           // direction from the dark side to the light side
  double blurSigma = 1.0;               // pixels, at least 0.3
  double dark = 60.0;                   // grey levels
  double light = 190.0;
  double noiseSigma = 0.0;  // additive Gaussian noise, grey levels
  std::uint32_t seed = 1;
};

// The 8-bit image; value = dark + (light - dark) * Phi(d / sigma) averaged over the pixel,
// with d the signed distance from the edge along the normal, plus noise, rounded.
ccPelBuffer<unsigned char> cfBlurredEdgeImage(const ccBlurredEdgeSpec& spec);

#endif  // TESTS_SUPPORT_BLURRED_EDGE_H
