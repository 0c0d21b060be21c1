// SPDX-License-Identifier: Apache-2.0
// The end of the checkerboard pipeline: the precision filter on the fitted corners, the
// (image position, plate position) pair of every labelled corner, and plate row order.
#include <limits>

#include "cal/checkerlabels/checker_labels.h"

namespace {
// A good corner was fitted from all four edge lines around it.
constexpr std::size_t kLinesOfAGoodCorner = 4;
// Plate y values this close count as one row.
constexpr double kRowTolerance = 1e-15;
}  // namespace

void cfCheckerPrecisionFilter(std::vector<cc_Corner>& corners, double precisionThreshold) {
  if (precisionThreshold >= std::numeric_limits<double>::infinity()) return;
  for (cc_Corner& c : corners) {
    if (!c.valid) continue;
    if (c.lines.size() < kLinesOfAGoodCorner || c.error > precisionThreshold) c.valid = false;
  }
}

void cfCheckerFeaturePairs(const std::vector<cc_Corner>& corners,
                           const ccCalib2VertexFeatureParams& params,
                           std::vector<ccPair<ccVector<2>>>& features) {
  features.clear();
  features.reserve(corners.size());
  const ccVector<2>& pitch = params.physicalGridPitch();
  for (const cc_Corner& c : corners) {
    if (!c.valid || !c.isLabelled()) continue;
    const ccVector<2> plate(static_cast<double>(c.label.x()) * pitch.x(),
                            static_cast<double>(c.label.y()) * pitch.y());
    features.emplace_back(c.position, plate);
  }
}

bool plateRowMajorLess(const ccPair<ccVector<2>>& a, const ccPair<ccVector<2>>& b) {
  if (!cfRealEq(a.second.y(), b.second.y(), kRowTolerance)) return a.second.y() < b.second.y();
  return a.second.x() < b.second.x();
}
