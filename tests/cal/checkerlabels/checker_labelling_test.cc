// SPDX-License-Identifier: Apache-2.0
// Start corner, label axes, anchors, label propagation and the final feature pairs, on
// hand-made corner meshes with known grid positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "cal/checkerlabels/checker_labels.h"
#include "tests/support/checker_mesh.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;

// Image from grid: pitch s along the axes turned by `deg` degrees, grid (0, 0) at `origin`.
ccXform<2> gridCamera(double s, double deg, const ccVector<2>& origin = ccVector<2>(300, 200)) {
  const double a = deg * ccPi / 180.0;
  return ccXform<2>(
      ccMatrix<2>(s * std::cos(a), -s * std::sin(a), s * std::sin(a), s * std::cos(a)), origin);
}

void propagate(cc_Corner& start, const ccPair<long>& label, const ccXform<2>& grid = ccXform<2>()) {
  start.label = label;
  std::vector<cc_Corner*> queue(1, &start);
  cfCheckerPropagateLabels(queue, grid);
  EXPECT_TRUE(queue.empty());
}

// Corners at the given positions, valid, not linked.
std::vector<cc_Corner> cornersAt(std::initializer_list<ccVector<2>> positions) {
  std::vector<cc_Corner> c(positions.size());
  std::size_t k = 0;
  for (const ccVector<2>& p : positions) c[k].valid = true, c[k++].position = p;
  return c;
}

TEST(CheckerStartCorner, NearestValidCornerAndAxesFromTheMesh) {
  // Grid turned by 100 degrees: its x axis points mostly down the image, so the label axes
  // swap: xStep follows the grid's y axis (negated to point right), yStep its x axis.
  ccTestMesh mesh(-2, 2, -2, 2, gridCamera(20.0, 100.0));
  mesh.at(0, 0).valid = false;  // the corner at the target is no candidate
  ccVector<2> xStep, yStep;
  const cc_Corner* start =
      cfCheckerStartCorner(ccVector<2>(300.0, 201.0), mesh.corners, xStep, yStep);
  ASSERT_NE(start, nullptr);
  EXPECT_NEAR(start->position.distance(ccVector<2>(300, 201)), 20.0, 1.0);
  const double a = 100.0 * ccPi / 180.0;
  EXPECT_LT(xStep.distance(ccVector<2>(std::sin(a), -std::cos(a))), 1e-12);
  EXPECT_LT(yStep.distance(ccVector<2>(std::cos(a), std::sin(a))), 1e-12);

  ccTestMesh row(0, 3, 0, 0, gridCamera(20.0, 30.0));  // two links at most: image axes
  EXPECT_EQ(cfCheckerStartCorner(ccVector<2>(0, 0), row.corners, xStep, yStep), &row.at(0, 0));
  EXPECT_EQ(xStep, ccVector<2>(1, 0));
  EXPECT_EQ(yStep, ccVector<2>(0, 1));
  for (cc_Corner& c : row.corners) c.valid = false;
  try {
    cfCheckerStartCorner(ccVector<2>(0, 0), row.corners, xStep, yStep);
    FAIL();
  } catch (const Defs::FailedCorrespondence& e) {
    EXPECT_EQ(e.message(), L"Failed to establish correspondence.");
  }
}

TEST(CheckerPropagation, LabelsTheWholeMeshAlongTheGivenAxes) {
  for (double deg : {0.0, 25.0, -40.0}) {
    SCOPED_TRACE(deg);
    ccTestMesh mesh(-4, 5, -3, 3, gridCamera(25.0, deg));
    mesh.at(2, 1).valid = false;  // skipped, and left unlabelled
    const double a = deg * ccPi / 180.0;
    const ccVector<2> xStep(std::cos(a), std::sin(a)), yStep(-std::sin(a), std::cos(a));
    propagate(mesh.at(-1, 0), ccPair<long>(7, -3),
              ccXform<2>(ccMatrix<2>(xStep.x(), yStep.x(), xStep.y(), yStep.y()), ccVector<2>())
                  .inverse());
    for (long j = mesh.j0; j <= mesh.j1; ++j)
      for (long i = mesh.i0; i <= mesh.i1; ++i)
        EXPECT_EQ(mesh.at(i, j).label,
                  i == 2 && j == 1 ? cc_Corner().label : ccPair<long>(i + 8, j - 3));
  }
}

TEST(CheckerPropagation, BreadthFirstFirstLabelStaysAndDiagonalGoesAlongY) {
  // S links A (right) and B (down); C lies below A and also below B: breadth first, A labels
  // it (1, 1) before B is visited. D sits exactly between the axes from C.
  std::vector<cc_Corner> c = cornersAt({{0, 0}, {10, 0}, {0, 10}, {9, 11}, {19, 21}});
  c[0].link(&c[1]), c[0].link(&c[2]), c[1].link(&c[3]), c[2].link(&c[3]), c[3].link(&c[4]);
  propagate(c[0], ccPair<long>(0, 0));
  EXPECT_EQ(c[3].label, ccPair<long>(1, 1));
  EXPECT_EQ(c[4].label, ccPair<long>(1, 2));
}

TEST(CheckerPropagation, AUsedLabelStopsTheVisitOfThatCorner) {
  // S's third link would repeat the label of its first: the fourth is not visited from S.
  std::vector<cc_Corner> c = cornersAt({{0, 0}, {10, 0}, {0, -10}, {10, 1}, {0, 10}});
  for (int k = 1; k <= 4; ++k) c[0].link(&c[k]);
  propagate(c[0], ccPair<long>(0, 0));
  EXPECT_EQ(c[1].label, ccPair<long>(1, 0));
  EXPECT_EQ(c[2].label, ccPair<long>(0, -1));
  EXPECT_FALSE(c[3].isLabelled() || c[4].isLabelled());
  // A second walk keeps the first walk's labels and may hand out the same labels again:
  // it starts at (1, 0) and gives c[4], left of its start, (0, 0).
  c[3].link(&c[4]);
  propagate(c[3], ccPair<long>(1, 0));
  EXPECT_EQ(c[4].label, ccPair<long>(0, 0));
  EXPECT_EQ(c[1].label, ccPair<long>(1, 0));
}

// The plate's fiducial at 20 px per pitch: the light tile between the bars touches one other
// light tile, at vertex (-2, -2).
struct FiducialScene {
  std::vector<cc_Checker> tiles = std::vector<cc_Checker>(2);
  std::vector<cc_Corner> corners = std::vector<cc_Corner>(1);

  static ccVector<2> at(double x, double y) {
    return ccVector<2>(200, 200) + ccVector<2>(x, y) * 20.0;
  }
  FiducialScene() {
    tiles[0].centerOfMass = at(-2.5, -2.5);
    tiles[1].centerOfMass = at(-1.5, -1.5);
    corners[0] = cc_Corner(&tiles[0], &tiles[1]);
    corners[0].valid = true;
    corners[0].position = at(-2, -2);
    tiles[0].addNeighbour(&tiles[1]), tiles[0].addCorner(&corners[0]);
    tiles[1].addNeighbour(&tiles[0]), tiles[1].addCorner(&corners[0]);
  }
  long run(const ccCalib2VertexFeatureParams& p = ccCalib2VertexFeatureParams()) const {
    const ccAffineRectangle barA(at(-1.5, -3.5), 130, 10, ccRadian(0.0), ccRadian(0.0));
    const ccAffineRectangle barB(at(-3.5, -1.125), 10, 75, ccRadian(0.0), ccRadian(0.0));
    return cfCheckerFiducialCorner(barA, barB, at(-3.5, -3.5), ccVector<2>(1, 0), ccVector<2>(0, 1),
                                   corners, tiles, p);
  }
};

TEST(CheckerFiducialCorner, CornerOfTheTileBetweenTheBars) {
  EXPECT_EQ(FiducialScene().run(), 0);
  FiducialScene mirrored;  // the tile's neighbour lies outside the angle from xStep to yStep
  mirrored.tiles[1].centerOfMass = FiducialScene::at(-3.5, -1.5);
  EXPECT_EQ(mirrored.run(), -1);
  FiducialScene single;  // a corner made from one tile is not usable
  single.corners[0].tiles.second = nullptr;
  ccCalib2VertexFeatureParams oneChecker;
  oneChecker.needBothCheckers(false);
  EXPECT_EQ(single.run(oneChecker), -1);
  FiducialScene invalid;
  invalid.corners[0].valid = false;
  EXPECT_EQ(invalid.run(), -1);
}

TEST(CheckerSecondAnchor, CornerMirroredAcrossTheFirstBar) {
  // Start (-2, -2), first bar's axis y = -3.5: the mirror point is (-2, -5), 1.5 pitches from
  // the axis, so a candidate must lie within 0.45 * 1.5 pitches of it.
  const double s = 20.0;
  ccTestMesh mesh(-4, 0, -7, -5, gridCamera(s, 0.0, ccVector<2>(200, 200)));
  const ccVector<2> fiducial(200 - 3.5 * s, 200 - 3.5 * s), start(200 - 2 * s, 200 - 2 * s);
  ccCalib2VertexFeatureParams params;
  auto anchor = [&](std::vector<cc_Corner>& corners) {
    cc_Corner* a = nullptr;
    cfCheckerSecondAnchor(corners, fiducial, ccVector<2>(1, 0), ccVector<2>(0, 1), start, params,
                          a);
    return a;
  };
  EXPECT_EQ(anchor(mesh.corners), &mesh.at(-2, -5));  // on the mesh's edge row: three links
  mesh.at(-2, -5).link(&mesh.at(-3, -5));  // four links: skipped when both checkers are needed
  EXPECT_EQ(anchor(mesh.corners), nullptr);
  params.needBothCheckers(false);
  EXPECT_EQ(anchor(mesh.corners), &mesh.at(-2, -5));
  for (double off : {0.449, 0.45}) {  // the distance limit is strict
    std::vector<cc_Corner> one = cornersAt({{200 - 2 * s + off * 1.5 * s, 200 - 5 * s}});
    EXPECT_EQ(anchor(one) != nullptr, off < 0.45) << off;
  }
}

TEST(CheckerFeatures, PrecisionFilterPairsAndRowOrder) {
  std::vector<cc_Corner> c = cornersAt({{0, 5}, {10, 5}, {20, 5}, {30, 5}, {40, 5}});
  const ccPair<long> labels[] = {{2, 1}, {-1, 1}, {0, -3}, {4, 0}, {1, 1}};
  for (std::size_t k = 0; k < c.size(); ++k) {
    c[k].label = labels[k];
    c[k].error = 0.1 * static_cast<double>(k);
    for (int l = 0; l < 4; ++l) c[k].addLine(ccFLine(), true, true);
  }
  c[1].lines.pop_back();           // three lines only
  c[3].label = cc_Corner().label;  // never labelled
  std::vector<cc_Corner> kept = c;
  cfCheckerPrecisionFilter(kept, std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::all_of(kept.begin(), kept.end(), [](const cc_Corner& k) { return k.valid; }));
  cfCheckerPrecisionFilter(c, 0.2);  // corner 2's error equals the threshold: kept
  EXPECT_TRUE(c[0].valid && c[2].valid);
  EXPECT_FALSE(c[1].valid || c[3].valid || c[4].valid);

  c[1].valid = c[4].valid = true;
  ccCalib2VertexFeatureParams params;
  params.physicalGridPitch(ccVector<2>(2.0, 3.0));
  std::vector<ccPair<ccVector<2>>> pairs(3);
  cfCheckerFeaturePairs(c, params, pairs);
  std::sort(pairs.begin(), pairs.end(), plateRowMajorLess);
  ASSERT_EQ(pairs.size(), 4u);
  const ccVector<2> plate[] = {{0, -9}, {-2, 3}, {2, 3}, {4, 3}};
  const double x[] = {20, 10, 40, 0};
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(pairs[k].second, plate[k]) << k;
    EXPECT_EQ(pairs[k].first, ccVector<2>(x[k], 5.0)) << k;
  }
}

}  // namespace
