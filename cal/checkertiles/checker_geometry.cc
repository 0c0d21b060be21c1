// SPDX-License-Identifier: Apache-2.0
// Geometric rules shared by the mesh and caliper stages.
#include "cal/checkertiles/checker_geometry.h"

#include <algorithm>
#include <cmath>

#include "cal/checkertiles/checker_stages.h"

namespace checker_internal {

bool inLine(const ccVector<2>& x, const ccVector<2>& y, const ccVector<2>& z) {
  const ccVector<2> a = y - x, b = z - y;
  const double la = a.length(), lb = b.length();
  if (la == 0.0 || lb == 0.0) return la == 0.0 && lb == 0.0;
  if (std::min(la, lb) / std::max(la, lb) < kInLineMinStepRatio) return false;
  return a.dot(b) / (la * lb) >= kInLineMinCosine;
}

double tileOverlap(const cc_Checker& a, const cc_Checker& b) {
  if ((a.polygonBox & b.polygonBox).degen()) return 0.0;
  return cfCheckerPolygonOverlapArea(a.polygon, b.polygon, false);
}

double areaRatio(double a, double b) {
  return std::min(a, b) / std::max(a, b);
}

bool surrounds(const ccVector<2>& p, const std::vector<ccVector<2>>& q) {
  if (q.size() < 2) return true;
  if (q[0] == p) return false;
  const ccRadian a0 = (q[0] - p).angle();
  double previous = 0.0;
  for (std::size_t k = 1; k < q.size(); ++k) {
    if (q[k] == p) return false;
    const double a = ((q[k] - p).angle() - a0).norm().toDouble();
    if (!(a > previous)) return false;
    previous = a;
  }
  return true;
}

}  // namespace checker_internal
