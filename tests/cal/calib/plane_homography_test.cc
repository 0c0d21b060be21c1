// SPDX-License-Identifier: Apache-2.0
// Plane homographies: the fit reproduces an exact map, and the imaged centre of a circle is
// the centre of the ellipse it becomes.
#include "cal/calib/plane_homography.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(PlaneHomography, FitReproducesTheMapAndRefusesCollinearPoints) {
  ccPlaneHomography truth;
  const double h[9] = {40.0, -6.0, 300.0, 5.0, 35.0, 200.0, 0.02, -0.03, 1.0};
  std::copy(h, h + 9, truth.h);
  std::vector<ccVector<2>> plane, image;
  for (int j = -1; j <= 1; ++j)
    for (int i = -1; i <= 1; ++i) {
      plane.emplace_back(i, j);
      image.push_back(truth.map(ccVector<2>(i, j)));
    }
  ccPlaneHomography fitted;
  ASSERT_TRUE(cfFitPlaneHomography(plane, image, fitted));
  for (const ccVector<2>& p : {ccVector<2>(0.5, 0.5), ccVector<2>(-2.0, 1.5)}) {
    EXPECT_NEAR((fitted.map(p) - truth.map(p)).length(), 0.0, 1e-8);
  }
  const std::vector<ccVector<2>> line = {ccVector<2>(0, 0), ccVector<2>(1, 0), ccVector<2>(2, 0),
                                         ccVector<2>(3, 0)};
  EXPECT_FALSE(cfFitPlaneHomography(line, line, fitted));
}

TEST(PlaneHomography, ImagedCircleCentreIsTheEllipseCentre) {
  ccPlaneHomography h;
  const double m[9] = {40.0, -6.0, 300.0, 5.0, 35.0, 200.0, 0.05, -0.04, 1.0};
  std::copy(m, m + 9, h.h);
  const ccVector<2> centre(0.7, -0.4);
  const double r = 0.3;
  const ccVector<2> e = cfImagedCircleCentre(h, centre, r);
  // An ellipse is symmetric about its centre: for every point of the imaged circle, its
  // reflection through e lies on the imaged circle too. Invert H by Newton steps on the
  // plane point (the map is smooth and the start close).
  for (int k = 0; k < 12; ++k) {
    const ccVector<2> rim = centre + ccVector<2>(std::cos(k * 0.5), std::sin(k * 0.5)) * r;
    const ccVector<2> mirrored = e * 2.0 - h.map(rim);
    ccVector<2> q = centre;
    for (int it = 0; it < 30; ++it) {
      const double d = 1e-6;
      const ccVector<2> f = h.map(q) - mirrored, fu = (h.map(q + ccVector<2>(d, 0)) - h.map(q)) / d,
                        fv = (h.map(q + ccVector<2>(0, d)) - h.map(q)) / d;
      const double det = fu.cross(fv);
      q -= ccVector<2>(f.cross(fv) / det, fu.cross(f) / det);
    }
    EXPECT_NEAR((q - centre).length(), r, 1e-6);
  }
  // Under perspective it is not the image of the circle's centre; under an affine map it is.
  EXPECT_GT((e - h.map(centre)).length(), 0.01);
  h.h[6] = h.h[7] = 0.0;
  EXPECT_NEAR((cfImagedCircleCentre(h, centre, r) - h.map(centre)).length(), 0.0, 1e-9);
}

}  // namespace
