// SPDX-License-Identifier: Apache-2.0
// Mesh building on hand-placed tiles: links of a checkerboard's light squares, the slot rules
// of a fifth and sixth neighbour, rejection of impossible configurations, recovery of links
// the overlap test missed, and the overlap rules of the two passes.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "cal/checkertiles/checker_stages.h"

namespace {

constexpr double kSquare = 40.0;  // pixels

// A tile whose grown outline is the axis-aligned square of half side `half` around `centre`.
cc_Checker tileAt(const ccVector<2>& centre, double half) {
  cc_Checker t;
  t.centerOfMass = t.center = centre;
  t.polygon = ccPolyline(
      cfConvexHull({centre + ccVector<2>(-half, -half), centre + ccVector<2>(half, -half),
                    centre + ccVector<2>(half, half), centre + ccVector<2>(-half, half)}),
      true);
  t.polygonBox = t.polygon.boundingBox();
  t.area = t.polygon.area();
  return t;
}

// The light squares (i + j even) of a cols x rows board, outlines grown to 0.6 of a square
// each side of the centre, as tile detection gives them.
std::vector<cc_Checker> board(int cols, int rows) {
  std::vector<cc_Checker> tiles;
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < cols; ++i)
      if ((i + j) % 2 == 0)
        tiles.push_back(
            tileAt(ccVector<2>((i + 0.5) * kSquare, (j + 0.5) * kSquare), 0.6 * kSquare));
  return tiles;
}

void buildMesh(std::vector<cc_Checker>& tiles, std::vector<cc_Corner>& corners,
               bool secondPass = false) {
  cfCheckerBuildMesh(ccPelBuffer_const<unsigned char>(), secondPass, tiles, corners);
}

cc_Checker* tileNear(std::vector<cc_Checker>& tiles, double x, double y) {
  for (cc_Checker& t : tiles)
    if ((t.centerOfMass - ccVector<2>(x, y)).length() < 1.0) return &t;
  return nullptr;
}

TEST(CheckerMesh, LightSquaresLinkDiagonallyWithOneCornerPerLinkInAngleOrder) {
  std::vector<cc_Checker> tiles = board(5, 5);
  std::vector<cc_Corner> corners;
  buildMesh(tiles, corners);
  // 13 light squares of a 5 x 5 board touch along 16 diagonals.
  EXPECT_EQ(corners.size(), 16u);
  EXPECT_GE(corners.capacity(), 4 * tiles.size());
  cc_Checker* centre = tileNear(tiles, 2.5 * kSquare, 2.5 * kSquare);
  ASSERT_NE(centre, nullptr);
  ASSERT_EQ(centre->neighbourCount, 4);
  ASSERT_EQ(centre->cornerCount, 4);
  double previous = -1.0;
  for (int k = 0; k < 4; ++k) {
    const cc_Checker* n = centre->neighbours[static_cast<std::size_t>(k)];
    const double angle = (n->centerOfMass - centre->centerOfMass).angle().norm().toDouble();
    EXPECT_GT(angle, previous) << "slot " << k;
    previous = angle;
    const cc_Corner* c = centre->corners[static_cast<std::size_t>(k)];
    EXPECT_TRUE((c->tiles.first == centre && c->tiles.second == n) ||
                (c->tiles.first == n && c->tiles.second == centre))
        << "corner slot " << k << " belongs to neighbour slot " << k;
  }
  for (const cc_Checker& t : tiles) EXPECT_FALSE(t.rejected);
}

TEST(CheckerMesh, FifthNeighbourRejectsTheTileAndSixthIsRecordedOnTheOtherSideOnly) {
  // Slot rules alone.
  cc_Checker t, others[6];
  for (cc_Checker& o : others) t.addNeighbour(&o);
  EXPECT_EQ(t.neighbourCount, 5);
  EXPECT_EQ(t.neighbours.size(), 5u);
  EXPECT_EQ(t.neighbours[4], &others[4]);
  EXPECT_TRUE(t.rejected);
  t.removeLink(&others[5]);  // never recorded: nothing changes
  EXPECT_EQ(t.neighbourCount, 5);
  t.removeLink(&others[1]);
  EXPECT_EQ(t.neighbourCount, 4);
  EXPECT_EQ(t.neighbours.size(), 4u);
  EXPECT_EQ(t.neighbours[1], &others[2]);

  // In a mesh: a square touched by its four diagonal neighbours and two small tiles at its
  // sides (which touch nothing else).
  std::vector<cc_Checker> tiles = board(3, 3);
  tiles.push_back(
      tileAt(ccVector<2>(1.5 * kSquare + 0.85 * kSquare, 1.5 * kSquare), 0.3 * kSquare));
  tiles.push_back(
      tileAt(ccVector<2>(1.5 * kSquare - 0.85 * kSquare, 1.5 * kSquare), 0.3 * kSquare));
  std::vector<cc_Corner> corners;
  buildMesh(tiles, corners);
  cc_Checker* centre = tileNear(tiles, 1.5 * kSquare, 1.5 * kSquare);
  cc_Checker& sixth = tiles.back();
  EXPECT_TRUE(centre->rejected);
  EXPECT_EQ(corners.size(), 6u) << "every touching pair made a corner";
  // Good tiles let go of the rejected one; it keeps no link to them.
  EXPECT_EQ(centre->neighbourCount, 0);
  for (const cc_Checker& o : tiles) {
    if (&o == centre) continue;
    EXPECT_FALSE(o.rejected);
    EXPECT_EQ(o.neighbourCount, 0);
    EXPECT_EQ(o.cornerCount, 0);
  }
  EXPECT_EQ(sixth.neighbourCount, 0);
}

TEST(CheckerMesh, ThreeMutuallyTouchingTilesAreRejectedAndKeepOnlyTheirOwnLinks) {
  std::vector<cc_Checker> tiles;
  tiles.push_back(tileAt(ccVector<2>(100, 100), 24));
  tiles.push_back(tileAt(ccVector<2>(140, 100), 24));
  tiles.push_back(tileAt(ccVector<2>(120, 135), 24));
  tiles.push_back(tileAt(ccVector<2>(181, 141), 24));  // touches the second only, at a corner
  std::vector<cc_Corner> corners;
  buildMesh(tiles, corners);
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(tiles[static_cast<std::size_t>(k)].rejected) << k;
    EXPECT_EQ(tiles[static_cast<std::size_t>(k)].neighbourCount, 2) << k;
  }
  EXPECT_FALSE(tiles[3].rejected);
  EXPECT_EQ(tiles[3].neighbourCount, 0);
  EXPECT_EQ(tiles[1].cornerCount, 2);
}

TEST(CheckerMesh, LinkMissedByTheOverlapTestIsRecoveredFromTheRow) {
  // A diagonal row of four squares; the second and third outlines stop just short of each
  // other (a gap of 2 px, within a tenth of their 56 px centre distance).
  const double step = kSquare, gap = 2.0;
  std::vector<cc_Checker> tiles;
  for (int k = 0; k < 4; ++k) {
    const double half = (k == 1 || k == 2) ? (step - gap) / 2.0 : 0.6 * step;
    tiles.push_back(tileAt(ccVector<2>(100 + k * step, 100 + k * step), half));
  }
  std::vector<cc_Corner> corners;
  buildMesh(tiles, corners);
  EXPECT_EQ(corners.size(), 3u);
  EXPECT_EQ(tiles[1].neighbourCount, 2);
  EXPECT_EQ(tiles[2].neighbourCount, 2);
  EXPECT_NE(tiles[1].cornerSharedWith(&tiles[2]), nullptr);

  // Too far apart for the proximity test: no link.
  tiles.clear();
  tiles.push_back(tileAt(ccVector<2>(100, 100), 15));
  tiles.push_back(tileAt(ccVector<2>(140, 140), 15));
  corners.clear();
  buildMesh(tiles, corners);
  EXPECT_TRUE(corners.empty());

  // Nearly touching, no row through either, both with few links: linked.
  tiles.clear();
  tiles.push_back(tileAt(ccVector<2>(100, 100), 19));
  tiles.push_back(tileAt(ccVector<2>(140, 140), 19));
  corners.clear();
  buildMesh(tiles, corners);
  EXPECT_EQ(corners.size(), 1u);
}

TEST(CheckerMesh, HalfOverlapSplitsTheTwoPassesAndSmallAreaRatioNeverLinks) {
  // Two 20 x 20 outlines overlapping by exactly half.
  std::vector<cc_Checker> tiles{tileAt(ccVector<2>(100, 100), 10),
                                tileAt(ccVector<2>(110, 100), 10)};
  std::vector<cc_Corner> corners;
  buildMesh(tiles, corners, false);
  EXPECT_TRUE(corners.empty()) << "first pass: relative overlap 0.5 is too much";
  std::vector<cc_Checker> again{tileAt(ccVector<2>(100, 100), 10),
                                tileAt(ccVector<2>(110, 100), 10)};
  corners.clear();
  buildMesh(again, corners, true);
  EXPECT_EQ(corners.size(), 1u) << "second pass links any overlap";
  EXPECT_FALSE(again[0].rejected) << "and rejects only above half";

  // Area ratio just below 0.2.
  std::vector<cc_Checker> small{tileAt(ccVector<2>(100, 100), 20),
                                tileAt(ccVector<2>(125, 125), 20 * std::sqrt(0.199))};
  corners.clear();
  buildMesh(small, corners, true);
  EXPECT_TRUE(corners.empty());
}

}  // namespace
