// SPDX-License-Identifier: Apache-2.0
// Step 5 of the checker finder: from the grid's own label frame to the labels reported.
#ifndef PLATFORM_CHECKERFINDER_GRID_LABELS_H
#define PLATFORM_CHECKERFINDER_GRID_LABELS_H

#include <vector>

#include "platform/checkerfinder/finder_types.h"
#include "platform/checkerfinder/grid_growth.h"

namespace cclft_internal {

// A map from grid labels (i, j) to reported labels: label = m * ((i, j) - origin) + shift.
struct LabelMap {
  int m[2][2] = {{1, 0}, {0, 1}};
  int originI = 0, originJ = 0;
  int shiftX = 0, shiftY = 0;

  void apply(int i, int j, int& x, int& y) const {
    const int di = i - originI, dj = j - originJ;
    x = m[0][0] * di + m[0][1] * dj + shiftX;
    y = m[1][0] * di + m[1][1] * dj + shiftY;
  }
};

// Labels for the start-point mode: (0, 0) at the live vertex nearest `startPoint`; label x
// grows along the grid axis (at that vertex) whose image direction has the larger |x|
// component, towards image +x; label y along the other axis, towards image +y. With equal
// |x| components the second grid axis becomes label x.
LabelMap cfStartPointLabels(const Grid& grid, const Vec& startPoint);

// Labels from the plate's fiducial: the plate's own (i, j), where the vertex next to the
// crossing of the two light bars is (-2, -2), label x grows towards the centre of the
// longer bar and label y towards the centre of the shorter one. Looks for the fiducial at
// every live vertex that has the fiducial anchor's neighbourhood (neighbours at +x and +y,
// none at -x and -y) under each orientation that keeps the plate unmirrored, and checks the
// bars and bands in the image through a homography fitted to the nearby vertices. False
// when no placement passes.
bool cfFiducialLabels(const GrayView& image, const Grid& grid, double minContrast, LabelMap& map);

}  // namespace cclft_internal

#endif  // PLATFORM_CHECKERFINDER_GRID_LABELS_H
