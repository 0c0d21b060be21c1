// SPDX-License-Identifier: Apache-2.0
// Grid axes from the neighbourhood of the central dot, and labelling of all dots.
#include "cal/calib/grid_correspondence.h"

#include <cmath>
#include <limits>

#include "cal/calib/calib_defs.h"
#include "platform/foundation/attention.h"
#include "platform/foundation/xform.h"

namespace {

// Axis neighbours must lie within this angle of the image x or y direction.
double axisConeTangent() {
  static const double kTangent = std::tan(35.0 * 0.017453292519943295);
  return kTangent;
}

// Three or more other dots nearer the origin than the farther axis neighbour mean the
// neighbourhood is not a grid at a moderate angle.
constexpr int kMaxCrowdingDots = 3;
// The axes must be at least 45 degrees apart: |sin| of their angle at least this.
constexpr double kMinAxisSine = 0.7071067811865476;

}  // namespace

void cfCalibGridCorrespondence(double gridPitchX, double gridPitchY, bool isLeftHanded,
                               const std::vector<ccVector<2>>& dots,
                               std::vector<ccVector<2>>& imagePoints,
                               std::vector<ccVector<2>>& clientPoints) {
  if (!(gridPitchX > 0.0) || !(gridPitchY > 0.0)) {
    throw ccCalibDefs::BadParam(
        L"Invalid grid pitch: both grid pitch X and grid pitch Y must be >= 0");
  }
  if (dots.size() < 3) {
    imagePoints.clear();
    clientPoints.clear();
    throw ccCalibDefs::TooFewDotsFound();
  }
  ccAttention::check();

  double cx = 0.0, cy = 0.0;
  for (const ccVector<2>& d : dots) {
    cx += d.x();
    cy += d.y();
  }
  cx /= static_cast<double>(dots.size());
  cy /= static_cast<double>(dots.size());

  // Origin: smallest city-block distance to the centroid; of equal candidates the one with
  // the highest index.
  std::size_t origin = dots.size() - 1;
  double bestOrigin = std::numeric_limits<double>::infinity();
  for (std::size_t k = dots.size(); k-- > 0;) {
    double d = std::fabs(dots[k].x() - cx) + std::fabs(dots[k].y() - cy);
    if (d < bestOrigin) {
      bestOrigin = d;
      origin = k;
    }
  }
  const ccVector<2> c = dots[origin];

  const double tanCone = axisConeTangent();
  const double inf = std::numeric_limits<double>::infinity();
  double bestX = inf, bestY = inf, stepX = 0.0, stepY = 0.0;
  std::size_t nbX = dots.size(), nbY = dots.size();  // dots.size() = none
  for (std::size_t k = dots.size(); k-- > 0;) {
    double dx = std::fabs(c.x() - dots[k].x());
    double dy = std::fabs(c.y() - dots[k].y());
    double d = dx * dx + dy * dy;
    if (d < bestX && dy < dx * tanCone) {
      nbX = k;
      stepX = dx;
      bestX = d;
    } else if (d < bestY && dx < dy * tanCone) {
      nbY = k;
      stepY = dy;
      bestY = d;
    }
  }

  const double radius = std::max(bestX, bestY);
  int crowding = 0;
  for (std::size_t k = 0; k < dots.size(); ++k) {
    if (k == origin || k == nbX || k == nbY) continue;
    if ((dots[k] - c).lengthSq() < radius) ++crowding;
  }
  if (crowding >= kMaxCrowdingDots) {
    clientPoints.clear();
    throw ccCalibDefs::GridAngleTooLarge();
  }

  bool valid = nbX < dots.size() && nbY < dots.size() && stepX > 0.0 && stepY > 0.0;
  ccXform<2> basis;
  if (valid) {
    ccVector<2> u = dots[nbX] - c;
    if (u.x() < 0.0) u = -u;
    ccVector<2> v = dots[nbY] - c;
    if (v.y() < 0.0) v = -v;
    basis = ccXform<2>(ccMatrix<2>(u.x(), v.x(), u.y(), v.y()), c);
    double det = u.x() * v.y() - v.x() * u.y();
    valid = std::fabs(det / (u.length() * v.length())) >= kMinAxisSine;
  }
  if (!valid) {
    clientPoints.clear();
    throw ccCalibDefs::BadCorrespondence();
  }

  ccAttention::check();
  const ccXform<2> gridFromImage = basis.inverse();
  clientPoints.resize(dots.size());
  for (std::size_t k = 0; k < dots.size(); ++k) {
    ccVector<2> g = gridFromImage.mapPoint(dots[k]);
    double gx = static_cast<double>(iRound(g.x()));
    double gy = static_cast<double>(iRound(g.y()));
    clientPoints[k] = ccVector<2>(gx * gridPitchX, (isLeftHanded ? gy : -gy) * gridPitchY);
  }
  imagePoints = dots;
}
