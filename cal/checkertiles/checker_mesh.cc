// SPDX-License-Identifier: Apache-2.0
// The mesh of checker tiles: light squares that touch diagonally are linked, and each link
// makes one corner (a board vertex). Links the overlap test missed are recovered from the
// rows of tiles they continue; configurations no checkerboard shows are broken up.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "cal/checkertiles/checker_geometry.h"
#include "cal/checkertiles/checker_stages.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"

using checker_internal::areaRatio;
using checker_internal::inLine;
using checker_internal::tileOverlap;

namespace {

// Corner slots reserved per tile: the mesh makes at most 2.5 per tile, the caliper stage adds
// single-tile corners into the rest.
constexpr std::size_t kCornersPerTile = 4;
// Linked tiles overlap by less than this share of the smaller one in the first pass (more
// means one blob split in two); in the second pass more than this rejects both.
constexpr double kMaxRelativeOverlap = 0.5;
// Linked tiles differ in area by at most this factor (smaller over larger).
constexpr double kMinAreaRatio = 0.2;
// A lost link joins tiles whose outlines come within this share of their centre distance.
constexpr double kProximityFactor = 0.1;
// A tile with this many links has no room for a recovered one.
constexpr int kFullLinks = 4;
// A tile without a row through it takes a recovered link only while it has at most this many.
constexpr int kMaxLinksWithoutRow = 2;

bool isNeighbour(const cc_Checker& t, const cc_Checker* other) {
  for (int k = 0; k < t.neighbourCount; ++k)
    if (t.neighbours[static_cast<std::size_t>(k)] == other) return true;
  return false;
}

bool haveCommonNeighbour(const cc_Checker& a, const cc_Checker& b) {
  for (int k = 0; k < a.neighbourCount; ++k)
    if (isNeighbour(b, a.neighbours[static_cast<std::size_t>(k)])) return true;
  return false;
}

double relativeOverlap(double overlap, const cc_Checker& a, const cc_Checker& b) {
  const double smaller = std::min(a.area, b.area);
  cstd_assert_(smaller > 0.0);
  return overlap / smaller;
}

// Links a and b both ways and appends their shared corner. Does nothing when the corner list
// has no spare room (pointers into it must never move).
void link(cc_Checker& a, cc_Checker& b, std::vector<cc_Corner>& corners) {
  cstd_assert_(corners.size() < corners.capacity());
  if (corners.size() >= corners.capacity()) return;
  a.addNeighbour(&b);
  b.addNeighbour(&a);
  corners.emplace_back(&a, &b);
  cc_Corner* c = &corners.back();
  a.addCorner(c);
  b.addCorner(c);
  cstd_assert_(a.neighbourCount == a.cornerCount && b.neighbourCount == b.cornerCount);
}

// For every tile, the later tiles (ascending index) whose outline boxes, each grown by
// `reach(tile)` on every side, meet its own. Only such pairs can touch or nearly touch; the
// lists let the pair loops below skip the rest of a large board without changing the order in
// which pairs are visited.
template <class Reach>
std::vector<std::vector<std::size_t>> boxPartners(const std::vector<cc_Checker>& tiles,
                                                  Reach reach) {
  const std::size_t n = tiles.size();
  std::vector<ccRect> box(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double r = reach(tiles[i]);
    box[i] = tiles[i].polygonBox.trim(-r, -r, -r, -r);
  }
  std::vector<std::size_t> byLeft(n);
  for (std::size_t i = 0; i < n; ++i) byLeft[i] = i;
  std::sort(byLeft.begin(), byLeft.end(),
            [&](std::size_t a, std::size_t b) { return box[a].x() < box[b].x(); });
  std::vector<std::vector<std::size_t>> partners(n);
  for (std::size_t u = 0; u < n; ++u) {
    const std::size_t i = byLeft[u];
    const double right = box[i].x() + box[i].width();
    for (std::size_t v = u + 1; v < n && !(box[byLeft[v]].x() > right); ++v) {
      const std::size_t j = byLeft[v];
      if (box[j].y() > box[i].y() + box[i].height() || box[i].y() > box[j].y() + box[j].height())
        continue;
      partners[std::min(i, j)].push_back(std::max(i, j));
    }
  }
  for (std::vector<std::size_t>& p : partners) std::sort(p.begin(), p.end());
  return partners;
}

// 1. Tiles whose grown outlines overlap, by less than half the smaller one in the first pass,
// and of comparable size.
void linkTouchingTiles(bool secondPass, std::vector<cc_Checker>& tiles,
                       std::vector<cc_Corner>& corners) {
  corners.reserve(corners.size() + kCornersPerTile * tiles.size());
  const std::vector<std::vector<std::size_t>> partners =
      boxPartners(tiles, [](const cc_Checker&) { return 0.0; });
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    cc_Checker& a = tiles[i];
    for (std::size_t j : partners[i]) {
      cc_Checker& b = tiles[j];
      const double overlap = tileOverlap(a, b);
      if (overlap == 0.0) continue;
      if (!secondPass) {
        const double rel = relativeOverlap(overlap, a, b);
        cstd_assert_(rel <= 1.0 + 1e-9);
        if (!(rel < kMaxRelativeOverlap)) continue;
      }
      if (!(areaRatio(a.area, b.area) >= kMinAreaRatio)) continue;
      link(a, b, corners);
    }
  }
}

// Shortest distance between the two boxes as seen from Q's corners: each corner's nearest
// point in P's box, then that point's distance to Q's box.
double quickBoxDistance(const ccRect& p, const ccRect& q) {
  auto clampInto = [](const ccVector<2>& v, const ccRect& r) {
    return ccVector<2>(std::min(std::max(v.x(), r.x()), r.x() + r.width()),
                       std::min(std::max(v.y(), r.y()), r.y() + r.height()));
  };
  const ccVector<2> corners[4] = {q.ul(), ccVector<2>(q.x() + q.width(), q.y()),
                                  ccVector<2>(q.x(), q.y() + q.height()), q.lr()};
  double best = std::numeric_limits<double>::infinity();
  for (const ccVector<2>& c : corners) {
    const ccVector<2> onP = clampInto(c, p);
    best = std::min(best, (clampInto(onP, q) - onP).length());
    if (best == 0.0) break;
  }
  return best;
}

// The outlines of p and q do not overlap but come within a tenth of their centre distance.
bool nearlyTouch(const cc_Checker& p, const cc_Checker& q) {
  if (tileOverlap(p, q) > 0.0) return false;
  const double d = (p.centerOfMass - q.centerOfMass).length();
  cstd_assert_(d != 0.0);
  if (d == 0.0) return false;
  const double tolerance = kProximityFactor * d;
  if (quickBoxDistance(p.polygonBox, q.polygonBox) > tolerance) return false;
  return p.polygon.nearestPoints(q.polygon).distance <= tolerance;
}

// A link P-Q continues a row: the tile N beyond Q seen from P is a neighbour of Q, and no
// other neighbour of Q already sits where P would. Without such a row, only tiles with at
// most two links take the link.
bool continuesRow(const cc_Checker& p, const cc_Checker& q) {
  if (!nearlyTouch(p, q)) return false;
  if (!(areaRatio(p.area, q.area) >= kMinAreaRatio)) return false;
  for (int k = 0; k < q.neighbourCount; ++k) {
    const cc_Checker* n = q.neighbours[static_cast<std::size_t>(k)];
    if (!inLine(p.centerOfMass, q.centerOfMass, n->centerOfMass)) continue;
    for (int m = 0; m < q.neighbourCount; ++m) {
      const cc_Checker* other = q.neighbours[static_cast<std::size_t>(m)];
      if (other != n && inLine(n->centerOfMass, q.centerOfMass, other->centerOfMass)) return false;
    }
    return true;
  }
  return q.neighbourCount <= kMaxLinksWithoutRow && p.neighbourCount <= kMaxLinksWithoutRow;
}

// 2. Whole sweeps over the pairs of tiles with room for a link, until one adds nothing.
void recoverLostLinks(std::vector<cc_Checker>& tiles, std::vector<cc_Corner>& corners) {
  // Outlines within a tenth of their centre distance lie within (diagonal of one box +
  // diagonal of the other) / 9 of each other, centres lying inside their boxes; pairs further
  // apart never pass the proximity test.
  const std::vector<std::vector<std::size_t>> partners =
      boxPartners(tiles, [](const cc_Checker& t) {
        return std::hypot(t.polygonBox.width(), t.polygonBox.height()) / 9.0 + 1.0;
      });
  bool added = true;
  while (added) {
    added = false;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
      cc_Checker& a = tiles[i];
      if (a.neighbourCount >= kFullLinks) continue;
      for (std::size_t j : partners[i]) {
        if (a.neighbourCount >= kFullLinks) break;
        cc_Checker& b = tiles[j];
        if (b.neighbourCount >= kFullLinks) continue;
        if (isNeighbour(a, &b) || haveCommonNeighbour(a, b)) continue;
        if (!continuesRow(a, b) && !continuesRow(b, a)) continue;
        const std::size_t before = corners.size();
        link(a, b, corners);
        added = added || corners.size() != before;
      }
    }
  }
}

// 3. Two tiles overlapping by more than half the smaller one (second pass), and three tiles
// touching one another, cannot be squares of one checkerboard.
void markInconsistentTiles(bool secondPass, std::vector<cc_Checker>& tiles) {
  for (cc_Checker& a : tiles) {
    for (int k = 0; k < a.neighbourCount; ++k) {
      cc_Checker* b = a.neighbours[static_cast<std::size_t>(k)];
      if (secondPass && relativeOverlap(tileOverlap(a, *b), a, *b) > kMaxRelativeOverlap) {
        a.rejected = true;
        b->rejected = true;
      }
      for (int m = k + 1; m < a.neighbourCount; ++m) {
        cc_Checker* c = a.neighbours[static_cast<std::size_t>(m)];
        if (isNeighbour(*b, c)) {
          a.rejected = true;
          b->rejected = true;
          c->rejected = true;
        }
      }
    }
  }
}

// 4. Good tiles let go of rejected ones (both sides of each such link).
void dropLinksToRejected(std::vector<cc_Checker>& tiles) {
  for (cc_Checker& a : tiles) {
    if (a.rejected) continue;
    for (int k = 0; k < a.neighbourCount;) {
      cc_Checker* b = a.neighbours[static_cast<std::size_t>(k)];
      if (!b->rejected) {
        ++k;
        continue;
      }
      a.removeLink(b);
      b->removeLink(&a);
    }
  }
}

// 5. Each tile's links (neighbour and shared corner together) in ascending direction angle.
void orderLinksByAngle(std::vector<cc_Checker>& tiles) {
  std::vector<cc_NbrIndexAngle> order;
  for (cc_Checker& t : tiles) {
    if (t.neighbourCount < 2) continue;
    if (t.neighbourCount != t.cornerCount) {
      throw ccCalib2VertexFeatureDefs::FailedCorrespondence(L"Failed to establish correspondence.");
    }
    order.clear();
    for (int k = 0; k < t.neighbourCount; ++k) {
      cc_NbrIndexAngle e;
      e.neighbour = t.neighbours[static_cast<std::size_t>(k)];
      e.corner = t.corners[static_cast<std::size_t>(k)];
      e.angle = (e.neighbour->centerOfMass - t.centerOfMass).angle().norm().toDouble();
      order.push_back(e);
    }
    std::sort(order.begin(), order.end(), [](const cc_NbrIndexAngle& x, const cc_NbrIndexAngle& y) {
      return x.angle < y.angle;
    });
    for (std::size_t k = 0; k < order.size(); ++k) {
      t.neighbours[k] = order[k].neighbour;
      t.corners[k] = order[k].corner;
    }
  }
}

}  // namespace

void cfCheckerBuildMesh(const ccPelBuffer_const<unsigned char>& /*image*/, bool secondPass,
                        std::vector<cc_Checker>& tiles, std::vector<cc_Corner>& corners) {
  linkTouchingTiles(secondPass, tiles, corners);
  ccAttention::check();
  recoverLostLinks(tiles, corners);
  ccAttention::check();
  markInconsistentTiles(secondPass, tiles);
  ccAttention::check();
  dropLinksToRejected(tiles);
  ccAttention::check();
  orderLinksByAngle(tiles);
}
