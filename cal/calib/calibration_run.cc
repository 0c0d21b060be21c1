// The dot-grid calibration run: argument checks, detection, correspondence, transform fits,
// marker snapping, residuals and optional removal of the grid rotation.
#include "cal/calib/calibration_run.h"

#include <cmath>
#include <new>

#include "cal/calib/dot_detection.h"
#include "cal/calib/grid_calib_results_access.h"
#include "cal/calib/grid_correspondence.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"
#include "platform/foundation/diag.h"
#include "platform/foundation/graphics.h"
#include "platform/foundation/point_fitter.h"
#include "platform/foundation/xform_poly.h"

namespace {

using A = ccGridCalibRunAccess;

// The fitted axes must be at least 45 degrees apart.
constexpr double kMinAxisSine = 0.7071067811865476;
constexpr double kMinScale = 1e-9;
constexpr double kMaxScale = 1e9;
// A marker further than this (in cells) from the nearest cell centre is not the marker.
constexpr double kMarkerSnapTolerance = 0.25;
// Largest grid rotation that ignoreGridAngle removes.
constexpr double kMaxGridAngle = 0.7853981633974483;
constexpr int kAffineDegreesOfFreedom = 6;

void checkParams(const ccGridCalibParams& p) {
  const double lo = p.minDotAreaToBoundingBoxAreaRatio(), hi = p.maxDotAreaToBoundingBoxAreaRatio();
  if (!(lo > 0.0) || !(lo < 1.0) || !(hi > 0.0) || !(hi < 1.0) || hi < lo) {
    throw ccCalibDefs::BadParam(L"DotAreaToBoundingBoxAreaRatios can not be <= 0 or >= 1 or min ratio > max ratio");
  }
  if (!(p.gridPitchX() > 0.0) || !(p.gridPitchY() > 0.0)) {
    throw ccCalibDefs::BadParam(L"Invalid grid pitch: both grid pitch X and grid pitch Y must be >= 0");
  }
  const int type = static_cast<int>(p.calibType());
  if (type != ccCalibDefs::eGridLinear && type != ccCalibDefs::eGridPolynomialOrder3 &&
      type != ccCalibDefs::eGridPolynomialOrder5) {
    throw ccCalibDefs::BadParam(
        L"Invalid Calibration Type: must be eGridLinear, eGridPolynomialOrder3 or eGridPolynomialOrder5");
  }
  const int polarity = static_cast<int>(p.polarity());
  if (polarity != ccCalibDefs::ePolarityInverted && polarity != ccCalibDefs::ePolarityNormal &&
      polarity != ccCalibDefs::ePolarityAny) {
    throw ccCalibDefs::BadParam(L"Invalid Polarity: must be ePolarityInverted, ePolarityNormal or ePolarityAny");
  }
}

// Affine least-squares fit image -> client, stored in `fitted` before its validity test.
void linearFit(const std::vector<ccVector<2>>& imagePoints, const std::vector<ccVector<2>>& clientPoints,
               ccXform<2>& fitted) {
  cstd_assert_(imagePoints.size() == clientPoints.size());
  cstd_assert_(imagePoints.size() >= 3);
  try {
    fitted = ccLSPointToPointFitter(clientPoints, imagePoints).fit(kAffineDegreesOfFreedom);
  } catch (const ccTimeout&) {
    throw;
  } catch (const ccException&) {
    throw ccCalibDefs::InvalidMap();
  }
  const double sx = fitted.xScale(), sy = fitted.yScale();
  const bool valid = !fitted.isSingular() && sx >= kMinScale && sx <= kMaxScale && sy >= kMinScale &&
                     sy <= kMaxScale && std::fabs(fitted.matrix().determinant()) / (sx * sy) >= kMinAxisSine;
  if (!valid) throw ccCalibDefs::InvalidMap();
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

void computeResiduals(const std::vector<ccVector<2>>& imagePoints, const std::vector<ccVector<2>>& clientPoints,
                      ccGridCalibResults& results) {
  const cc2XformBase& x = *A::clientFromImageBase(results);
  std::vector<ccVector<2>>& res = A::residuals(results);
  res.resize(imagePoints.size());
  double maxLen = 0.0, sumLen = 0.0;
  for (std::size_t i = 0; i < imagePoints.size(); ++i) {
    res[i] = clientPoints[i] - x.mapPoint(imagePoints[i]);
    const double len = res[i].length();
    maxLen = std::max(maxLen, len);
    sumLen += len;
  }
  A::maxResidual(results) = maxLen;
  A::avgResidual(results) = imagePoints.empty() ? 0.0 : sumLen / static_cast<double>(imagePoints.size());
}

void removeGridAngle(ccGridCalibResults& results) {
  const double theta = A::clientFromImage(results).rotation().toDouble();
  cstd_assert_(std::fabs(theta) < kMaxGridAngle);
  const cc2XformLinear unrotate(ccVector<2>(), 1.0, 1.0, ccRadian(0.0), ccRadian(-theta));
  for (ccVector<2>& r : A::residuals(results)) r = unrotate.mapPoint(r);
  cstd_assert_(A::clientFromImageBase(results) != nullptr);
  A::clientFromImageBase(results) = unrotate * *A::clientFromImageBase(results);
  A::clientFromImage(results) = (unrotate * cc2XformLinear(A::clientFromImage(results))).xform();
}

// The marker circle is drawn at the stored marker point whether or not a marker was found.
void recordDots(ccDiagObject& diag, const ccPelBuffer_const<unsigned char>& image, const ccGridCalibParams& p,
                const ccVector<2>& markerPoint, const std::vector<ccVector<2>>& imagePoints) {
  ccDiagRecord& record = diag.addRecord();
  record.recordAnnotation("Dectected and Filtered Dots");
  record.image(image, false);
  const double radius = 0.5 * std::min(p.gridPitchX(), p.gridPitchY());
  auto drawCircle = [&](const ccVector<2>& centre, const ccColor& colour, const char* label) {
    ccUITablet tablet;
    tablet.draw(ccCircle(centre, radius), ccGraphicProps(colour, 1, 0, false), 0);
    record.sketch(tablet.sketch(), 2, label);
  };
  drawCircle(markerPoint, ccColor::blue, "marker");
  for (const ccVector<2>& pt : imagePoints) drawCircle(pt, ccColor::red, "Dot");
}

}  // namespace

void cfCalibrationRun(const ccPelBuffer_const<unsigned char>& image, const ccGridCalibParams& params,
                      ccGridCalibResults& results, ccDiagObject* diag, unsigned long diagFlags) {
  results = ccGridCalibResults();
  if (!image.isBound()) throw ccPel::UnboundWindow();

  if (diag != nullptr && diag->shouldRecord(diagFlags, kCalibDiagInputImage)) {
    ccDiagRecord& record = diag->addRecord();
    record.recordAnnotation("Input Image");
    record.image(image, false);
  }

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
    recordDots(*diag, image, params, A::markerPoint(results), imagePoints);
  }

  if (params.calibType() != ccCalibDefs::eGridLinear) {
    const int order = params.calibType() == ccCalibDefs::eGridPolynomialOrder3 ? 3 : 5;
    try {
      A::clientFromImageBase(results) = std::make_shared<cc2XformPoly>(clientPoints, imagePoints, order);
    } catch (const ccTimeout&) {
      throw;
    } catch (const std::bad_alloc&) {
      throw;
    } catch (...) {
      throw ccCalibDefs::InvalidMap();
    }
    ccAttention::check();
  }

  A::imagePoints(results) = imagePoints;
  linearFit(imagePoints, clientPoints, A::clientFromImage(results));
  ccAttention::check();

  if (params.calibType() == ccCalibDefs::eGridLinear) {
    A::clientFromImageBase(results) = std::make_shared<cc2XformLinear>(A::clientFromImage(results));
  }

  if (A::markerFound(results)) snapMarker(params, results);
  computeResiduals(imagePoints, clientPoints, results);
  if (params.ignoreGridAngle()) removeGridAngle(results);
}
