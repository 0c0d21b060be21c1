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

bool isFinite(const ccVector<2>& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

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

// Closest points between segments ab and cd; distance 0 at a touching or crossing point.
ccPolyline::NearestPoints segmentNearest(const ccLineSeg& s, const ccLineSeg& t) {
  ccPolyline::NearestPoints best;
  best.distance = std::numeric_limits<double>::infinity();
  auto consider = [&best](const ccVector<2>& p, const ccVector<2>& q) {
    double d = p.distance(q);
    if (d < best.distance) best = {p, q, d};
  };
  consider(s.p1(), t.nearestPoint(s.p1()));
  consider(s.p2(), t.nearestPoint(s.p2()));
  consider(s.nearestPoint(t.p1()), t.p1());
  consider(s.nearestPoint(t.p2()), t.p2());
  if (best.distance == 0.0) return best;
  // A proper crossing: the ends of each segment lie strictly on opposite sides of the other.
  ccVector<2> ab = s.p2() - s.p1(), cd = t.p2() - t.p1();
  double d1 = ab.cross(t.p1() - s.p1()), d2 = ab.cross(t.p2() - s.p1());
  double d3 = cd.cross(s.p1() - t.p1()), d4 = cd.cross(s.p2() - t.p1());
  if (((d1 < 0.0 && d2 > 0.0) || (d1 > 0.0 && d2 < 0.0)) && ((d3 < 0.0 && d4 > 0.0) || (d3 > 0.0 && d4 < 0.0))) {
    ccVector<2> x = t.p1() + cd * (d1 / (d1 - d2));
    best = {x, x, 0.0};
  }
  return best;
}

// Boundary segments of a polyline; a single vertex is a degenerate segment.
std::vector<ccLineSeg> boundary(const ccPolyline& p) {
  std::vector<ccLineSeg> out;
  if (p.numVertices() == 1) {
    out.emplace_back(p.vertex(0), p.vertex(0));
    return out;
  }
  for (int i = 0; i < p.numSegments(); ++i) out.push_back(p.segment(i));
  return out;
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

double ccPolyline::area() const { return std::fabs(signedArea()); }

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
  if (!(std::fabs(area) > kZeroAreaFraction * (box.width() * box.width() + box.height() * box.height()))) return result;
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
  std::vector<ccLineSeg> mine = boundary(*this), theirs = boundary(other);
  NearestPoints best;
  best.distance = std::numeric_limits<double>::infinity();
  for (const ccLineSeg& s : mine) {
    for (const ccLineSeg& t : theirs) {
      NearestPoints np = segmentNearest(s, t);
      if (np.distance < best.distance) {
        best = np;
        if (best.distance == 0.0) return best;
      }
    }
  }
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
  auto less = [](const ccVector<2>& a, const ccVector<2>& b) { return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y()); };
  std::sort(p.begin(), p.end(), less);
  p.erase(std::unique(p.begin(), p.end()), p.end());
  if (p.size() < 3) return p;

  // Lower chain left to right, then upper chain right to left, keeping strict left turns.
  std::vector<ccVector<2>> hull(2 * p.size());
  std::size_t k = 0;
  auto turn = [&hull](std::size_t k2, const ccVector<2>& c) { return (hull[k2 - 1] - hull[k2 - 2]).cross(c - hull[k2 - 2]); };
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
