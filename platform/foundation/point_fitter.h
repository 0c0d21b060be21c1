// SPDX-License-Identifier: Apache-2.0
// Least-squares transform between two matched point lists: the affine fit of the dot-grid
// calibration and the simpler translation and similarity fits.
#ifndef PLATFORM_FOUNDATION_POINT_FITTER_H
#define PLATFORM_FOUNDATION_POINT_FITTER_H

#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/vector.h"
#include "platform/foundation/xform.h"

// Fits the transform T that maps each from-point onto the to-point of the same index,
// minimising sum |T(from_i) - to_i|^2. The lists are copied at construction.
class CCALIB_EXPORT ccLSPointToPointFitter {
 public:
  // Collinearity limit of the affine fit: the from-points must spread in both directions,
  // the smaller principal spread of their scatter being more than this fraction of the
  // larger (an aspect ratio of about 1e-6 between the widths of the point cloud).
  static constexpr double kMinSpreadRatio = 1e-12;

  ccLSPointToPointFitter(const std::vector<ccVector<2>>& toPoints,
                         const std::vector<ccVector<2>>& fromPoints);

  // Fits with the given degrees of freedom:
  //   2: translation (at least 1 point);
  //   4: similarity, rotation and uniform scale without reflection, plus translation
  //      (at least 2 distinct from-points);
  //   6: general affine (at least 3 points, not collinear; see kMinSpreadRatio).
  // Throws ccMathError when the lists differ in size, hold too few points, hold a non-finite
  // point, or are degenerate for the requested fit; ccBadArgument for another dof.
  ccXform<2> fit(int degreesOfFreedom) const;

  // Root-mean-square of |x(from_i) - to_i| over the pairs (0 for no pairs).
  double rmsError(const ccXform<2>& x) const;

 private:
  std::vector<ccVector<2>> to_;
  std::vector<ccVector<2>> from_;
};

#endif  // PLATFORM_FOUNDATION_POINT_FITTER_H
