// SPDX-License-Identifier: Apache-2.0
// The calibration run on synthetic dot grids: every failure condition, the transform and
// marker rules, and grid-angle removal.
#include "cal/calib/calibration_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "platform/foundation/assert.h"
#include "platform/foundation/diag.h"
#include "tests/support/matchers.h"
#include "tests/support/synthetic.h"
#include "tools/imageio/image_io.h"

namespace {

// A grid of dark discs (diameter half the pitch) on a light ground, axis-aligned with its
// dot (0, 0) at `origin`, optionally rotated, with optional marker bars crossing at
// `marker` (image coordinates) along the grid axes.
struct DotScene {
  long width = 400, height = 300;
  double pitch = 30.0;
  ccVector<2> origin{200.0, 150.0};
  double angle = 0.0;          // radians
  int rangeX = 5, rangeY = 3;  // dots from -range to +range
  std::optional<ccVector<2>> marker;
  bool clearAroundMarker = false;  // leave out the dots of grid cells 0..2 so bars can move freely

  bool inside(double x, double y) const {
    const double c = std::cos(angle), s = std::sin(angle);
    const double dx = x - origin.x(), dy = y - origin.y();
    const double u = (c * dx + s * dy) / pitch, v = (-s * dx + c * dy) / pitch;  // grid units
    const double iu = std::round(u), iv = std::round(v);
    const bool cleared = clearAroundMarker && iu >= 0 && iu <= 2 && iv >= 0 && iv <= 2;
    if (!cleared && std::fabs(iu) <= rangeX && std::fabs(iv) <= rangeY &&
        std::hypot(u - iu, v - iv) < 0.25) {
      return true;
    }
    if (marker) {
      const double mx = x - marker->x(), my = y - marker->y();
      const double mu = (c * mx + s * my) / pitch, mv = (-s * mx + c * my) / pitch;
      if (mu >= 0.15 && mu <= 1.35 && std::fabs(mv) <= 0.0625) return true;
      if (mv >= 0.15 && mv <= 1.35 && std::fabs(mu) <= 0.0625) return true;
    }
    return false;
  }

  ccPelBuffer<unsigned char> render(double noise = 0.0) const {
    ccSyntheticSpec spec;
    spec.width = width;
    spec.height = height;
    spec.foreground = 40.0;
    spec.background = 210.0;
    spec.supersample = 4;
    spec.blurSigma = 0.8;
    spec.noiseSigma = noise;
    return cfSyntheticImage(spec, [this](double x, double y) { return inside(x, y); });
  }
};

template <class E>
std::wstring messageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.message();
  }
  ADD_FAILURE() << "expected exception not thrown";
  return L"";
}

TEST(CalibrationRun, AffineGridRecoversTransformAndResiduals) {
  DotScene scene;
  scene.angle = 0.1;
  ccGridCalibResults r;
  cfCalibrationRun(scene.render(), ccGridCalibParams(2.0, 2.0), r);
  EXPECT_EQ(r.imagePoints().size(), 77u);
  EXPECT_EQ(r.polarity(), ccCalibDefs::ePolarityInverted);  // dark dots need the invert flag
  // client = R(-angle) (p - origin) * 2 / pitch
  const ccXform<2>& x = r.clientFromImageXform();
  EXPECT_NEAR(x.xScale(), 2.0 / 30.0, 1e-4);
  EXPECT_NEAR(x.rotation().toDouble(), -0.1, 1e-4);
  ccVector<2> o = x.mapPoint(scene.origin);
  EXPECT_NEAR(o.length(), 0.0, 2e-3);
  EXPECT_LT(r.maximumResidual(), 0.05 * 2.0 / 30.0);
  double sum = 0.0;
  for (const ccVector<2>& v : r.residuals(true)) sum += v.length();
  EXPECT_NEAR(r.averageResidual(), sum / 77.0, 1e-12);
  // The handle holds the linear transform for eGridLinear.
  ccVector<2> p(123.4, 56.7);
  EXPECT_NEAR((r.clientFromImageXformBase()->mapPoint(p) - x.mapPoint(p)).length(), 0.0, 1e-12);
}

TEST(CalibrationRun, ParameterChecksInOrder) {
  auto image = DotScene().render();
  ccGridCalibResults r;
  ccGridCalibParams p(1.0, 1.0);
  p.dotAreaToBoundingBoxAreaRatio(0.6, 0.5);
  p.gridPitchX(0.0);
  EXPECT_EQ(messageOf<ccCalibDefs::BadParam>([&] { cfCalibrationRun(image, p, r); }),
            L"DotAreaToBoundingBoxAreaRatios can not be <= 0 or >= 1 or min ratio > max ratio");
  p.dotAreaToBoundingBoxAreaRatio(0.6, 0.6);  // equal bounds pass the run's check
  EXPECT_EQ(messageOf<ccCalibDefs::BadParam>([&] { cfCalibrationRun(image, p, r); }),
            L"Invalid grid pitch: both grid pitch X and grid pitch Y must be >= 0");
  p.gridPitchX(1.0);
  p.calibType(static_cast<ccCalibDefs::CalibType>(2));
  EXPECT_EQ(messageOf<ccCalibDefs::BadParam>([&] { cfCalibrationRun(image, p, r); }),
            L"Invalid Calibration Type: must be eGridLinear, eGridPolynomialOrder3 or "
            L"eGridPolynomialOrder5");
  p.calibType(ccCalibDefs::eGridPolynomialOrder3);
  for (int polarity : {3, -1}) {
    p.polarity(static_cast<ccCalibDefs::Polarity>(polarity));
    EXPECT_EQ(messageOf<ccCalibDefs::BadParam>([&] { cfCalibrationRun(image, p, r); }),
              L"Invalid Polarity: must be ePolarityInverted, ePolarityNormal or ePolarityAny");
  }
  EXPECT_THROW(cfCalibrationRun(ccPelBuffer<unsigned char>(), ccGridCalibParams(1, 1), r),
               ccPel::UnboundWindow);
}

TEST(CalibrationRun, ImagesThatAreNotGridsFailWithTheirClass) {
  ccGridCalibResults r;
  ccGridCalibParams p(1.0, 1.0);
  ccPelBuffer<unsigned char> blank(300, 200);
  EXPECT_THROW(cfCalibrationRun(blank, p, r), ccCalibDefs::TooFewDotsFound);
  EXPECT_EQ(r.threshold(), 150);  // no edges: fallback threshold
  // Found by fuzzing: windows thinner than the blob pass's border made the blob filter
  // throw ccBadArgument.
  for (const ccPelBuffer<unsigned char>& thin :
       {ccPelBuffer<unsigned char>(45, 1), ccPelBuffer<unsigned char>(3, 60)}) {
    EXPECT_THROW(cfCalibrationRun(thin, p, r), ccCalibDefs::TooFewDotsFound);
  }

  DotScene two;
  two.rangeX = 0;
  two.rangeY = 1;  // three dots in a column ...
  two.height = 200;
  EXPECT_THROW(cfCalibrationRun(two.render(), p, r), ccCalibDefs::BadCorrespondence);

  DotScene tilted;
  tilted.angle = ccPi / 4;
  tilted.rangeX = tilted.rangeY = 3;
  tilted.width = tilted.height = 400;
  tilted.origin = ccVector<2>(200, 200);
  EXPECT_THROW(cfCalibrationRun(tilted.render(), p, r), ccCalibDefs::GridAngleTooLarge);

  DotScene small;
  small.rangeX = small.rangeY = 1;  // 9 dots cannot carry an order-5 polynomial
  ccGridCalibParams poly(1.0, 1.0, true, ccCalibDefs::eGridPolynomialOrder5);
  EXPECT_THROW(cfCalibrationRun(small.render(), poly, r), ccCalibDefs::InvalidMap);
  // A pitch so small that the transform's scale falls below 1e-9.
  EXPECT_THROW(cfCalibrationRun(small.render(), ccGridCalibParams(1e-12, 1e-12), r),
               ccCalibDefs::InvalidMap);
}

TEST(CalibrationRun, MarkerSnapsWithinAQuarterCell) {
  // Unequal pitches: a snap that divides one axis by the other's pitch misses the cell.
  const ccGridCalibParams params(1.0, 2.5);
  for (double offset : {0.0, 0.2, 0.3}) {
    SCOPED_TRACE(offset);
    DotScene scene;
    scene.clearAroundMarker = true;
    scene.marker = scene.origin + ccVector<2>((0.5 + offset) * scene.pitch, 0.5 * scene.pitch);
    ccGridCalibResults r;
    cfCalibrationRun(scene.render(), params, r);
    if (offset > 0.25) {
      EXPECT_FALSE(r.isMarkerFound());
      EXPECT_THROW(r.markerPointInImage(), ccCalibDefs::MarkerNotFound);
      continue;
    }
    ASSERT_TRUE(r.isMarkerFound());
    const ccVector<2> cell = scene.origin + ccVector<2>(0.5, 0.5) * scene.pitch;
    EXPECT_TRUE(cfPointsNear(r.markerPointInImage(), cell, 0.05));
    // The snapped point is the image of an exact cell centre (in pitches, half-integers).
    const ccVector<2> m = r.clientFromImageXformBase()->mapPoint(r.markerPointInImage());
    const ccVector<2> cells(m.x() / params.gridPitchX() - 0.5, m.y() / params.gridPitchY() - 0.5);
    EXPECT_TRUE(
        cfPointsNear(cells, ccVector<2>(std::round(cells.x()), std::round(cells.y())), 1e-9));
  }
}

// Found by fuzzing: a distorted image whose marker candidate lies where the order-3 fit
// cannot be inverted made the run throw ccMathError instead of dropping the marker.
TEST(CalibrationRun, MarkerWhereThePolynomialCannotBeInvertedIsNotFound) {
  const ccPelBuffer<unsigned char> image =
      cfReadImage(CCALIB_SOURCE_DIR "/tests/data/marker-beyond-the-fit.pgm");
  ccGridCalibResults r;
  cfCalibrationRun(image, ccGridCalibParams(1.0, 1.0, true, ccCalibDefs::eGridPolynomialOrder3), r);
  EXPECT_FALSE(r.isMarkerFound());
  EXPECT_GE(r.imagePoints().size(), 10u);
}

TEST(CalibrationRun, IgnoreGridAngleRemovesRotationOnly) {
  DotScene scene;
  scene.angle = 0.2;
  auto image = scene.render(2.0);
  ccGridCalibParams p(1.0, 1.0, true, ccCalibDefs::eGridPolynomialOrder3);
  ccGridCalibResults plain, unrotated;
  cfCalibrationRun(image, p, plain);
  p.ignoreGridAngle(true);
  cfCalibrationRun(image, p, unrotated);
  EXPECT_NEAR(unrotated.clientFromImageXform().rotation().toDouble(), 0.0, 1e-12);
  const double theta = plain.clientFromImageXform().rotation().toDouble();
  EXPECT_NEAR(theta, -0.2, 1e-3);
  EXPECT_DOUBLE_EQ(unrotated.maximumResidual(), plain.maximumResidual());
  EXPECT_DOUBLE_EQ(unrotated.averageResidual(), plain.averageResidual());

  // Everything in client units turns by -theta: the affine fit, the polynomial handle and
  // every residual vector. Image points stay where they were.
  const ccXform<2> turn(
      ccMatrix<2>(std::cos(theta), std::sin(theta), -std::sin(theta), std::cos(theta)),
      ccVector<2>());
  EXPECT_TRUE(
      cfXformsNear(unrotated.clientFromImageXform(), turn * plain.clientFromImageXform(), 1e-9));
  for (const ccVector<2>& q : {ccVector<2>(150, 120), ccVector<2>(40, 260), ccVector<2>(330, 30)}) {
    EXPECT_TRUE(cfPointsNear(unrotated.clientFromImageXformBase()->mapPoint(q),
                             turn.mapPoint(plain.clientFromImageXformBase()->mapPoint(q)), 1e-9));
  }
  const std::vector<ccVector<2>> r0 = plain.residuals(true), r1 = unrotated.residuals(true);
  ASSERT_EQ(r1.size(), r0.size());
  double largest = 0.0;
  for (std::size_t i = 0; i < r0.size(); ++i) {
    EXPECT_TRUE(cfPointsNear(r1[i], turn.mapVector(r0[i]), 1e-12));
    largest = std::max(largest, r0[i].length());
  }
  EXPECT_GT(largest, 1e-4);  // the residuals are not all zero, so the turn is seen
  EXPECT_EQ(unrotated.imagePoints(), plain.imagePoints());
  EXPECT_FALSE(unrotated.isLinear());
}

TEST(CalibrationRun, DiagnosticsRecordInputAndDots) {
  DotScene scene;
  ccDiagObject diag;
  ccGridCalibResults r;
  cfCalibrationRun(scene.render(), ccGridCalibParams(1.0, 1.0), r, &diag,
                   kCalibDiagInputImage | kCalibDiagDots);
  ASSERT_EQ(diag.records().size(), 2u);
  EXPECT_EQ(diag.records()[0].annotation(), "Input Image");
  EXPECT_EQ(diag.records()[1].annotation(), "Dectected and Filtered Dots");
  EXPECT_EQ(diag.records()[1].sketches().size(), 1u + r.imagePoints().size());
  ccDiagObject none;
  cfCalibrationRun(scene.render(), ccGridCalibParams(1.0, 1.0), r, &none, 0);
  EXPECT_TRUE(none.records().empty());
}

}  // namespace
