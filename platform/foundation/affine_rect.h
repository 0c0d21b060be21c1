// SPDX-License-Identifier: Apache-2.0
// Affine rectangles: parallelograms given by a corner and two side vectors, used for
// caliper search regions and for the fiducial bars. The unit square maps onto the shape:
// cornerPo = image of (0, 0), cornerPx of (1, 0), cornerPy of (0, 1), cornerPopp of (1, 1).
#ifndef PLATFORM_FOUNDATION_AFFINE_RECT_H
#define PLATFORM_FOUNDATION_AFFINE_RECT_H

#include <cmath>

#include "platform/foundation/xform.h"

class ccAffineRectangle {
 public:
  // The degenerate rectangle at the origin.
  ccAffineRectangle() : unitToShape_(ccMatrix<2>(0, 0, 0, 0), ccVector<2>()) {}
  // The image of the unit square under `unitToShape`.
  explicit ccAffineRectangle(const ccXform<2>& unitToShape) : unitToShape_(unitToShape) {}
  // Centred on `center`, with side lengths along the rotated x and y directions; skew turns
  // the y side away from the perpendicular of the x side (see ccXform<2>).
  ccAffineRectangle(const ccVector<2>& center, double xLength, double yLength, ccRadian rotation,
                    ccRadian skew) {
    ccMatrix<2> m = ccMatrix<2>::fromScaleSkewRotation(xLength, yLength, skew, rotation);
    unitToShape_ = ccXform<2>(m, center - m * ccVector<2>(0.5, 0.5));
  }
  // Corner po, with the x side ending at px and the y side ending at py.
  ccAffineRectangle(const ccVector<2>& po, const ccVector<2>& px, const ccVector<2>& py) {
    ccVector<2> u = px - po, v = py - po;
    unitToShape_ = ccXform<2>(ccMatrix<2>(u.x(), v.x(), u.y(), v.y()), po);
  }

  const ccXform<2>& unitToShape() const { return unitToShape_; }

  ccVector<2> cornerPo() const { return unitToShape_.mapPoint(ccVector<2>(0, 0)); }
  ccVector<2> cornerPx() const { return unitToShape_.mapPoint(ccVector<2>(1, 0)); }
  ccVector<2> cornerPy() const { return unitToShape_.mapPoint(ccVector<2>(0, 1)); }
  ccVector<2> cornerPopp() const { return unitToShape_.mapPoint(ccVector<2>(1, 1)); }
  ccVector<2> center() const { return unitToShape_.mapPoint(ccVector<2>(0.5, 0.5)); }
  // Side lengths and directions.
  double xLength() const { return unitToShape_.xScale(); }
  double yLength() const { return unitToShape_.yScale(); }
  ccRadian rotation() const { return unitToShape_.rotation(); }
  ccRadian skew() const { return unitToShape_.skew(); }
  double area() const { return std::fabs(unitToShape_.matrix().determinant()); }

  // Moves the shape so that its centre is at `c` (sides unchanged).
  void center(const ccVector<2>& c) { unitToShape_.trans(unitToShape_.trans() + (c - center())); }

  // True when the shape has no area (a side of zero length or parallel sides).
  bool degen() const { return unitToShape_.isSingular(); }
  // True when `p` lies in the shape or on its boundary (false for a degenerate shape).
  bool within(const ccVector<2>& p) const {
    if (degen()) return false;
    ccVector<2> u = unitToShape_.inverse().mapPoint(p);
    constexpr double kEdgeTolerance = 1e-12;  // in unit-square coordinates
    return u.x() >= -kEdgeTolerance && u.x() <= 1.0 + kEdgeTolerance && u.y() >= -kEdgeTolerance &&
           u.y() <= 1.0 + kEdgeTolerance;
  }

  // The shape mapped through an affine transform.
  ccAffineRectangle mapped(const ccXform<2>& x) const {
    return ccAffineRectangle(x * unitToShape_);
  }

 private:
  ccXform<2> unitToShape_;
};

#endif  // PLATFORM_FOUNDATION_AFFINE_RECT_H
