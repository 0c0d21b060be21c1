// SPDX-License-Identifier: Apache-2.0
// Polygon measures, boundary distances, convex hull and convex clipping.
#include "platform/foundation/polyline.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/foundation/exception.h"

namespace {

// A turn counts as straight when |cross| <= this times the product of the edge lengths.
constexpr double kStraightTurn = 1e-12;
// A polygon whose |area| is at most this fraction of its squared bounding-box diagonal has
// no meaningful area centroid (it is a line or a point up to rounding).
constexpr double kZeroAreaFraction = 1e-13;

bool isFinite(const ccVector<2>& p) {
  return std::isfinite(p.x()) && std::isfinite(p.y());
}

void requireFinite(const std::vector<ccVector<2>>& points, const wchar_t* what) {
  for (const ccVector<2>& p : points) {
    if (!isFinite(p)) throw ccBadArgument(std::wstring(what) + L" holds a non-finite point");
  }
}

// Consecutive duplicates removed, the list taken as closed.
std::vector<ccVector<2>> withoutRepeats(const std::vector<ccVector<2>>& v) {
  std::vector<ccVector<2>> out;
  out.reserve(v.size());
  for (const ccVector<2>& p : v) {
    if (out.empty() || out.back() != p) out.push_back(p);
  }
  while (out.size() > 1 && out.back() == out.front()) out.pop_back();
  return out;
}

ccVector<2> vertexMean(const std::vector<ccVector<2>>& v) {
  ccVector<2> m;
  for (const ccVector<2>& p : v) m += p;
  return m / static_cast<double>(v.size());
}

// Squared distance from p to segment ab, and the nearest point.
double segmentPointSq(const ccVector<2>& a, const ccVector<2>& ab, double abLen2,
                      const ccVector<2>& p, ccVector<2>& nearest) {
  double t = abLen2 > 0.0 ? ab.dot(p - a) / abLen2 : 0.0;
  nearest = t <= 0.0 ? a : t >= 1.0 ? a + ab : a + ab * t;
  return (p - nearest).lengthSq();
}

// A boundary segment with its axis-aligned box, for pruning.
struct Seg {
  ccVector<2> a, ab;
  double len2;
  double x0, x1, y0, y1;
};

std::vector<Seg> segments(const ccPolyline& p) {
  std::vector<Seg> out;
  auto add = [&out](const ccVector<2>& a, const ccVector<2>& b) {
    ccVector<2> ab = b - a;
    out.push_back({a, ab, ab.lengthSq(), std::min(a.x(), b.x()), std::max(a.x(), b.x()),
                   std::min(a.y(), b.y()), std::max(a.y(), b.y())});
  };
  if (p.numVertices() == 1) add(p.vertex(0), p.vertex(0));
  for (int i = 0; i < p.numSegments(); ++i) add(p.segment(i).p1(), p.segment(i).p2());
  return out;
}

// Squared gap between two boxes (0 when they meet).
double boxGapSq(const Seg& s, const Seg& t) {
  double dx = std::max({0.0, t.x0 - s.x1, s.x0 - t.x1}),
         dy = std::max({0.0, t.y0 - s.y1, s.y0 - t.y1});
  return dx * dx + dy * dy;
}

// Closest points between two segments, squared distance; 0 at a touching or crossing point.
double segmentNearestSq(const Seg& s, const Seg& t, ccVector<2>& onS, ccVector<2>& onT) {
  double best = std::numeric_limits<double>::infinity();
  ccVector<2> n;
  auto consider = [&](double d, const ccVector<2>& p, const ccVector<2>& q) {
    if (d < best) {
      best = d;
      onS = p;
      onT = q;
    }
  };
  const ccVector<2> sb = s.a + s.ab, tb = t.a + t.ab;
  consider(segmentPointSq(t.a, t.ab, t.len2, s.a, n), s.a, n);
  consider(segmentPointSq(t.a, t.ab, t.len2, sb, n), sb, n);
  consider(segmentPointSq(s.a, s.ab, s.len2, t.a, n), n, t.a);
  consider(segmentPointSq(s.a, s.ab, s.len2, tb, n), n, tb);
  if (best == 0.0) return best;
  // A proper crossing: the ends of each segment lie strictly on opposite sides of the other.
  double d1 = s.ab.cross(t.a - s.a), d2 = s.ab.cross(tb - s.a);
  double d3 = t.ab.cross(s.a - t.a), d4 = t.ab.cross(sb - t.a);
  if (((d1 < 0.0 && d2 > 0.0) || (d1 > 0.0 && d2 < 0.0)) &&
      ((d3 < 0.0 && d4 > 0.0) || (d3 > 0.0 && d4 < 0.0))) {
    onS = onT = t.a + t.ab * (d1 / (d1 - d2));
    best = 0.0;
  }
  return best;
}

}  // namespace

int ccPolyline::numSegments() const {
  int n = numVertices();
  if (n < 2) return 0;
  return closed_ ? n : n - 1;
}

ccLineSeg ccPolyline::segment(int i) const {
  std::size_t n = vertices_.size();
  std::size_t a = static_cast<std::size_t>(i);
  return ccLineSeg(vertices_[a], vertices_[(a + 1) % n]);
}

double ccPolyline::length() const {
  double sum = 0.0;
  for (int i = 0; i < numSegments(); ++i) sum += segment(i).length();
  return sum;
}

double ccPolyline::signedArea() const {
  std::size_t n = vertices_.size();
  if (n < 3) return 0.0;
  // Relative to the first vertex: the same value, with less cancellation far from the origin.
  const ccVector<2> o = vertices_[0];
  double twice = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    ccVector<2> prev = vertices_[(i + n - 1) % n] - o, cur = vertices_[i] - o;
    twice += prev.x() * cur.y() - prev.y() * cur.x();
  }
  return 0.5 * twice;
}

double ccPolyline::area() const {
  return std::fabs(signedArea());
}

ccRect ccPolyline::boundingBox() const {
  if (vertices_.empty()) return ccRect();
  double x0 = vertices_[0].x(), x1 = x0, y0 = vertices_[0].y(), y1 = y0;
  for (const ccVector<2>& p : vertices_) {
    x0 = std::min(x0, p.x());
    x1 = std::max(x1, p.x());
    y0 = std::min(y0, p.y());
    y1 = std::max(y1, p.y());
  }
  return ccRect(x0, y0, x1 - x0, y1 - y0);
}

bool ccPolyline::isConvex() const {
  std::vector<ccVector<2>> v = withoutRepeats(vertices_);
  std::size_t n = v.size();
  if (n < 3 || !(signedArea() > 0.0)) return false;
  double turning = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    ccVector<2> e1 = v[i] - v[(i + n - 1) % n], e2 = v[(i + 1) % n] - v[i];
    double cross = e1.cross(e2), dot = e1.dot(e2);
    double tol = kStraightTurn * e1.length() * e2.length();
    if (cross < -tol) return false;               // a right turn
    if (cross <= tol && dot < 0.0) return false;  // the boundary doubles back
    turning += std::atan2(cross, dot);
  }
  // A convex boundary turns once around (2 pi); a star-shaped loop of left turns turns 4 pi
  // or more.
  return turning < 3.0 * ccPi;
}

ccVector<2> ccPolyline::centroid() const {
  if (vertices_.empty()) throw ccBadArgument(L"An empty polygon has no centroid");
  const ccVector<2> o = vertexMean(vertices_);
  std::size_t n = vertices_.size();
  double twiceArea = 0.0;
  ccVector<2> sum;
  for (std::size_t i = 0; i < n && n >= 3; ++i) {
    ccVector<2> a = vertices_[i] - o, b = vertices_[(i + 1) % n] - o;
    double c = a.cross(b);
    twiceArea += c;
    sum += (a + b) * c;
  }
  ccRect box = boundingBox();
  double diag2 = box.width() * box.width() + box.height() * box.height();
  if (!(std::fabs(0.5 * twiceArea) > kZeroAreaFraction * diag2)) return o;
  return o + sum / (3.0 * twiceArea);
}

ccPolyline::PrincipalMoments ccPolyline::principalMomentsArea() const {
  PrincipalMoments result;
  std::size_t n = vertices_.size();
  if (n < 3) return result;
  // Green's theorem over the edges, in coordinates relative to the vertex mean.
  const ccVector<2> o = vertexMean(vertices_);
  double a2 = 0.0, sx = 0.0, sy = 0.0, ixx = 0.0, iyy = 0.0, ixy = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    ccVector<2> p = vertices_[i] - o, q = vertices_[(i + 1) % n] - o;
    double c = p.cross(q);
    a2 += c;
    sx += (p.x() + q.x()) * c;
    sy += (p.y() + q.y()) * c;
    ixx += (p.x() * p.x() + p.x() * q.x() + q.x() * q.x()) * c;
    iyy += (p.y() * p.y() + p.y() * q.y() + q.y() * q.y()) * c;
    ixy += (p.x() * q.y() + 2.0 * p.x() * p.y() + 2.0 * q.x() * q.y() + q.x() * p.y()) * c;
  }
  double area = 0.5 * a2;
  ccRect box = boundingBox();
  if (!(std::fabs(area) >
        kZeroAreaFraction * (box.width() * box.width() + box.height() * box.height())))
    return result;
  double cx = sx / (6.0 * area), cy = sy / (6.0 * area);
  // Central moments; the signed sums are negated for a negatively oriented polygon.
  double sign = area > 0.0 ? 1.0 : -1.0;
  double mu20 = sign * (ixx / 12.0 - area * cx * cx);
  double mu02 = sign * (iyy / 12.0 - area * cy * cy);
  double mu11 = sign * (ixy / 24.0 - area * cx * cy);
  double mean = 0.5 * (mu20 + mu02), radius = std::hypot(0.5 * (mu20 - mu02), mu11);
  result.m1 = mean - radius;
  result.m2 = mean + radius;
  result.angle = ccRadian(0.5 * std::atan2(2.0 * mu11, mu20 - mu02));
  return result;
}

ccPolyline::NearestPoints ccPolyline::nearestPoints(const ccPolyline& other) const {
  if (vertices_.empty() || other.vertices_.empty()) {
    throw ccBadArgument(L"Nearest points need two polylines with vertices");
  }
  const std::vector<Seg> mine = segments(*this), theirs = segments(other);
  Seg otherBox = theirs.front();
  for (const Seg& t : theirs) {
    otherBox.x0 = std::min(otherBox.x0, t.x0);
    otherBox.x1 = std::max(otherBox.x1, t.x1);
    otherBox.y0 = std::min(otherBox.y0, t.y0);
    otherBox.y1 = std::max(otherBox.y1, t.y1);
  }
  // Exhaustive over segment pairs, skipping pairs whose boxes are already farther apart than
  // the best distance found.
  NearestPoints best;
  double bestSq = std::numeric_limits<double>::infinity();
  ccVector<2> p, q;
  for (const Seg& s : mine) {
    if (boxGapSq(s, otherBox) >= bestSq) continue;
    for (const Seg& t : theirs) {
      if (boxGapSq(s, t) >= bestSq) continue;
      double d = segmentNearestSq(s, t, p, q);
      if (d < bestSq) {
        bestSq = d;
        best.onThis = p;
        best.onOther = q;
        if (d == 0.0) {
          best.distance = 0.0;
          return best;
        }
      }
    }
  }
  best.distance = best.onThis.distance(best.onOther);
  return best;
}

ccPolyline ccPolyline::mapped(const ccXform<2>& x) const {
  ccPolyline out;
  out.closed_ = closed_;
  out.vertices_.reserve(vertices_.size());
  for (const ccVector<2>& p : vertices_) out.vertices_.push_back(x.mapPoint(p));
  return out;
}

std::vector<ccVector<2>> cfConvexHull(const std::vector<ccVector<2>>& points) {
  requireFinite(points, L"The point list of a convex hull");
  std::vector<ccVector<2>> p = points;
  auto less = [](const ccVector<2>& a, const ccVector<2>& b) {
    return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y());
  };
  std::sort(p.begin(), p.end(), less);
  p.erase(std::unique(p.begin(), p.end()), p.end());
  if (p.size() < 3) return p;

  // Lower chain left to right, then upper chain right to left, keeping strict left turns.
  std::vector<ccVector<2>> hull(2 * p.size());
  std::size_t k = 0;
  auto turn = [&hull](std::size_t k2, const ccVector<2>& c) {
    return (hull[k2 - 1] - hull[k2 - 2]).cross(c - hull[k2 - 2]);
  };
  for (const ccVector<2>& c : p) {
    while (k >= 2 && turn(k, c) <= 0.0) --k;
    hull[k++] = c;
  }
  std::size_t lower = k + 1;
  for (std::size_t i = p.size() - 1; i-- > 0;) {
    while (k >= lower && turn(k, p[i]) <= 0.0) --k;
    hull[k++] = p[i];
  }
  hull.resize(k - 1);  // the last point repeats the first
  return hull;
}

ccPolyline cfClipPolygon(const ccPolyline& subject, const ccPolyline& clip) {
  requireFinite(subject.vertices(), L"The polygon to clip");
  requireFinite(clip.vertices(), L"The clipping polygon");
  std::vector<ccVector<2>> window = clip.vertices();
  ccPolyline positive(window, true);
  if (!positive.isConvex()) {
    std::reverse(window.begin(), window.end());
    positive.vertices(window);
    if (!positive.isConvex()) throw ccBadArgument(L"The clipping polygon must be convex");
  }
  window = withoutRepeats(window);

  std::vector<ccVector<2>> out = subject.vertices(), in;
  const std::size_t m = window.size();
  for (std::size_t e = 0; e < m && !out.empty(); ++e) {
    const ccVector<2> a = window[e], edge = window[(e + 1) % m] - a;
    // Inside is the left of the edge, the edge itself included.
    auto side = [&](const ccVector<2>& p) { return edge.cross(p - a); };
    in.swap(out);
    out.clear();
    ccVector<2> prev = in.back();
    double sPrev = side(prev);
    for (const ccVector<2>& cur : in) {
      double sCur = side(cur);
      bool curIn = sCur >= 0.0, prevIn = sPrev >= 0.0;
      if (curIn != prevIn) out.push_back(prev + (cur - prev) * (sPrev / (sPrev - sCur)));
      if (curIn) out.push_back(cur);
      prev = cur;
      sPrev = sCur;
    }
  }
  return ccPolyline(out, true);
}
