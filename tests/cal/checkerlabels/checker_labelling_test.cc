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
  return ccXform<2>(ccMatrix<2>(s * std::cos(a), -s * std::sin(a), s * std::sin(a), s * std::cos(a)), origin);
}

ccXform<2> gridFromSteps(const ccVector<2>& xStep, const ccVector<2>& yStep) {
  return ccXform<2>(ccMatrix<2>(xStep.x(), yStep.x(), xStep.y(), yStep.y()), ccVector<2>()).inverse();
}

void propagate(cc_Corner& start, const ccPair<long>& label, const ccXform<2>& grid) {
  start.label = label;
  std::vector<cc_Corner*> queue(1, &start);
  cfCheckerPropagateLabels(queue, grid);
  EXPECT_TRUE(queue.empty());
}

TEST(CheckerStartCorner, NearestValidCornerAndAxesFromTheMesh) {
  // Grid turned by 100 degrees: its first axis points mostly down the image, so the label
  // axes swap: xStep follows the grid's y axis (negated to point right), yStep its x axis.
  ccTestMesh mesh(-2, 2, -2, 2, gridCamera(20.0, 100.0));
  mesh.at(0, 0).valid = false;  // the corner at the target is not a candidate
  ccVector<2> xStep, yStep;
  const cc_Corner* start = cfCheckerStartCorner(ccVector<2>(300.0, 201.0), mesh.corners, xStep, yStep);
  ASSERT_NE(start, nullptr);
  const double d = start->position.distance(ccVector<2>(300, 201));
  EXPECT_NEAR(d, 20.0, 1.0);  // one of the four neighbours of the invalid centre
  const double a = 100.0 * ccPi / 180.0;
  EXPECT_NEAR(xStep.x(), std::sin(a), 1e-12);
  EXPECT_NEAR(xStep.y(), -std::cos(a), 1e-12);
  EXPECT_NEAR(yStep.x(), std::cos(a), 1e-12);
  EXPECT_NEAR(yStep.y(), std::sin(a), 1e-12);
}

TEST(CheckerStartCorner, ImageAxesWithoutAFullyLinkedCornerAndNoValidCornerFails) {
  ccTestMesh mesh(0, 3, 0, 0, gridCamera(20.0, 30.0));  // a single row: two links at most
  ccVector<2> xStep, yStep;
  EXPECT_EQ(cfCheckerStartCorner(ccVector<2>(0, 0), mesh.corners, xStep, yStep), &mesh.at(0, 0));
  EXPECT_EQ(xStep, ccVector<2>(1, 0));
  EXPECT_EQ(yStep, ccVector<2>(0, 1));
  for (cc_Corner& c : mesh.corners) c.valid = false;
  try {
    cfCheckerStartCorner(ccVector<2>(0, 0), mesh.corners, xStep, yStep);
    FAIL();
  } catch (const Defs::FailedCorrespondence& e) {
    EXPECT_EQ(e.message(), L"Failed to establish correspondence.");
  }
}

TEST(CheckerPropagation, LabelsTheWholeMeshAlongTheGivenAxes) {
  for (double deg : {0.0, 25.0, -40.0}) {
    SCOPED_TRACE(deg);
    ccTestMesh mesh(-4, 5, -3, 3, gridCamera(25.0, deg));
    mesh.at(2, 1).valid = false;  // skipped, and unlabelled
    const double a = deg * ccPi / 180.0;
    propagate(mesh.at(-1, 0), ccPair<long>(7, -3),
              gridFromSteps(ccVector<2>(std::cos(a), std::sin(a)), ccVector<2>(-std::sin(a), std::cos(a))));
    for (long j = mesh.j0; j <= mesh.j1; ++j)
      for (long i = mesh.i0; i <= mesh.i1; ++i) {
        if (i == 2 && j == 1) {
          EXPECT_FALSE(mesh.at(i, j).isLabelled());
        } else {
          EXPECT_EQ(mesh.at(i, j).label, ccPair<long>(i + 8, j - 3)) << i << "," << j;
        }
      }
  }
}

TEST(CheckerPropagation, BreadthFirstFirstLabelStaysAndDiagonalGoesAlongY) {
  // S links A (right) and B (down); C lies below A and also below B: breadth first, A labels
  // it (1, 1) before B is visited. D sits exactly between the axes from C.
  std::vector<cc_Corner> c(5);
  for (cc_Corner& k : c) k.valid = true;
  cc_Corner &s = c[0], &a = c[1], &b = c[2], &cc = c[3], &d = c[4];
  s.position = ccVector<2>(0, 0);
  a.position = ccVector<2>(10, 0);
  b.position = ccVector<2>(0, 10);
  cc.position = ccVector<2>(9, 11);
  d.position = ccVector<2>(19, 21);
  s.link(&a), s.link(&b), a.link(&cc), b.link(&cc), cc.link(&d);
  propagate(s, ccPair<long>(0, 0), ccXform<2>());
  EXPECT_EQ(cc.label, ccPair<long>(1, 1));
  EXPECT_EQ(d.label, ccPair<long>(1, 2));
}

TEST(CheckerPropagation, AUsedLabelStopsTheVisitOfThatCorner) {
  // S's third link would repeat the label of its first: the fourth is not visited from S.
  std::vector<cc_Corner> c(5);
  for (cc_Corner& k : c) k.valid = true;
  c[0].position = ccVector<2>(0, 0);
  c[1].position = ccVector<2>(10, 0);
  c[2].position = ccVector<2>(0, -10);
  c[3].position = ccVector<2>(10, 1);
  c[4].position = ccVector<2>(0, 10);
  for (int k = 1; k <= 4; ++k) c[0].link(&c[k]);
  propagate(c[0], ccPair<long>(0, 0), ccXform<2>());
  EXPECT_EQ(c[1].label, ccPair<long>(1, 0));
  EXPECT_EQ(c[2].label, ccPair<long>(0, -1));
  EXPECT_FALSE(c[3].isLabelled());
  EXPECT_FALSE(c[4].isLabelled());

  // A second walk keeps the first walk's labels and may hand out the same labels again:
  // it starts at (1, 0) and gives c[4], left of its start, (0, 0).
  c[3].link(&c[4]);
  propagate(c[3], ccPair<long>(1, 0), ccXform<2>());
  EXPECT_EQ(c[4].label, ccPair<long>(0, 0));
  EXPECT_EQ(c[1].label, ccPair<long>(1, 0));
}

// The fiducial corner of the plate drawn at `scale` pixels per pitch from `origin`: the
// light tile between the bars touches one other light tile at vertex (-2, -2).
struct FiducialScene {
  double s = 20.0;
  ccVector<2> o{200, 200};
  std::vector<cc_Checker> tiles = std::vector<cc_Checker>(2);
  std::vector<cc_Corner> corners = std::vector<cc_Corner>(1);
  ccAffineRectangle barA, barB;
  ccVector<2> point, xStep{1, 0}, yStep{0, 1};

  ccVector<2> at(double x, double y) const { return o + ccVector<2>(x, y) * s; }

  FiducialScene() {
    barA = ccAffineRectangle(at(-1.5, -3.5), 6.5 * s, 0.5 * s, ccRadian(0.0), ccRadian(0.0));
    barB = ccAffineRectangle(at(-3.5, -1.125), 0.5 * s, 3.75 * s, ccRadian(0.0), ccRadian(0.0));
    point = at(-3.5, -3.5);
    cc_Checker &inner = tiles[0], &next = tiles[1];
    inner.centerOfMass = at(-2.5, -2.5);
    next.centerOfMass = at(-1.5, -1.5);
    cc_Corner& c = corners[0];
    c = cc_Corner(&inner, &next);
    c.valid = true;
    c.position = at(-2, -2);
    inner.addNeighbour(&next), inner.addCorner(&c);
    next.addNeighbour(&inner), next.addCorner(&c);
  }
  long run(const ccCalib2VertexFeatureParams& p = ccCalib2VertexFeatureParams()) const {
    return cfCheckerFiducialCorner(barA, barB, point, xStep, yStep, corners, tiles, p);
  }
};

TEST(CheckerFiducialCorner, CornerOfTheTileBetweenTheBars) {
  FiducialScene scene;
  EXPECT_EQ(scene.run(), 0);

  // The tile's neighbour outside the angle from xStep to yStep (the pattern mirrored).
  FiducialScene mirrored;
  mirrored.tiles[1].centerOfMass = mirrored.at(-3.5, -1.5);
  EXPECT_EQ(mirrored.run(), -1);

  // A corner made from one tile only is not usable, nor is an invalid one.
  FiducialScene single;
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
  cc_Corner* anchor = nullptr;
  // (-2, -5) lies on the mesh's edge row: three links, so it qualifies with both checkers.
  cfCheckerSecondAnchor(mesh.corners, fiducial, ccVector<2>(1, 0), ccVector<2>(0, 1), start, params, anchor);
  EXPECT_EQ(anchor, &mesh.at(-2, -5));

  // With four links it is skipped when both checkers are needed; its neighbours are too far.
  mesh.at(-2, -5).link(&mesh.at(-3, -5));
  anchor = nullptr;
  cfCheckerSecondAnchor(mesh.corners, fiducial, ccVector<2>(1, 0), ccVector<2>(0, 1), start, params, anchor);
  EXPECT_EQ(anchor, nullptr);
  params.needBothCheckers(false);
  cfCheckerSecondAnchor(mesh.corners, fiducial, ccVector<2>(1, 0), ccVector<2>(0, 1), start, params, anchor);
  EXPECT_EQ(anchor, &mesh.at(-2, -5));

  // The distance limit is strict.
  for (double off : {0.449, 0.45}) {
    std::vector<cc_Corner> one(1);
    one[0].valid = true;
    one[0].position = ccVector<2>(200 - 2 * s + off * 1.5 * s, 200 - 5 * s);
    anchor = nullptr;
    cfCheckerSecondAnchor(one, fiducial, ccVector<2>(1, 0), ccVector<2>(0, 1), start, params, anchor);
    EXPECT_EQ(anchor != nullptr, off < 0.45) << off;
  }
}

TEST(CheckerFeatures, PrecisionFilterPairsAndRowOrder) {
  std::vector<cc_Corner> c(5);
  const ccPair<long> labels[] = {{2, 1}, {-1, 1}, {0, -3}, {4, 0}, {1, 1}};
  for (std::size_t k = 0; k < c.size(); ++k) {
    c[k].valid = true;
    c[k].label = labels[k];
    c[k].position = ccVector<2>(10.0 * static_cast<double>(k), 5.0);
    c[k].error = 0.1 * static_cast<double>(k);
    for (int l = 0; l < 4; ++l) c[k].addLine(ccFLine(), true, true);
  }
  c[1].lines.pop_back();             // three lines only
  c[3].label = cc_Corner().label;    // never labelled
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
