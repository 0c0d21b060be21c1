// SPDX-License-Identifier: Apache-2.0
// Where labelling starts: the valid corner nearest a target point with label axes taken from
// the mesh (no anchor, or a caller's origin), or the corner next to the fiducial with the
// fiducial's axes, and the second anchor mirrored across the fiducial's first bar.
#include <algorithm>
#include <cmath>
#include <limits>

#include "cal/checkerlabels/checker_labels.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/lines.h"

namespace {

// Linked corners of a corner inside the board, one per direction.
constexpr std::size_t kFullLinks = 4;
// The second anchor must lie within this fraction of its distance from the first bar's axis
// to the mirror point.
constexpr double kSecondAnchorTolerance = 0.45;
// The start corner's column line and the first bar's axis must cross at a clear angle.
constexpr double kMaxAxisCosine = 0.99;
// With both checkers needed, a corner with more linked corners than this is not taken as
// the second anchor (it sits inside the checker field, not against the fiducial band).
constexpr std::size_t kMaxSecondAnchorLinks = 3;

// A linked corner and the direction to it from the corner it is linked to.
struct cc_CornerAngle {
  const cc_Corner* corner;
  double angle;  // radians, [0, 2 pi)
};

// The first valid corner whose four linked corners are all valid, or null.
const cc_Corner* firstRichCorner(const std::vector<cc_Corner>& corners) {
  for (const cc_Corner& c : corners) {
    if (!c.valid || c.linked.size() != kFullLinks) continue;
    if (std::all_of(c.linked.begin(), c.linked.end(), [](const cc_Corner* l) { return l->valid; }))
      return &c;
  }
  return nullptr;
}

// Grid directions of the mesh around `rich`: the lines through its opposite linked corners.
void meshAxes(const cc_Corner& rich, ccVector<2>& u, ccVector<2>& v) {
  cc_CornerAngle around[kFullLinks];
  for (std::size_t k = 0; k < kFullLinks; ++k) {
    const cc_Corner* l = rich.linked[k];
    around[k] = cc_CornerAngle{l, (l->position - rich.position).angle().norm().toDouble()};
  }
  std::sort(around, around + kFullLinks,
            [](const cc_CornerAngle& a, const cc_CornerAngle& b) { return a.angle < b.angle; });
  u = (around[0].corner->position - around[2].corner->position).unit();
  v = (around[1].corner->position - around[3].corner->position).unit();
}

// The usable corner of a tile with one neighbour: the first valid corner made from two tiles
// among its used corner slots, or null.
const cc_Corner* usableCorner(const cc_Checker& tile, const ccCalib2VertexFeatureParams& params) {
  const int n = tile.cornerCount;
  cstd_assert_(tile.neighbourCount == 1);
  cstd_assert_(n >= 1 && n <= static_cast<int>(tile.corners.size()));
  cstd_assert_(!params.needBothCheckers() || n == 1);
  for (int k = 0; k < n && k < static_cast<int>(tile.corners.size()); ++k) {
    const cc_Corner* c = tile.corners[static_cast<std::size_t>(k)];
    cstd_assert_(c != nullptr && c->tiles.first != nullptr);
    if (c == nullptr) continue;
    if (c->valid && c->tiles.second != nullptr) return c;
  }
  return nullptr;
}

// The region spanned by the two bars from their crossing point: along xStep as far as the
// first bar reaches, along yStep as far as the second.
ccAffineRectangle barSpan(const ccAffineRectangle& rect1, const ccAffineRectangle& rect2,
                          const ccVector<2>& point, const ccVector<2>& xStep,
                          const ccVector<2>& yStep) {
  auto reach = [&point](const ccAffineRectangle& r, const ccVector<2>& axis) {
    const ccVector<2> corners[4] = {r.cornerPo(), r.cornerPx(), r.cornerPopp(), r.cornerPy()};
    double best = -std::numeric_limits<double>::max();
    for (const ccVector<2>& c : corners) best = std::max(best, axis.dot(c - point));
    return best;
  };
  const double s1 = reach(rect1, xStep), s2 = reach(rect2, yStep);
  cstd_assert_(s1 > 0.0 && s2 > 0.0);
  cstd_assert_(!cfRealEq(xStep, yStep, 1e-15));
  const ccVector<2> q1 = point + xStep * s1, q2 = point + yStep * s2;
  cstd_assert_(!cfRealEq(point, q1, 1e-15) && !cfRealEq(point, q2, 1e-15) &&
               !cfRealEq(q1, q2, 1e-15));
  return ccAffineRectangle(point, q1, q2);
}

// Among the tiles with one neighbour, a usable valid corner and their centre inside `span`,
// the one nearest the crossing point in grid units; null when there is none.
const cc_Checker* fiducialTile(const std::vector<cc_Checker>& tiles, const ccAffineRectangle& span,
                               const ccVector<2>& point, const ccMatrix<2>& gridFromImage,
                               const ccCalib2VertexFeatureParams& params) {
  const cc_Checker* best = nullptr;
  double bestDistance = std::numeric_limits<double>::infinity();
  for (const cc_Checker& tile : tiles) {
    if (tile.neighbourCount != 1) continue;
    const cc_Corner* c = usableCorner(tile, params);
    if (c == nullptr || !c->valid) continue;
    if (!span.within(tile.centerOfMass)) continue;
    const ccVector<2> w = gridFromImage * (tile.centerOfMass - point);
    if (w.dot(w) < bestDistance) {
      bestDistance = w.dot(w);
      best = &tile;
    }
  }
  return best;
}

// True when `direction` lies strictly inside the angle swept from xStep to yStep.
bool insideAxisAngle(const ccVector<2>& direction, const ccVector<2>& xStep,
                     const ccVector<2>& yStep) {
  const double sweep = (yStep.angle() - xStep.angle()).signedNorm().toDouble();
  const double sigma = sweep > 0.0 ? 1.0 : -1.0;
  const double phi =
      ccRadian(sigma * (direction.angle() - xStep.angle()).toDouble()).norm().toDouble();
  return phi < std::fabs(sweep);
}

}  // namespace

cc_Corner* cfCheckerStartCorner(const ccVector<2>& target, std::vector<cc_Corner>& corners,
                                ccVector<2>& xStep, ccVector<2>& yStep) {
  double bestDistance = std::numeric_limits<double>::max();
  cc_Corner* nearest = nullptr;
  for (cc_Corner& c : corners) {
    if (!c.valid) continue;
    const double d2 = (target - c.position).lengthSq();
    if (d2 < bestDistance) {
      bestDistance = d2;
      nearest = &c;
    }
  }
  if (nearest == nullptr)
    throw ccCalib2VertexFeatureDefs::FailedCorrespondence(L"Failed to establish correspondence.");

  ccVector<2> u(1.0, 0.0), v(0.0, 1.0);
  if (const cc_Corner* rich = firstRichCorner(corners)) meshAxes(*rich, u, v);
  if (std::fabs(u.x()) > std::fabs(v.x())) {
    xStep = u;
    yStep = v;
  } else {
    xStep = v;
    yStep = u;
  }
  if (xStep.x() < 0.0) xStep = -xStep;
  if (yStep.y() < 0.0) yStep = -yStep;
  return nearest;
}

long cfCheckerFiducialCorner(const ccAffineRectangle& fiducialRect1,
                             const ccAffineRectangle& fiducialRect2,
                             const ccVector<2>& fiducialPoint, const ccVector<2>& xStep,
                             const ccVector<2>& yStep, const std::vector<cc_Corner>& corners,
                             const std::vector<cc_Checker>& tiles,
                             const ccCalib2VertexFeatureParams& params) {
  const ccAffineRectangle span = barSpan(fiducialRect1, fiducialRect2, fiducialPoint, xStep, yStep);
  const ccMatrix<2> gridFromImage =
      ccMatrix<2>(xStep.x(), yStep.x(), xStep.y(), yStep.y()).inverse();

  const cc_Checker* best = fiducialTile(tiles, span, fiducialPoint, gridFromImage, params);
  if (best == nullptr) return -1;
  const cc_Corner* c0 = usableCorner(*best, params);
  cstd_assert_(c0 != nullptr && c0->valid);
  cstd_assert_(best->neighbourCount == 1 && best->neighbours[0] != nullptr);
  const cc_Checker* next = best->neighbours[0];
  cstd_assert_(best->cornerSharedWith(next) == c0);
  if (c0 == nullptr || next == nullptr) return -1;

  // The anchor's neighbour lies between the bars' directions; a mirrored plate puts it outside.
  if (!insideAxisAngle(next->centerOfMass - best->centerOfMass, xStep, yStep)) return -1;
  if (!span.within(next->centerOfMass) || !span.within(c0->position)) return -1;

  const std::ptrdiff_t index = c0 - corners.data();
  cstd_assert_(index >= 0 && static_cast<std::size_t>(index) < corners.size());
  return static_cast<long>(index);
}

void cfCheckerSecondAnchor(std::vector<cc_Corner>& corners, const ccVector<2>& fiducialPoint,
                           const ccVector<2>& xStep, const ccVector<2>& yStep,
                           const ccVector<2>& startPosition,
                           const ccCalib2VertexFeatureParams& params, cc_Corner*& anchor) {
  cstd_assert_(cfRealEq(yStep.length(), 1.0, 1e-15));
  const ccLine barAxis(xStep, fiducialPoint);
  const ccLine column(yStep, startPosition);
  cstd_assert_(std::fabs(barAxis.direction().dot(column.direction())) < kMaxAxisCosine);
  const std::vector<ccVector<2>> crossing = barAxis.intersection(column);
  if (crossing.size() != 1) return;
  const ccVector<2>& x = crossing.front();
  const ccVector<2> mirror = x + (x - startPosition);

  cc_Corner* nearest = nullptr;
  double bestDistance = std::numeric_limits<double>::max();
  for (cc_Corner& c : corners) {
    if (params.needBothCheckers() && c.linked.size() > kMaxSecondAnchorLinks) continue;
    if (!c.valid) continue;
    const double d2 = (c.position - mirror).lengthSq();
    if (d2 < bestDistance) {
      bestDistance = d2;
      nearest = &c;
    }
  }
  if (nearest != nullptr &&
      std::sqrt(bestDistance) < kSecondAnchorTolerance * (x - startPosition).length())
    anchor = nearest;
}
