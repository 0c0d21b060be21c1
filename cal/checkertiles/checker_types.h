// SPDX-License-Identifier: Apache-2.0
// The records that the checkerboard stages share: a checker tile (one light square found
// in the image) and a corner (one board vertex, where two tiles touch diagonally). Tiles
// and corners point at each other by raw pointers, so neither list may reallocate once
// filled: the tile list reserves one slot per blob, the corner list four per tile.
#ifndef CAL_CHECKERTILES_CHECKER_TYPES_H
#define CAL_CHECKERTILES_CHECKER_TYPES_H

#include <limits>
#include <vector>

#include "platform/foundation/angle.h"
#include "platform/foundation/lines.h"
#include "platform/foundation/polyline.h"
#include "platform/foundation/rect.h"
#include "platform/foundation/vector.h"

struct cc_Corner;

// One checker tile. Neighbour slot i and corner slot i describe the same link: corner i is
// the one shared with neighbour i. Slot rules (addNeighbour, addCorner): below 4 used slots
// a new entry takes the next slot; a fifth entry is appended as slot 4 (for neighbours the
// tile is then marked rejected); a sixth and later entry is ignored. So either the vectors
// have 4 slots and count <= 4, or 5 slots and count 5. Single-tile corners (made when a
// corner needs only one checker) take corner slots after the linked ones, without a
// neighbour.
struct cc_Checker {
  std::vector<cc_Checker*> neighbours = std::vector<cc_Checker*>(4, nullptr);
  std::vector<cc_Corner*> corners = std::vector<cc_Corner*>(4, nullptr);
  int neighbourCount = 0;
  int cornerCount = 0;
  ccRect boundingBox;        // blob bounding box along its principal angle
  ccVector<2> center;        // blob centre (of that box)
  ccRadian angle;            // blob principal angle
  ccPolyline polygon;        // grown convex outline, closed, client coordinates
  ccRect polygonBox;         // bounding box of polygon
  double area = -1.0;        // area of polygon
  ccVector<2> centerOfMass;  // blob centre of mass
  bool rejected = false;     // fifth neighbour or inconsistent links: skipped by the calipers

  // Slot rules above.
  void addNeighbour(cc_Checker* tile);
  void addCorner(cc_Corner* corner);
  // Removes the link to `tile`: its neighbour slot and the first corner slot whose tile
  // pair contains it (the corner record itself stays in the corner list). No-op if absent.
  void removeLink(const cc_Checker* tile);
  // First of the used corner slots whose first or second tile is `tile`, or null.
  cc_Corner* cornerSharedWith(const cc_Checker* tile) const;
};

// One board vertex.
struct cc_Corner {
  // Label x value meaning "not labelled".
  static constexpr long kUnlabelled = 2147483647L;

  cc_Corner() { reserveLines(); }
  cc_Corner(cc_Checker* first, cc_Checker* second) : tiles(first, second) { reserveLines(); }

  // True once a position has been fitted; cleared by the precision filter.
  bool valid = false;
  // Fitted vertex position, client coordinates of the working image (= its pixels).
  ccVector<2> position{std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
  // Residual (RMS distance to its lines) of the position fit.
  double error = std::numeric_limits<double>::max();
  // Grid label (x, y); x == kUnlabelled means unlabelled.
  ccPair<long> label{kUnlabelled, kUnlabelled};
  // The two tiles it was made from; second is null for a single-tile corner.
  ccPair<cc_Checker*> tiles{nullptr, nullptr};
  // Edge lines measured next to this corner (at most 4) and, per line, whether the corner
  // is the start of the measured tile side and whether the measuring tile is tiles.first.
  std::vector<ccFLine> lines;
  std::vector<bool> lineAtStart;
  std::vector<bool> lineFromFirst;
  // Corners joined to this one by a measured tile side.
  std::vector<cc_Corner*> linked;

  bool isLabelled() const { return label.first != kUnlabelled; }
  // Appends a line with its two flags (precondition: fewer than 4 lines; a fifth line is
  // reported and dropped).
  void addLine(const ccFLine& line, bool fromFirst, bool atStart);
  void link(cc_Corner* other) { linked.push_back(other); }

 private:
  void reserveLines() {
    lines.reserve(4);
    lineAtStart.reserve(4);
    lineFromFirst.reserve(4);
    linked.reserve(4);
  }
};

// A tile's link while its neighbours are ordered by direction.
struct cc_NbrIndexAngle {
  cc_Checker* neighbour = nullptr;
  cc_Corner* corner = nullptr;
  double angle = 0.0;  // radians
};

#endif  // CAL_CHECKERTILES_CHECKER_TYPES_H
