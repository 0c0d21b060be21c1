// SPDX-License-Identifier: Apache-2.0
// Small geometric rules shared by the mesh and caliper stages of the checkerboard detection:
// the "in line" test on tile centres, the overlap of two tiles and the surround test on a
// ring of points. Internal to cal/checkertiles.
#ifndef CAL_CHECKERTILES_CHECKER_GEOMETRY_H
#define CAL_CHECKERTILES_CHECKER_GEOMETRY_H

#include <vector>

#include "cal/checkertiles/checker_types.h"
#include "platform/foundation/vector.h"

namespace checker_internal {

// Steps x -> y and y -> z continue one row of tiles: the shorter step is at least this
// share of the longer one ...
constexpr double kInLineMinStepRatio = 0.5;
// ... and the angle between them is at most 45 degrees (cosine of 45 degrees, rounded).
constexpr double kInLineMinCosine = 0.7071;

// True when the centres x, y, z lie in a row in that order (see the constants above). Two
// zero steps are in line; one zero step is not.
bool inLine(const ccVector<2>& x, const ccVector<2>& y, const ccVector<2>& z);

// Area of the intersection of the two tiles' outlines; 0 without clipping when their
// bounding boxes do not meet.
double tileOverlap(const cc_Checker& a, const cc_Checker& b);

// Smaller over larger of two positive areas.
double areaRatio(double a, double b);

// True when the points q go once around p in the order of increasing angle (image frame, y
// down: clockwise on screen), each strictly past the previous one as seen from the first.
// Fewer than 2 points surround anything; a point equal to p surrounds nothing.
bool surrounds(const ccVector<2>& p, const std::vector<ccVector<2>>& q);

}  // namespace checker_internal

#endif  // CAL_CHECKERTILES_CHECKER_GEOMETRY_H
