// SPDX-License-Identifier: Apache-2.0
// Tile detection, mesh, calipers and corner fit on rendered checkerboards with exact truth:
// completeness of tiles and corners and the accuracy of fitted vertex positions, over image
// sizes, square sizes, tilts, rotations, blur, noise, the fiducial and both lighting modes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/foundation/assert.h"
#include "tests/support/checker_stages_driver.h"

namespace {

struct Outcome {
  ccCheckerScore score;
  double seconds = 0.0;
};

Outcome runScene(const ccCheckerScene& s) {
  const ccCheckerSceneImage img = cfRenderCheckerScene(s);
  ccCalib2VertexFeatureParams params;
  params.uniformLighting(s.uniformLighting);
  ccCheckerStagesRun run;
  const auto t0 = std::chrono::steady_clock::now();
  cfRunCheckerStages(img.rendering.image, params, run);
  Outcome o;
  o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  o.score = cfScoreCheckerRun(img, run);
  return o;
}

std::string describe(const ccCheckerScene& s) {
  char text[200];
  std::snprintf(text, sizeof text,
                "%ldx%ld sq %.0f tilt %.0f/%.0f rot %.0f blur %.1f noise %.1f%s%s%s", s.width,
                s.height, s.squarePx, s.tiltX, s.tiltY, s.rotation, s.blur, s.noise,
                s.fiducial ? " fid" : "", s.uniformLighting ? " U" : " N",
                s.vignetting > 0.0 ? " grad+vign" : "");
  return text;
}

void printRow(const ccCheckerScene& s, const Outcome& o) {
  const ccCheckerScore& r = o.score;
  std::printf(
      "| %-58s | %5d/%-5d | %5d/%-5d | %5d | %3d (%d fid, max %.2f) | %6.3f | %6.4f | %6.3f |\n",
      describe(s).c_str(), r.tilesFound, r.tilesExpected, r.cornersFound, r.cornersExpected,
      r.validTotal, r.farCorners, r.farAtFiducial, r.maxErrorAtFiducial, r.maxError, r.rmsError,
      o.seconds);
}

ccCheckerScene scene(long w, long h, double square, double tiltX, double tiltY, double rot,
                     double blur, double noise, bool fiducial, bool uniform) {
  ccCheckerScene s;
  s.width = w;
  s.height = h;
  s.squarePx = square;
  s.tiltX = tiltX;
  s.tiltY = tiltY;
  s.rotation = rot;
  s.blur = blur;
  s.noise = noise;
  s.fiducial = fiducial;
  s.uniformLighting = uniform;
  return s;
}

// Conditions both lighting paths meet in full: every light square inside the image a tile,
// every X-junction a square inside the image a valid corner, none off a vertex (but at the
// ends of the fiducial bars), and the RMS error bound.
TEST(CheckerRender, CompleteAndAccurateOnRenderedBoards) {
  struct Case {
    ccCheckerScene scene;
    double maxRms;
  };
  std::vector<Case> cases;
  for (bool uniform : {true, false}) {
    cases.push_back({scene(640, 480, 32, 20, 10, 17, 1.0, 1.0, true, uniform), 0.03});
    cases.push_back({scene(640, 480, 60, 40, 0, 123, 0.7, 1.0, false, uniform), 0.03});
    cases.push_back({scene(800, 600, 40, 0, 35, 250, 0.8, 0.5, true, uniform), 0.03});
    // Edges sharper than about 0.6 px are undersampled at one caliper sample per pixel: the
    // edge position read from them depends on where the edge falls between pixels.
    cases.push_back({scene(800, 600, 40, 0, 35, 250, 0.4, 0.5, true, uniform), 0.06});
    // At noise 2 the five calipers per side, a quarter square from the corner, leave about
    // 0.035 px RMS.
    cases.push_back({scene(640, 480, 36, 25, 25, 300, 1.0, 2.0, false, uniform), 0.045});
  }
  ccCheckerScene lit = scene(800, 600, 40, 30, 0, 70, 1.0, 1.0, true, false);
  lit.gradient = ccVector<2>(0.6 / 800, 0.3 / 600);
  lit.vignetting = 0.5;
  cases.push_back({lit, 0.03});

  const unsigned long assertionsBefore = ccAssertion::failureCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(describe(c.scene));
    const Outcome o = runScene(c.scene);
    const ccCheckerScore& r = o.score;
    EXPECT_EQ(r.tilesFound, r.tilesExpected);
    EXPECT_EQ(r.cornersFound, r.cornersExpected);
    EXPECT_EQ(r.farCorners, r.farAtFiducial);
    EXPECT_LT(r.rmsError, c.maxRms);
    for (const std::string& m : r.missing) ADD_FAILURE() << "missing " << m;
  }
  EXPECT_EQ(ccAssertion::failureCount(), assertionsBefore) << "no internal check failed";
}

// The whole sweep, for the figures of the notes. (Edges at exact multiples of 45 degrees are
// avoided: the renderer's 8 x 8 supersampling grid quantises them by up to 0.06 px.)
//   ccalib_tests --gtest_also_run_disabled_tests --gtest_filter='CheckerRender.DISABLED_Sweep'
TEST(CheckerRender, DISABLED_Sweep) {
  struct Row {
    long w, h;
    double square, tiltX, tiltY, rot, blur, noise;
    bool fiducial;
  };
  const Row rows[] = {
      {640, 480, 12, 0, 0, 9, 0.5, 1, false},      {640, 480, 16, 0, 0, 9, 0.5, 1, false},
      {640, 480, 20, 0, 0, 9, 0.5, 1, false},      {640, 480, 20, 30, 10, 33, 1.0, 2, true},
      {640, 480, 30, 10, 0, 3, 0.0, 0, true},      {640, 480, 30, 20, 20, 70, 1.0, 0, false},
      {640, 480, 30, 20, 20, 70, 1.0, 2, false},   {640, 480, 30, 20, 20, 70, 1.0, 5, false},
      {640, 480, 30, 20, 20, 70, 2.0, 0, false},   {640, 480, 30, 20, 20, 70, 2.0, 5, true},
      {640, 480, 40, 50, 0, 120, 1.0, 2, true},    {640, 480, 80, 0, 20, 37, 1.0, 2, false},
      {1280, 960, 12, 40, 0, 200, 1.0, 2, true},   {1280, 960, 25, 0, 50, 300, 2.0, 5, true},
      {1280, 960, 40, 30, 30, 160, 0.7, 1, true},  {1280, 960, 60, 15, 15, 11, 0.7, 1, false},
      {2592, 1944, 12, 20, 0, 5, 1.0, 2, true},    {2592, 1944, 40, 45, 0, 250, 1.0, 2, true},
      {2592, 1944, 80, 30, 30, 80, 2.0, 5, false},
  };
  std::printf(
      "| condition | tiles found/expected | corners found/expected | valid | far (at fiducial) | "
      "max px | RMS px | s |\n");
  for (const Row& r : rows) {
    for (int light = 0; light < 3; ++light) {
      ccCheckerScene s = scene(r.w, r.h, r.square, r.tiltX, r.tiltY, r.rot, r.blur, r.noise,
                               r.fiducial, light == 0);
      if (light == 2) {
        s.gradient = ccVector<2>(0.6 / r.w, 0.3 / r.h);
        s.vignetting = 0.5;
      }
      printRow(s, runScene(s));
    }
  }
}

}  // namespace
