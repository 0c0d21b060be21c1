// SPDX-License-Identifier: Apache-2.0
// Tile detection: the second pass over the first pass's edge map and blobs, the polygon
// overlap area, images that hold no board, image windows with an offset, and cancellation.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/foundation/attention.h"
#include "platform/foundation/pel_ops.h"
#include "tests/support/checker_stages_driver.h"

namespace {

ccCheckerScene plainScene(bool uniform) {
  ccCheckerScene s;
  s.width = 480;
  s.height = 360;
  s.squarePx = 36;
  s.rotation = 11;
  s.tiltX = 15;
  s.blur = 0.8;
  s.noise = 1.0;
  s.uniformLighting = uniform;
  return s;
}

ccCalib2VertexFeatureParams lighting(bool uniform) {
  ccCalib2VertexFeatureParams p;
  p.uniformLighting(uniform);
  return p;
}

TEST(CheckerTiles, SecondPassReusesTheFirstPassEdgeMapAndBlobsAndDropsFiducialTiles) {
  const ccCheckerSceneImage s = cfRenderCheckerScene(plainScene(false));
  ccCheckerStagesRun run;
  cfRunCheckerStages(s.rendering.image, lighting(false), run);
  ASSERT_TRUE(run.edgeMap.isBound());
  EXPECT_EQ(run.edgeMap.window(), s.rendering.image.window());
  ASSERT_GT(run.blobList.size(), run.tiles.size());
  std::vector<ccVector<2>> first;
  for (const cc_Checker& t : run.tiles) first.push_back(t.centerOfMass);

  // A zone over light square (i, j) = (0, 0) and one over the dark square (1, 0) that only
  // reaches 0.05 into light square (2, 0), in client coordinates: only the first square's
  // tile goes.
  auto zoneOver = [&](double u0, double u1) {
    return ccAffineRectangle(s.camera.imageFromPlate(ccVector<2>(u0, 0.0)),
                             s.camera.imageFromPlate(ccVector<2>(u1, 0.0)),
                             s.camera.imageFromPlate(ccVector<2>(u0, 1.0)));
  };
  cfRunCheckerSecondPass(s.rendering.image, lighting(false), zoneOver(-0.1, 1.1),
                         zoneOver(1.2, 2.05), run);
  ASSERT_EQ(run.tiles.size() + 1, first.size());
  const ccVector<2> dropped = s.camera.imageFromPlate(ccVector<2>(0.5, 0.5));
  for (const ccVector<2>& c : first) {
    bool kept = false;
    for (const cc_Checker& t : run.tiles) kept = kept || t.centerOfMass == c;
    EXPECT_EQ(kept, (c - dropped).length() > 5.0) << "tile at " << c.x() << ", " << c.y();
  }
  // The second pass's mesh and fit work as the first pass's did.
  int valid = 0;
  for (const cc_Corner& c : run.corners) valid += c.valid;
  EXPECT_GT(valid, 60);

  // The uniform path leaves the caller's edge map and blob list alone.
  ccCheckerStagesRun uniform;
  cfRunCheckerStages(s.rendering.image, lighting(true), uniform);
  EXPECT_FALSE(uniform.edgeMap.isBound());
  EXPECT_TRUE(uniform.blobList.empty());
  EXPECT_FALSE(uniform.tiles.empty());
}

ccPolyline square(double x0, double y0, double side) {
  return ccPolyline(
      cfConvexHull({{x0, y0}, {x0 + side, y0}, {x0, y0 + side}, {x0 + side, y0 + side}}), true);
}

TEST(CheckerTiles, PolygonOverlapArea) {
  const ccPolyline p = square(0, 0, 10);
  EXPECT_DOUBLE_EQ(cfCheckerPolygonOverlapArea(p, square(6, 7, 10), true), 12.0);
  EXPECT_DOUBLE_EQ(cfCheckerPolygonOverlapArea(p, square(2, 2, 3), false), 9.0);
  EXPECT_DOUBLE_EQ(cfCheckerPolygonOverlapArea(p, square(-5, -5, 30), false), 100.0);
  EXPECT_DOUBLE_EQ(cfCheckerPolygonOverlapArea(p, square(20, 0, 5), true), 0.0);
  EXPECT_DOUBLE_EQ(cfCheckerPolygonOverlapArea(p, square(10, 0, 5), false), 0.0)
      << "sharing an edge";
  // A concave outline (an L of pixel edges, as a blob boundary gives it) clipped by a square.
  const ccPolyline ell({{5, 5}, {15, 5}, {15, 8}, {8, 8}, {8, 15}, {5, 15}}, true);
  ASSERT_GT(ell.signedArea(), 0.0);
  EXPECT_DOUBLE_EQ(cfCheckerPolygonOverlapArea(p, ell, true), 5 * 3 + 3 * 2);
}

// Everything a run should give for an image without a board: no tile, or at least no corner
// (up to `strayCorners` where chance blobs happen to touch and have straight sides).
void expectNothing(const ccPelBuffer_const<unsigned char>& image, const char* what,
                   int strayCorners = 0) {
  for (bool uniform : {true, false}) {
    SCOPED_TRACE(testing::Message() << what << (uniform ? ", uniform" : ", non-uniform"));
    ccCheckerStagesRun run;
    ASSERT_NO_THROW(cfRunCheckerStages(image, lighting(uniform), run));
    int valid = 0;
    for (const cc_Corner& c : run.corners) valid += c.valid;
    EXPECT_LE(valid, strayCorners);
  }
}

TEST(CheckerTiles, ImagesWithoutABoardGiveNoCorners) {
  ccPelBuffer<unsigned char> blank(320, 240);
  cfPelSet(blank, static_cast<unsigned char>(128));
  expectNothing(blank, "blank");
  ccPelBuffer<unsigned char> black(320, 240);
  expectNothing(black, "all zero");
  ccPelBuffer<unsigned char> one(1, 1), three(3, 3);
  cfPelSet(three, static_cast<unsigned char>(200));
  three.at(1, 1) = 10;
  expectNothing(one, "1 x 1");
  expectNothing(three, "3 x 3");
  ccPelBuffer<unsigned char> noise(320, 240);
  std::mt19937 rng(5);
  for (long y = 0; y < noise.height(); ++y)
    for (long x = 0; x < noise.width(); ++x)
      noise.at(x, y) = static_cast<unsigned char>(rng() % 256);
  // Smoothed uniform noise makes about 1400 blobs and 3800 touching pairs in the uniform path;
  // the stages have no test that tells such a blob from a square, and a few pairs come out
  // with four straight sides meeting at a point.
  expectNothing(noise, "pure noise", 25);
}

TEST(CheckerTiles, WindowWithAnOffsetGivesTheSameCornersShifted) {
  const ccCheckerSceneImage s = cfRenderCheckerScene(plainScene(true));
  // The rendering placed at (70, 40) of a larger image, analysed through a window onto it.
  const ccPair<long> at(70, 40);
  ccPelBuffer<unsigned char> big(s.rendering.image.width() + 150, s.rendering.image.height() + 90);
  cfPelSet(big, static_cast<unsigned char>(90));
  ccPelBuffer<unsigned char> inner = big;
  inner.window(ccPelRect(at.x(), at.y(), s.rendering.image.width(), s.rendering.image.height()));
  cfPelCopy(s.rendering.image, inner);
  for (bool uniform : {true, false}) {
    SCOPED_TRACE(uniform ? "uniform" : "non-uniform");
    ccCheckerStagesRun plain, shifted;
    cfRunCheckerStages(s.rendering.image, lighting(uniform), plain);
    cfRunCheckerStages(inner, lighting(uniform), shifted);
    ASSERT_EQ(plain.corners.size(), shifted.corners.size());
    int valid = 0;
    for (std::size_t i = 0; i < plain.corners.size(); ++i) {
      ASSERT_EQ(plain.corners[i].valid, shifted.corners[i].valid) << i;
      if (!plain.corners[i].valid) continue;
      ++valid;
      const ccVector<2> d = shifted.corners[i].position - plain.corners[i].position;
      EXPECT_NEAR(d.x(), at.x(), 1e-3);  // the fits converge to 1e-4 of a sample
      EXPECT_NEAR(d.y(), at.y(), 1e-3);
    }
    EXPECT_GT(valid, 50);
  }
}

TEST(CheckerTiles, CancellationStopsEveryStage) {
  const ccCheckerSceneImage s = cfRenderCheckerScene(plainScene(true));
  ccCheckerStagesRun run;
  cfRunCheckerStages(s.rendering.image, lighting(true), run);
  ASSERT_FALSE(run.tiles.empty());
  ccAttention::CancelToken token = ccAttention::makeToken();
  ccAttention::Scope scope(token);
  token->store(true);
  for (bool uniform : {true, false}) {
    std::vector<cc_Checker> tiles;
    ccPelBuffer<unsigned char> edges;
    ccBlobResults blobs;
    std::vector<const ccBlob*> list;
    EXPECT_THROW(cfCheckerFindTiles(run.detection, ccAffineRectangle(), ccAffineRectangle(),
                                    uniform, tiles, edges, blobs, list),
                 ccTimeout);
  }
  std::vector<cc_Checker> tiles = run.tiles;
  for (cc_Checker& t : tiles) {
    t.neighbours.assign(4, nullptr);
    t.corners.assign(4, nullptr);
    t.neighbourCount = t.cornerCount = 0;
  }
  std::vector<cc_Corner> corners;
  EXPECT_THROW(cfCheckerBuildMesh(s.rendering.image, false, tiles, corners), ccTimeout);
  EXPECT_THROW(cfCheckerRefineCorners(s.rendering.image, ccCalib2VertexFeatureParams(), run.tiles,
                                      run.corners),
               ccTimeout);
}

}  // namespace
