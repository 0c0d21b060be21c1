// SPDX-License-Identifier: Apache-2.0
// Caliper measurement and corner fit: quads estimated for tiles without four neighbours (each
// of the three ways), corners measured from both tiles or from one, and the homogeneous fit
// of edge lines.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/checker_stages_driver.h"

namespace {

// A small board facing the camera, turned a little so that no edge lies along the pixels,
// small enough in the image that the quad points estimated beyond its squares stay inside.
ccCheckerSceneImage smallBoard(long cols, long rows) {
  ccCheckerSceneImage s;
  s.plate = cfCheckerPlate(cols, rows, false);
  s.camera = cfPlateCameraAffine(cfPatternRegion(s.plate), 320, 240, 0.0, 0.0, 8.0, 0.5);
  ccPlateRenderParams p;
  p.width = 320;
  p.height = 240;
  p.supersample = 8;
  p.blurSigma = 0.8;
  s.rendering = cfRenderPlate(s.plate, s.camera, p);
  return s;
}

ccCalib2VertexFeatureParams params(bool needBoth) {
  ccCalib2VertexFeatureParams p;
  p.needBothCheckers(needBoth);
  return p;
}

// Distance of a corner from the plate vertex nearest to it, pixels.
double vertexError(const ccCheckerSceneImage& s, const cc_Corner& c) {
  const ccVector<2> plate = s.camera.plateFromImage(c.position);
  return (s.camera.imageFromPlate(ccVector<2>(std::round(plate.x()), std::round(plate.y()))) -
          c.position)
      .length();
}

TEST(CheckerRefine, BorderTilesGetQuadsByEachEstimate) {
  // 3 x 3 board: the four corner squares have one neighbour, the full centre one: their quads
  // are borrowed from it. 3 x 2 board: the lower middle square has two neighbours at a right
  // angle (mirrored quad), the upper two one neighbour each without a full one (the mirrored
  // quad of that neighbour, borrowed).
  for (long rows : {3L, 2L}) {
    SCOPED_TRACE(testing::Message() << "3 x " << rows);
    const ccCheckerSceneImage s = smallBoard(3, rows);
    ccCheckerStagesRun run;
    cfRunCheckerStages(s.rendering.image, params(true), run);
    ASSERT_EQ(run.tiles.size(), rows == 3 ? 5u : 3u);
    ASSERT_EQ(run.corners.size(), rows == 3 ? 4u : 2u);
    for (const cc_Corner& c : run.corners) {
      // Each of the two tiles measured both of its sides that end at the corner.
      EXPECT_EQ(c.lines.size(), 4u);
      ASSERT_TRUE(c.valid);
      EXPECT_LT(vertexError(s, c), 0.05);
      EXPECT_LT(c.error, 0.05);
      EXPECT_EQ(c.linked.size(), rows == 3 ? 2u : 1u);
    }
  }
}

TEST(CheckerRefine, SingleTileCornersOnlyWhenBothCheckersAreNotNeeded) {
  const ccCheckerSceneImage s = smallBoard(3, 2);
  ccCheckerStagesRun both, single;
  cfRunCheckerStages(s.rendering.image, params(true), both);
  cfRunCheckerStages(s.rendering.image, params(false), single);
  EXPECT_EQ(both.corners.size(), 2u);
  // Every outer corner of the three squares: 3 x 4 corners less the two shared ones counted
  // twice.
  ASSERT_EQ(single.corners.size(), 10u);
  int own = 0;
  for (const cc_Corner& c : single.corners) {
    if (c.tiles.second != nullptr) continue;
    ++own;
    EXPECT_EQ(c.lines.size(), 2u) << "two sides of its tile";
    EXPECT_EQ(c.lineFromFirst[0], c.lineFromFirst[1]);
    ASSERT_TRUE(c.valid) << "two perpendicular lines of one tile define the corner";
    EXPECT_LT(vertexError(s, c), 0.1);
  }
  EXPECT_EQ(own, 8);
  // The fit refuses the same two-line corners when both checkers are needed.
  std::vector<cc_Corner> corners = single.corners;
  for (cc_Corner& c : corners) c.valid = false;
  cfCheckerFitCorners(params(true), corners);
  for (const cc_Corner& c : corners) EXPECT_EQ(c.valid, c.tiles.second != nullptr);
}

// A corner holding the given lines, all measured by its first tile unless `fromFirst` says.
cc_Corner cornerWith(const std::vector<ccFLine>& lines, std::vector<bool> fromFirst = {}) {
  cc_Corner c;
  for (std::size_t i = 0; i < lines.size(); ++i)
    c.addLine(lines[i], fromFirst.empty() || fromFirst[i], true);
  return c;
}

TEST(CheckerFit, LinesToPositionAndError) {
  const ccVector<2> p(37.25, -12.5);
  auto through = [&](double deg, double offset) {
    const ccRadian a = ccDegree(deg);
    return ccFLine(p + ccVector<2>(-std::sin(a.toDouble()), std::cos(a.toDouble())) * offset, a);
  };
  struct Case {
    const char* what;
    std::vector<ccFLine> lines;
    std::vector<bool> fromFirst;
    bool needBoth, valid;
    double error;
  };
  const double r = 0.3;
  const Case cases[] = {
      {"four lines through a point",
       {through(10, 0), through(100, 0), through(190, 0), through(280, 0)},
       {},
       true,
       true,
       0},
      {"three lines", {through(10, 0), through(100, 0), through(191, 0)}, {}, true, true, 0},
      {"four lines missing it by +-r",
       {through(0, r), through(90, r), through(180, r), through(270, r)},
       {},
       true,
       true,
       r},
      {"two lines of one tile at 90 degrees",
       {through(30, 0), through(120, 0)},
       {true, true},
       false,
       true,
       0},
      {"two lines, both checkers needed",
       {through(30, 0), through(120, 0)},
       {true, true},
       true,
       false,
       0},
      {"two lines from different tiles",
       {through(30, 0), through(120, 0)},
       {true, false},
       false,
       false,
       0},
      {"two lines 5 degrees apart",
       {through(30, 0), through(35, 0)},
       {true, true},
       false,
       false,
       0},
      {"one line", {through(30, 0)}, {true}, false, false, 0},
      {"three parallel lines",
       {through(30, 0), through(30, 1), through(210, 2)},
       {},
       true,
       false,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<cc_Corner> corners{cornerWith(c.lines, c.fromFirst)};
    cfCheckerFitCorners(params(c.needBoth), corners);
    ASSERT_EQ(corners[0].valid, c.valid);
    if (!c.valid) {
      EXPECT_EQ(corners[0].error, std::numeric_limits<double>::max());
      continue;
    }
    // Lines missing the point: the homogeneous fit is not the geometric one, so its point
    // lies a little off the symmetric answer; the error is the RMS distance of that point
    // from the lines.
    const double tolerance = c.error > 0.0 ? 0.01 : 1e-9;
    EXPECT_NEAR(corners[0].position.x(), p.x(), tolerance);
    EXPECT_NEAR(corners[0].position.y(), p.y(), tolerance);
    double sumSq = 0.0;
    for (const ccFLine& l : c.lines)
      sumSq += l.signedDistance(corners[0].position) * l.signedDistance(corners[0].position);
    EXPECT_NEAR(corners[0].error, std::sqrt(sumSq / c.lines.size()), 1e-12);
    EXPECT_NEAR(corners[0].error, c.error, tolerance);
  }
}

}  // namespace
