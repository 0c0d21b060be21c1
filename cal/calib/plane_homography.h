// SPDX-License-Identifier: Apache-2.0
// Homographies between a plane (the plate, in lattice units) and the image, fitted to a
// dot's neighbourhood: where the lattice's local perspective is needed (the image of a
// cell centre, the image of a disc's centre).
#ifndef CAL_CALIB_PLANE_HOMOGRAPHY_H
#define CAL_CALIB_PLANE_HOMOGRAPHY_H

#include <vector>

#include "platform/foundation/vector.h"

// A plane-to-image homography, row-major, acting on (u, v, 1); the identity by default.
struct ccPlaneHomography {
  double h[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

  ccVector<2> map(const ccVector<2>& p) const { return map(p.x(), p.y(), 1.0); }
  // The image of the homogeneous plane point (u, v, w).
  ccVector<2> map(double u, double v, double w) const {
    const double z = h[6] * u + h[7] * v + h[8] * w;
    return ccVector<2>((h[0] * u + h[1] * v + h[2] * w) / z, (h[3] * u + h[4] * v + h[5] * w) / z);
  }
  // Image area per unit plane area at plane point p (the Jacobian determinant's magnitude).
  double areaScale(const ccVector<2>& p) const;
};

// Least-squares homography taking plane[k] to image[k] (at least 4 pairs), from the linear
// equations with h8 = 1 on centred and scaled points, which keeps them well conditioned.
// False when the points do not determine one (fewer than 4, or collinear).
bool cfFitPlaneHomography(const std::vector<ccVector<2>>& plane,
                          const std::vector<ccVector<2>>& image, ccPlaneHomography& out);

// Centre of the ellipse that the circle of the given centre and radius (plane units)
// becomes in the image. It differs from the image of the circle's centre under
// perspective: the ellipse's centre is the pole of the line at infinity with respect to the
// imaged circle, H C* H^T (0, 0, 1)^T with C* = diag(1, 1, -1 / r^2) the dual of the circle
// (centred at the origin of a shifted plane frame).
ccVector<2> cfImagedCircleCentre(const ccPlaneHomography& h, const ccVector<2>& centre,
                                 double radius);

#endif  // CAL_CALIB_PLANE_HOMOGRAPHY_H
