// SPDX-License-Identifier: Apache-2.0
// Step 3 of the checker finder: sub-pixel vertex positions and their uncertainty.
#ifndef PLATFORM_CHECKERFINDER_VERTEX_REFINE_H
#define PLATFORM_CHECKERFINDER_VERTEX_REFINE_H

#include "platform/checkerfinder/finder_types.h"

namespace cclft_internal {

struct RefinedVertex {
  bool ok = false;
  Vec pos;
  double covXX = 0, covXY = 0, covYY = 0;  // pixels^2
  // Point asymmetry of the window about pos: the weighted mean of (S(pos + d) - S(pos - d))^2
  // over twice the weighted variance of S, for the smoothed image S; 0 for a perfect
  // junction, about 1 for unrelated content.
  double asymmetry = 1.0;
};

// Moves `start` to the point q where the gradients g(p) around q are orthogonal to p - q in
// the least-squares sense: q solves sum w g g^T (p - q) = 0 over the pixels p of a disc,
// with the weight w = (1 - |p - q|^2 / r^2)^4, r = 1.3 radius + 0.5, and g the central
// differences of the image smoothed by a Gaussian of 1.2 px, less their weighted mean
// (the lighting's own gradient); iterated until q moves less than 0.001 px. Any point-symmetric
// junction (a checker vertex under any affine or projective view, with any symmetric blur)
// satisfies the equation at its centre. The covariance propagates the pixel noise (variance
// noiseVariance, grey levels squared) through the equations: sg2 A^-1 (sum w^2 |p - q|^2 g g^T)
// A^-1 with A = sum w g g^T and sg2 the resulting noise variance of a gradient component. Fails (ok
// false) when the window leaves the image, the system is singular (an edge, not a junction), or q
// wanders farther than `radius` from `start`.
RefinedVertex cfRefineVertex(const GrayView& image, const Vec& start, int radius,
                             double noiseVariance);

// The largest window radius whose pixels all lie within `reach` pixels of the start point.
double cfMaxRefineRadius(double reach);

// Variance of the image's pixel noise, grey levels squared, from the median of second
// differences along every 8th row (robust to the edges), at least that of 8-bit rounding.
double cfImageNoiseVariance(const GrayView& image);

}  // namespace cclft_internal

#endif  // PLATFORM_CHECKERFINDER_VERTEX_REFINE_H
