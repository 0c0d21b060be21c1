// SPDX-License-Identifier: Apache-2.0
// The dot-grid calibration run: argument checks, detection, correspondence, transform fits,
// marker snapping, residuals and optional removal of the grid rotation.
#include "cal/calib/calibration_run.h"

#include <cmath>

#include "cal/calib/dot_detection.h"
#include "cal/calib/grid_calib_results_access.h"
#include "cal/calib/grid_correspondence.h"
#include "cal/calib/grid_fit.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"
#include "platform/foundation/diag.h"

namespace {

using A = ccGridCalibRunAccess;

// A marker further than this (in cells) from the nearest cell centre is not the marker.
constexpr double kMarkerSnapTolerance = 0.25;
// Largest grid rotation that ignoreGridAngle removes.
constexpr double kMaxGridAngle = 0.7853981633974483;

void checkParams(const ccGridCalibParams& p) {
  cfGridCheckParams(p);
  const int polarity = static_cast<int>(p.polarity());
  if (polarity != ccCalibDefs::ePolarityInverted && polarity != ccCalibDefs::ePolarityNormal &&
      polarity != ccCalibDefs::ePolarityAny) {
    throw ccCalibDefs::BadParam(
        L"Invalid Polarity: must be ePolarityInverted, ePolarityNormal or ePolarityAny");
  }
}

void snapMarker(const ccGridCalibParams& p, ccGridCalibResults& results) {
  const ccVector<2> m = A::clientFromImage(results).mapPoint(A::markerPoint(results));
  const double gx = m.x() / p.gridPitchX(), gy = m.y() / p.gridPitchY();
  const double cx = static_cast<double>(iRound(gx + 0.5)) - 0.5;
  const double cy = static_cast<double>(iRound(gy + 0.5)) - 0.5;
  if (std::fabs(gx - cx) > kMarkerSnapTolerance || std::fabs(gy - cy) > kMarkerSnapTolerance) {
    A::markerFound(results) = false;
    return;
  }
  // A polynomial transform can be inverted only near the dots it was fitted to; a cell
  // centre beyond that region is no marker of this grid.
  ccVector<2> snapped;
  try {
    snapped = A::clientFromImageBase(results)->inverseBase()->mapPoint(
        ccVector<2>(cx * p.gridPitchX(), cy * p.gridPitchY()));
  } catch (const ccMathError&) {
    A::markerFound(results) = false;
    return;
  }
  A::markerPoint(results) = snapped;
}

}  // namespace

void cfCalibrationRun(const ccPelBuffer_const<unsigned char>& image,
                      const ccGridCalibParams& params, ccGridCalibResults& results,
                      ccDiagObject* diag, unsigned long diagFlags) {
  results = ccGridCalibResults();
  if (!image.isBound()) throw ccPel::UnboundWindow();

  cfGridRecordInput(diag, diagFlags, image);

  ccPelBuffer_const<unsigned char> work = image;
  work.clientFromImageXform(ccXform<2>());

  A::params(results) = params;
  checkParams(params);
  A::mutating(results);

  // A caller's deadline or cancel is honoured between the stages (and inside the long ones);
  // ccTimeout passes through every stage unchanged.
  ccAttention::check();
  cfCalibDetectDots(work, params.polarity(), params.minDotAreaToBoundingBoxAreaRatio(),
                    params.maxDotAreaToBoundingBoxAreaRatio(), results);
  ccAttention::check();

  std::vector<ccVector<2>> imagePoints, clientPoints;
  cfCalibGridCorrespondence(params.gridPitchX(), params.gridPitchY(), params.isLeftHanded(),
                            A::imagePoints(results), imagePoints, clientPoints);
  ccAttention::check();

  if (diag != nullptr && diag->shouldRecord(diagFlags, kCalibDiagDots)) {
    // The marker circle is drawn at the stored marker point whether or not a marker was found.
    cfGridRecordDots(*diag, "Dectected and Filtered Dots", image, params, &A::markerPoint(results),
                     imagePoints);
  }

  cfGridFitPolynomial(params, imagePoints, clientPoints, results);
  ccAttention::check();

  A::imagePoints(results) = imagePoints;
  cfGridFitAffine(imagePoints, clientPoints, A::clientFromImage(results));
  ccAttention::check();

  if (params.calibType() == ccCalibDefs::eGridLinear) {
    A::clientFromImageBase(results) = std::make_shared<cc2XformLinear>(A::clientFromImage(results));
  }

  if (A::markerFound(results)) snapMarker(params, results);
  cfGridResiduals(imagePoints, clientPoints, results);
  if (params.ignoreGridAngle()) {
    // The correspondence keeps the grid within 45 degrees of the image axes.
    cstd_assert_(std::fabs(A::clientFromImage(results).rotation().toDouble()) < kMaxGridAngle);
    cfGridRemoveAngle(results);
  }
}
