// SPDX-License-Identifier: Apache-2.0
// The fiducial search: on rendered plates (position and axes against the camera's truth)
// and on drawn bar pairs that must or must not form the mark.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "cal/checkerlabels/checker_labels.h"
#include "tests/support/synthetic.h"
#include "tools/plate/plate_render.h"

namespace {

struct Found {
  bool found = false;
  ccAffineRectangle rect1, rect2;
  ccVector<2> xStep, yStep, point;
};

Found find(const ccPelBuffer_const<unsigned char>& image, bool uniform = true) {
  ccCalib2VertexFeatureParams params;
  params.uniformLighting(uniform);
  Found f;
  f.found = cfCheckerFindFiducial(image, ccPelBuffer<unsigned char>(), params, f.rect1, f.rect2,
                                  f.xStep, f.yStep, f.point);
  return f;
}

TEST(CheckerFiducialSearch, RenderedPlatesGiveTheCrossingAndTheLabelAxes) {
  struct View {
    double tiltX, tiltY, rotation;
  };
  for (const View v : {View{0, 0, 0}, View{15, -10, 30}, View{0, 20, 160}, View{25, 0, -75}}) {
    SCOPED_TRACE(testing::Message() << v.tiltX << " " << v.tiltY << " " << v.rotation);
    const ccCheckerPlate plate = cfCheckerPlate(12, 10, true);
    const ccPlateCamera camera =
        cfPlateCameraView(cfPaperRegion(plate), 800, 600, v.tiltX, v.tiltY, v.rotation);
    ccPlateRenderParams rp;
    rp.width = 800, rp.height = 600, rp.blurSigma = 0.8, rp.noiseSigma = 2.0;
    const ccPlateRendering r = cfRenderPlate(plate, camera, rp);
    const Found f = find(r.image);
    ASSERT_TRUE(f.found);
    EXPECT_LT(f.point.distance(r.truth.fiducialImage), 1.0);
    const ccVector<2> p = camera.imageFromPlate(ccVector<2>(-3.5, -3.5));
    const ccVector<2> alongX = (camera.imageFromPlate(ccVector<2>(-2.5, -3.5)) - p).unit();
    const ccVector<2> alongY = (camera.imageFromPlate(ccVector<2>(-3.5, -2.5)) - p).unit();
    EXPECT_GT(f.xStep.dot(alongX), 0.995);
    EXPECT_GT(f.yStep.dot(alongY), 0.995);
    EXPECT_TRUE(f.rect1.within(camera.imageFromPlate(ccVector<2>(0.0, -3.5))));   // on bar A
    EXPECT_TRUE(f.rect2.within(camera.imageFromPlate(ccVector<2>(-3.5, -0.5))));  // on bar B
  }
}

// Light bars on a dark ground, each given by its axis from `a` to `b` and its width.
struct Bar {
  ccVector<2> a, b;
  double width;
  bool inside(double x, double y) const {
    const ccVector<2> d = b - a, p = ccVector<2>(x, y) - a;
    const double t = p.dot(d) / d.lengthSq();
    return t >= 0.0 && t <= 1.0 && std::fabs(d.unit().cross(p)) <= 0.5 * width;
  }
};

ccPelBuffer<unsigned char> drawBars(const std::vector<Bar>& bars) {
  ccSyntheticSpec spec;
  spec.width = 320, spec.height = 240, spec.foreground = 200, spec.background = 40,
  spec.blurSigma = 0.7;
  spec.supersample = 3;
  return cfSyntheticImage(spec, [&bars](double x, double y) {
    for (const Bar& b : bars)
      if (b.inside(x, y)) return true;
    return false;
  });
}

TEST(CheckerFiducialSearch, PairingRules) {
  // The mark: A off-centre on B's axis, B ending 5 px short of A. Found, with the axes
  // pointing from the crossing towards each bar's centre.
  const Bar a{{100, 60}, {230, 60}, 10}, b{{120, 70}, {120, 145}, 10};
  const Found mark = find(drawBars({a, b}));
  ASSERT_TRUE(mark.found);
  EXPECT_LT(mark.point.distance(ccVector<2>(120, 60)), 0.5);
  EXPECT_GT(mark.xStep.x(), 0.999);
  EXPECT_GT(mark.yStep.y(), 0.999);

  // The same bars named the other way round in the image (B drawn first in raster order).
  const Found flipped = find(drawBars({{{100, 180}, {230, 180}, 10}, {{120, 95}, {120, 170}, 10}}));
  ASSERT_TRUE(flipped.found);
  EXPECT_NEAR(flipped.yStep.y(), -1.0, 1e-3);

  // A plus (crossing at both centres), bars 20 degrees apart, and a lone bar: no mark.
  EXPECT_FALSE(find(drawBars({{{100, 120}, {230, 120}, 10}, {{165, 50}, {165, 190}, 10}})).found);
  const double t = 20.0 * ccPi / 180.0;
  EXPECT_FALSE(
      find(drawBars({a, {{110, 75}, {110 + 120 * std::cos(t), 75 + 120 * std::sin(t)}, 10}}))
          .found);
  const Found none = find(drawBars({a}));
  EXPECT_FALSE(none.found);
  EXPECT_TRUE(none.rect1.degen() && none.rect2.degen());
  EXPECT_EQ(none.xStep, ccVector<2>());

  // Two marks: the one with the longest bar wins.
  const Found two = find(drawBars({{{20, 30}, {110, 30}, 8}, {{35, 38}, {35, 90}, 8}, a, b}));
  ASSERT_TRUE(two.found);
  EXPECT_LT(two.point.distance(ccVector<2>(120, 60)), 0.5);
}

}  // namespace
