// SPDX-License-Identifier: Apache-2.0
#include "cal/calib/grid_fit.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "cal/calib/calibration_run.h"
#include "cal/calib/grid_calib_results_access.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"
#include "platform/foundation/graphics.h"
#include "platform/foundation/point_fitter.h"
#include "platform/foundation/xform_poly.h"

namespace {

using A = ccGridCalibRunAccess;

// The fitted axes must be at least 45 degrees apart.
constexpr double kMinAxisSine = 0.7071067811865476;
constexpr double kMinScale = 1e-9;
constexpr double kMaxScale = 1e9;
constexpr int kAffineDegreesOfFreedom = 6;

}  // namespace

void cfGridCheckParams(const ccGridCalibParams& p) {
  const double lo = p.minDotAreaToBoundingBoxAreaRatio(), hi = p.maxDotAreaToBoundingBoxAreaRatio();
  if (!(lo > 0.0) || !(lo < 1.0) || !(hi > 0.0) || !(hi < 1.0) || hi < lo) {
    throw ccCalibDefs::BadParam(
        L"DotAreaToBoundingBoxAreaRatios can not be <= 0 or >= 1 or min ratio > max ratio");
  }
  if (!(p.gridPitchX() > 0.0) || !(p.gridPitchY() > 0.0)) {
    throw ccCalibDefs::BadParam(
        L"Invalid grid pitch: both grid pitch X and grid pitch Y must be >= 0");
  }
  const int type = static_cast<int>(p.calibType());
  if (type != ccCalibDefs::eGridLinear && type != ccCalibDefs::eGridPolynomialOrder3 &&
      type != ccCalibDefs::eGridPolynomialOrder5) {
    throw ccCalibDefs::BadParam(
        L"Invalid Calibration Type: must be eGridLinear, eGridPolynomialOrder3 or "
        L"eGridPolynomialOrder5");
  }
}

void cfGridFitPolynomial(const ccGridCalibParams& p, const std::vector<ccVector<2>>& imagePoints,
                         const std::vector<ccVector<2>>& clientPoints,
                         ccGridCalibResults& results) {
  if (p.calibType() == ccCalibDefs::eGridLinear) return;
  const int order = p.calibType() == ccCalibDefs::eGridPolynomialOrder3 ? 3 : 5;
  try {
    A::clientFromImageBase(results) =
        std::make_shared<cc2XformPoly>(clientPoints, imagePoints, order);
  } catch (const ccTimeout&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    throw ccCalibDefs::InvalidMap();
  }
}

void cfGridFitAffine(const std::vector<ccVector<2>>& imagePoints,
                     const std::vector<ccVector<2>>& clientPoints, ccXform<2>& fitted) {
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
  const bool valid = !fitted.isSingular() && sx >= kMinScale && sx <= kMaxScale &&
                     sy >= kMinScale && sy <= kMaxScale &&
                     std::fabs(fitted.matrix().determinant()) / (sx * sy) >= kMinAxisSine;
  if (!valid) throw ccCalibDefs::InvalidMap();
}

void cfGridResiduals(const std::vector<ccVector<2>>& imagePoints,
                     const std::vector<ccVector<2>>& clientPoints, ccGridCalibResults& results) {
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
  A::avgResidual(results) =
      imagePoints.empty() ? 0.0 : sumLen / static_cast<double>(imagePoints.size());
}

void cfGridRemoveAngle(ccGridCalibResults& results) {
  const double theta = A::clientFromImage(results).rotation().toDouble();
  const cc2XformLinear unrotate(ccVector<2>(), 1.0, 1.0, ccRadian(0.0), ccRadian(-theta));
  for (ccVector<2>& r : A::residuals(results)) r = unrotate.mapPoint(r);
  A::clientFromImageBase(results) = unrotate * *A::clientFromImageBase(results);
  A::clientFromImage(results) = (unrotate * cc2XformLinear(A::clientFromImage(results))).xform();
}

void cfGridRecordInput(ccDiagObject* diag, unsigned long diagFlags,
                       const ccPelBuffer_const<unsigned char>& image) {
  if (diag == nullptr || !diag->shouldRecord(diagFlags, kCalibDiagInputImage)) return;
  ccDiagRecord& record = diag->addRecord();
  record.recordAnnotation("Input Image");
  record.image(image, false);
}

void cfGridRecordDots(ccDiagObject& diag, const char* annotation,
                      const ccPelBuffer_const<unsigned char>& image, const ccGridCalibParams& p,
                      const ccVector<2>* marker, const std::vector<ccVector<2>>& imagePoints) {
  ccDiagRecord& record = diag.addRecord();
  record.recordAnnotation(annotation);
  record.image(image, false);
  const double radius = 0.5 * std::min(p.gridPitchX(), p.gridPitchY());
  auto drawCircle = [&](const ccVector<2>& centre, const ccColor& colour, const char* label) {
    ccUITablet tablet;
    tablet.draw(ccCircle(centre, radius), ccGraphicProps(colour, 1, 0, false), 0);
    record.sketch(tablet.sketch(), 2, label);
  };
  if (marker != nullptr) drawCircle(*marker, ccColor::blue, "marker");
  for (const ccVector<2>& pt : imagePoints) drawCircle(pt, ccColor::red, "Dot");
}
