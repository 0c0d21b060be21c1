// SPDX-License-Identifier: Apache-2.0
// Segments, lines and the orthogonal least-squares line fit.
#include "platform/foundation/lines.h"

#include <cmath>

#include "platform/foundation/exception.h"

namespace {

// The fit refuses a scatter whose two principal spreads differ by at most this fraction of
// their sum: the major axis is then set by rounding, not by the data.
constexpr double kIsotropicScatter = 1e-12;

bool isFinite(const ccVector<2>& p) {
  return std::isfinite(p.x()) && std::isfinite(p.y());
}

// Crossing of two lines given by unit normals n and offsets d (points p with n . p = d).
std::vector<ccVector<2>> crossing(const ccVector<2>& n1, double d1, const ccVector<2>& n2,
                                  double d2) {
  double det = n1.cross(n2);  // sine of the angle between the lines
  if (!(std::fabs(det) > ccFLine::kParallelSine)) return {};
  return {ccVector<2>((d1 * n2.y() - d2 * n1.y()) / det, (n1.x() * d2 - n2.x() * d1) / det)};
}

}  // namespace

ccVector<2> ccLineSeg::nearestPoint(const ccVector<2>& p) const {
  ccVector<2> d = p2_ - p1_;
  double len2 = d.lengthSq();
  if (len2 == 0.0) return p1_;
  double t = d.dot(p - p1_) / len2;
  if (t <= 0.0) return p1_;
  if (t >= 1.0) return p2_;
  return p1_ + d * t;
}

ccLine::ccLine(const ccVector<2>& direction, const ccVector<2>& point) : point_(point) {
  if (!isFinite(direction) || !isFinite(point))
    throw ccBadArgument(L"A line needs a finite point and direction");
  if (direction.lengthSq() == 0.0) throw ccBadArgument(L"A line needs a non-zero direction");
  dir_ = direction.unit();
}

ccLine::ccLine(ccRadian angle, const ccVector<2>& point) : ccLine(ccVector<2>(1.0, angle), point) {}

double ccLine::distance(const ccVector<2>& p) const {
  return std::fabs(signedDistance(p));
}

std::vector<ccVector<2>> ccLine::intersection(const ccLine& other) const {
  ccVector<2> n1 = dir_.perp(), n2 = other.dir_.perp();
  return crossing(n1, n1.dot(point_), n2, n2.dot(other.point_));
}

ccFLine::ccFLine(ccRadian angle, double distance)
    : angle_(angle), cos_(cos(angle)), sin_(sin(angle)), distance_(distance) {
  if (!std::isfinite(angle.toDouble()) || !std::isfinite(distance)) {
    throw ccBadArgument(L"A line needs a finite angle and distance");
  }
}

ccFLine::ccFLine(const ccVector<2>& point, ccRadian angle)
    : angle_(angle), cos_(cos(angle)), sin_(sin(angle)) {
  if (!std::isfinite(angle.toDouble()) || !isFinite(point)) {
    throw ccBadArgument(L"A line needs a finite point and angle");
  }
  distance_ = cos_ * point.y() - sin_ * point.x();
}

ccFLine::ccFLine(const ccLineSeg& segment) {
  if (!isFinite(segment.p1()) || !isFinite(segment.p2()))
    throw ccBadArgument(L"A line needs a finite segment");
  if (segment.isDegenerate()) throw ccBadArgument(L"A degenerate segment does not define a line");
  *this = ccFLine(segment.p1(), segment.angle());
}

ccFLine::ccFLine(const ccLine& line) : ccFLine(line.point(), line.angle()) {}

double ccFLine::distanceTo(const ccVector<2>& p) const {
  return std::fabs(signedDistance(p));
}

std::vector<ccVector<2>> ccFLine::intersection(const ccFLine& other) const {
  return crossing(normal(), distance_, other.normal(), other.distance_);
}

bool ccLSLineFitter::fit(ccFLine& line) const {
  double error = 0.0;
  return fitAndError(points_, line, error);
}

bool ccLSLineFitter::fitAndError(ccFLine& line, double& error) const {
  return fitAndError(points_, line, error);
}

bool ccLSLineFitter::fitAndError(const std::vector<ccVector<2>>& points, ccFLine& line,
                                 double& error) const {
  const std::size_t n = points.size();
  if (n < 2) return false;
  ccVector<2> c;
  for (const ccVector<2>& p : points) {
    if (!isFinite(p)) return false;
    c += p;
  }
  c /= static_cast<double>(n);
  // Centred scatter: centring first keeps the sums accurate far from the origin.
  double sxx = 0.0, sxy = 0.0, syy = 0.0;
  for (const ccVector<2>& p : points) {
    ccVector<2> d = p - c;
    sxx += d.x() * d.x();
    sxy += d.x() * d.y();
    syy += d.y() * d.y();
  }
  double sum = sxx + syy;
  double gap = 2.0 * std::hypot(0.5 * (sxx - syy), sxy);  // difference of the principal spreads
  if (!(sum > 0.0) || gap <= kIsotropicScatter * sum) return false;

  ccRadian angle(0.5 * std::atan2(2.0 * sxy, sxx - syy));
  if (ccVector<2>(1.0, angle).dot(points.back() - points.front()) < 0.0)
    angle = angle + ccRadian(ccPi);
  ccFLine fitted(c, angle);
  double ss = 0.0;
  for (const ccVector<2>& p : points) {
    double r = fitted.signedDistance(p);
    ss += r * r;
  }
  line = fitted;
  error = std::sqrt(ss / static_cast<double>(n));
  return true;
}
