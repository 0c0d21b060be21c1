// SPDX-License-Identifier: Apache-2.0
// Gives every detected dot its plate position: the dot nearest the middle of the dot cloud
// is the plate origin, its nearest neighbours along the image x and y directions give the
// grid's basis vectors, and every dot is labelled by rounding its position in that basis.
#ifndef CAL_CALIB_GRID_CORRESPONDENCE_H
#define CAL_CALIB_GRID_CORRESPONDENCE_H

#include <vector>

#include "platform/foundation/vector.h"

// dots: dot centres, image coordinates. On return imagePoints is a copy of dots and
// clientPoints holds, per dot, its plate position (grid step times pitch; plate Y grows with
// image y on a left-handed plate and against it otherwise).
// Throws ccCalibDefs::BadParam (a pitch not above 0; outputs untouched),
// TooFewDotsFound (fewer than 3 dots; both outputs emptied), GridAngleTooLarge (three or
// more dots crowd the origin closer than its axis neighbours) and BadCorrespondence (an
// axis neighbour missing or the axes less than 45 degrees apart); the last two empty
// clientPoints.
void cfCalibGridCorrespondence(double gridPitchX, double gridPitchY, bool isLeftHanded,
                               const std::vector<ccVector<2>>& dots,
                               std::vector<ccVector<2>>& imagePoints,
                               std::vector<ccVector<2>>& clientPoints);

#endif  // CAL_CALIB_GRID_CORRESPONDENCE_H
