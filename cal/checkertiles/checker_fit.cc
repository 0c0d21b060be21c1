// SPDX-License-Identifier: Apache-2.0
// Vertex positions from the edge lines measured next to each corner: the least-squares
// intersection of the lines in homogeneous form, with the RMS distance of the result from
// the lines as its error.
#include <cmath>
#include <vector>

#include "cal/checkertiles/checker_stages.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/nmmatrix.h"

namespace {

constexpr std::size_t kMinLines = 2;
constexpr std::size_t kMaxLines = 4;
// Two lines from one tile define a corner only when the sine of the angle between them
// reaches this (about 5.7 degrees).
constexpr double kMinTwoLineSine = 0.1;
// Homogeneous scale below which the lines meet at infinity (all parallel): the point would
// lie more than 1e12 times the size of the line coefficients from the origin.
constexpr double kMinHomogeneousScale = 1e-12;

// Whether the corner's lines can define a point.
bool qualifies(const cc_Corner& c, bool needBothCheckers) {
  const std::size_t n = c.lines.size();
  if (n < kMinLines || n > kMaxLines) return false;
  if (n > kMinLines) return true;
  if (needBothCheckers) return false;
  cstd_assert_(c.lineFromFirst.size() == kMinLines);
  if (c.lineFromFirst.size() != kMinLines || c.lineFromFirst[0] != c.lineFromFirst[1]) return false;
  const ccFLine& a = c.lines[0];
  const ccFLine& b = c.lines[1];
  return std::fabs(a.cosAngle() * b.sinAngle() - a.sinAngle() * b.cosAngle()) >= kMinTwoLineSine;
}

// The homogeneous least-squares intersection of the lines: the right singular vector of the
// smallest singular value of the rows (cos t, sin t, -d). Returns false, leaving the corner
// unfitted, when the lines are all parallel (the point lies at infinity).
bool fitCorner(cc_Corner& c) {
  const int n = static_cast<int>(c.lines.size());
  ccNMMatrix a(n, 3);
  for (int i = 0; i < n; ++i) {
    const ccFLine& l = c.lines[static_cast<std::size_t>(i)];
    a(i, 0) = l.cosAngle();
    a(i, 1) = l.sinAngle();
    a(i, 2) = -l.distance();
  }
  ccNMMatrix u, v;
  std::vector<double> w;
  a.decompose(u, w, v);
  std::size_t smallest = 0;
  for (std::size_t j = 1; j < w.size(); ++j)
    if (w[j] < w[smallest]) smallest = j;
  const int s = static_cast<int>(smallest);
  const double e0 = v(0, s), e1 = v(1, s), e2 = v(2, s);
  if (!(std::fabs(e2) > kMinHomogeneousScale)) return false;
  const ccVector<2> p(-e1 / e2, e0 / e2);
  if (!std::isfinite(p.x()) || !std::isfinite(p.y())) return false;

  const ccNMMatrix r = a * ccNMMatrix(3, 1, {p.y(), -p.x(), 1.0});
  cstd_assert_(r.cols() == 1);
  double sumSq = 0.0;
  for (int i = 0; i < r.rows(); ++i) sumSq += r(i, 0) * r(i, 0);
  if (sumSq < 0.0) sumSq = 0.0;
  c.position = p;
  c.valid = true;
  c.error = std::sqrt(sumSq / n);
  return true;
}

}  // namespace

void cfCheckerFitCorners(const ccCalib2VertexFeatureParams& params, std::vector<cc_Corner>& corners,
                         ccGraphicList* /*graphics*/) {
  const bool needBoth = params.needBothCheckers();
  for (cc_Corner& c : corners) {
    if (!qualifies(c, needBoth)) continue;
    try {
      fitCorner(c);
    } catch (const ccTimeout&) {
      throw;
    } catch (const ccException&) {
      // This corner stays unfitted; the others go on.
    }
  }
}
