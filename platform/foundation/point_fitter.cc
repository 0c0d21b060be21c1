// SPDX-License-Identifier: Apache-2.0
// Closed-form least-squares point-to-point fits on centred coordinates.
#include "platform/foundation/point_fitter.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/foundation/exception.h"

namespace {

// From-points whose spread is below this fraction of their largest coordinate coincide up to
// rounding and fix no rotation or scale.
constexpr double kCoincidentFraction = 1e-12;

ccVector<2> mean(const std::vector<ccVector<2>>& v) {
  ccVector<2> m;
  for (const ccVector<2>& p : v) m += p;
  return m / static_cast<double>(v.size());
}

}  // namespace

ccLSPointToPointFitter::ccLSPointToPointFitter(const std::vector<ccVector<2>>& toPoints,
                                               const std::vector<ccVector<2>>& fromPoints)
    : to_(toPoints), from_(fromPoints) {}

ccXform<2> ccLSPointToPointFitter::fit(int dof) const {
  if (dof != 2 && dof != 4 && dof != 6) {
    throw ccBadArgument(L"A point-to-point fit has 2, 4 or 6 degrees of freedom, not " +
                        std::to_wstring(dof));
  }
  if (to_.size() != from_.size()) {
    throw ccMathError(L"The point lists differ in size (" + std::to_wstring(to_.size()) +
                      L" to-points, " + std::to_wstring(from_.size()) + L" from-points)");
  }
  const std::size_t needed = dof == 6 ? 3 : dof == 4 ? 2 : 1;
  if (from_.size() < needed) {
    throw ccMathError(L"A fit with " + std::to_wstring(dof) +
                      L" degrees of freedom needs at least " + std::to_wstring(needed) +
                      L" points, got " + std::to_wstring(from_.size()));
  }
  double maxAbs = 0.0;
  for (std::size_t i = 0; i < from_.size(); ++i) {
    const ccVector<2>& f = from_[i];
    const ccVector<2>& t = to_[i];
    if (!std::isfinite(f.x()) || !std::isfinite(f.y()) || !std::isfinite(t.x()) ||
        !std::isfinite(t.y())) {
      throw ccMathError(L"The point lists hold a non-finite point");
    }
    maxAbs = std::max({maxAbs, std::fabs(f.x()), std::fabs(f.y())});
  }

  const ccVector<2> cf = mean(from_), ct = mean(to_);
  if (dof == 2) return ccXform<2>(ccMatrix<2>(), ct - cf);

  double sxx = 0.0, sxy = 0.0, syy = 0.0;                 // scatter of the from-points
  double txfx = 0.0, txfy = 0.0, tyfx = 0.0, tyfy = 0.0;  // cross scatter
  for (std::size_t i = 0; i < from_.size(); ++i) {
    ccVector<2> f = from_[i] - cf, t = to_[i] - ct;
    sxx += f.x() * f.x();
    sxy += f.x() * f.y();
    syy += f.y() * f.y();
    txfx += t.x() * f.x();
    txfy += t.x() * f.y();
    tyfx += t.y() * f.x();
    tyfy += t.y() * f.y();
  }
  const double n = static_cast<double>(from_.size());
  const double coincident = n * (kCoincidentFraction * maxAbs) * (kCoincidentFraction * maxAbs);
  if (!(sxx + syy > coincident))
    throw ccMathError(L"The from-points coincide; no transform fits them");

  ccMatrix<2> m;
  if (dof == 4) {
    double denom = sxx + syy;
    double a = (txfx + tyfy) / denom, b = (tyfx - txfy) / denom;
    m = ccMatrix<2>(a, -b, b, a);
  } else {
    double spreadMean = 0.5 * (sxx + syy), spreadRadius = std::hypot(0.5 * (sxx - syy), sxy);
    double spreadMax = spreadMean + spreadRadius, spreadMin = spreadMean - spreadRadius;
    if (!(spreadMin > kMinSpreadRatio * spreadMax)) {
      throw ccMathError(L"The from-points are collinear; an affine transform is not determined");
    }
    // M = C S^-1 with C the cross scatter and S the from scatter.
    double det = sxx * syy - sxy * sxy;
    ccMatrix<2> sInv(syy / det, -sxy / det, -sxy / det, sxx / det);
    m = ccMatrix<2>(txfx, txfy, tyfx, tyfy) * sInv;
  }
  return ccXform<2>(m, ct - m * cf);
}

double ccLSPointToPointFitter::rmsError(const ccXform<2>& x) const {
  std::size_t n = std::min(to_.size(), from_.size());
  if (n == 0) return 0.0;
  double ss = 0.0;
  for (std::size_t i = 0; i < n; ++i) ss += (x.mapPoint(from_[i]) - to_[i]).lengthSq();
  return std::sqrt(ss / static_cast<double>(n));
}
