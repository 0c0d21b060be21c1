// SPDX-License-Identifier: Apache-2.0
// Polynomial transforms: least-squares fit on normalised coordinates, Newton inversion,
// affine composition and persistence; and the polynomial map records of older archives.
#include "platform/foundation/xform_poly.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/foundation/archive.h"
#include "platform/foundation/nmmatrix.h"
#include "platform/foundation/polyline.h"

namespace {

// Registered so that archives can re-create these classes by name.
const cc_Instantiator kPolyExemplar(typeid(cc2XformPoly),
                                    [] { return static_cast<ccPersistent*>(new cc2XformPoly); });
const cc_Instantiator kMapExemplar(typeid(cc2DPolynomialMap), [] {
  return static_cast<ccPersistent*>(new cc2DPolynomialMap);
});

// Samples per side of the grid laid over the from-points' bounding box to fit the
// approximate inverse (only samples inside the points' convex hull are used).
int inverseSamplesPerSide(int order) {
  return 3 * order + 6;
}
// A map folds over when the Jacobian determinant at a sample has the wrong sign or is at most
// this fraction of the largest determinant found.
constexpr double kFoldTolerance = 1e-9;
// Newton inversion. Residuals are measured in the normalised coordinates of the to frame
// (the fitted region spans about [-1, 1]).
constexpr int kMaxNewtonIterations = 50;
constexpr int kMaxStepHalvings = 30;
constexpr double kNewtonConverged = 1e-15;  // stop: rounding level reached
constexpr double kNewtonAccept = 1e-9;      // above this after the iterations: no inverse

int numTerms(int order) {
  return cc2DPolynomialMap::numTerms(order);
}

bool isFinite(const ccVector<2>& p) {
  return std::isfinite(p.x()) && std::isfinite(p.y());
}

// Powers 0..order of u and v.
void powers(const ccVector<2>& u, int order, double* pu, double* pv) {
  pu[0] = pv[0] = 1.0;
  for (int k = 1; k <= order; ++k) {
    pu[k] = pu[k - 1] * u.x();
    pv[k] = pv[k - 1] * u.y();
  }
}

// Centre on the mean and scale each axis so that the points span at most [-1, 1].
ccXform<2> normaliser(const std::vector<ccVector<2>>& points) {
  ccVector<2> c;
  for (const ccVector<2>& p : points) c += p;
  c /= static_cast<double>(points.size());
  double rx = 0.0, ry = 0.0;
  for (const ccVector<2>& p : points) {
    rx = std::max(rx, std::fabs(p.x() - c.x()));
    ry = std::max(ry, std::fabs(p.y() - c.y()));
  }
  if (!(rx > 0.0) || !(ry > 0.0)) {
    throw ccMathError(
        L"The points lie on one line parallel to an axis; no polynomial is determined");
  }
  ccMatrix<2> s(1.0 / rx, 0.0, 0.0, 1.0 / ry);
  return ccXform<2>(s, -(s * c));
}

bool validPolynomial(int order, const ccXform<2>& pre, const std::vector<double>& ax,
                     const std::vector<double>& ay) {
  if (order < 1 || order > cc2XformPoly::kMaxOrder) return false;
  std::size_t n = static_cast<std::size_t>(numTerms(order));
  if (ax.size() != n || ay.size() != n) return false;
  for (std::size_t k = 0; k < n; ++k) {
    if (!std::isfinite(ax[k]) || !std::isfinite(ay[k])) return false;
  }
  const ccMatrix<2>& m = pre.matrix();
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c)
      if (!std::isfinite(m.element(r, c))) return false;
  return isFinite(pre.trans()) && !pre.isSingular();
}

}  // namespace

// ---------------------------------------------------------------------------------------
// cc2DPolynomialMap

cc2DPolynomialMap::cc2DPolynomialMap() : ax_{0.0, 1.0, 0.0}, ay_{0.0, 0.0, 1.0} {}

cc2DPolynomialMap::cc2DPolynomialMap(int order, const std::vector<double>& xCoefficients,
                                     const std::vector<double>& yCoefficients)
    : order_(order), ax_(xCoefficients), ay_(yCoefficients) {
  if (!validPolynomial(order, ccXform<2>(), ax_, ay_)) {
    throw ccBadArgument(L"A polynomial map of order 1 to " + std::to_wstring(kMaxOrder) +
                        L" needs (order + 1)(order + 2)/2 finite coefficients per output");
  }
}

cc2DPolynomialMap::~cc2DPolynomialMap() = default;

ccVector<2> cc2DPolynomialMap::mapPoint(const ccVector<2>& p) const {
  double pu[kMaxOrder + 1], pv[kMaxOrder + 1];
  powers(p, order_, pu, pv);
  double x = 0.0, y = 0.0;
  for (int d = 0, k = 0; d <= order_; ++d) {
    for (int j = 0; j <= d; ++j, ++k) {
      double t = pu[d - j] * pv[j];
      x += ax_[static_cast<std::size_t>(k)] * t;
      y += ay_[static_cast<std::size_t>(k)] * t;
    }
  }
  return ccVector<2>(x, y);
}

void cc2DPolynomialMap::dispatchSerialize(ccArchive& ar) {
  if (haveVisited(ar, this, sizeof(*this))) return;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw ccArchive::UnknownVersion("cc2DPolynomialMap", version);
  ccPersistent::dispatchSerialize(ar);
  long order = order_;
  std::vector<double> ax = ax_, ay = ay_;
  ar || order;
  ar || ax;
  ar || ay;
  if (ar.isLoading()) {
    if (!validPolynomial(static_cast<int>(order), ccXform<2>(), ax, ay)) {
      throw ccArchive::BadData(L"The archive holds an invalid polynomial map");
    }
    mutating();
    order_ = static_cast<int>(order);
    ax_ = std::move(ax);
    ay_ = std::move(ay);
  }
  setVisited(ar, this, sizeof(*this));
}

// ---------------------------------------------------------------------------------------
// cc2XformPoly::Polynomial

ccVector<2> cc2XformPoly::Polynomial::eval(const ccVector<2>& p) const {
  double pu[kMaxOrder + 1], pv[kMaxOrder + 1];
  powers(pre.mapPoint(p), order, pu, pv);
  double x = 0.0, y = 0.0;
  for (int d = 0, k = 0; d <= order; ++d) {
    for (int j = 0; j <= d; ++j, ++k) {
      double t = pu[d - j] * pv[j];
      x += ax[static_cast<std::size_t>(k)] * t;
      y += ay[static_cast<std::size_t>(k)] * t;
    }
  }
  return ccVector<2>(x, y);
}

ccMatrix<2> cc2XformPoly::Polynomial::jacobian(const ccVector<2>& p) const {
  double pu[kMaxOrder + 1], pv[kMaxOrder + 1];
  powers(pre.mapPoint(p), order, pu, pv);
  double xu = 0.0, xv = 0.0, yu = 0.0, yv = 0.0;
  for (int d = 1, k = 1; d <= order; ++d) {
    for (int j = 0; j <= d; ++j, ++k) {
      int i = d - j;
      double du = i > 0 ? i * pu[i - 1] * pv[j] : 0.0;
      double dv = j > 0 ? j * pu[i] * pv[j - 1] : 0.0;
      xu += ax[static_cast<std::size_t>(k)] * du;
      xv += ax[static_cast<std::size_t>(k)] * dv;
      yu += ay[static_cast<std::size_t>(k)] * du;
      yv += ay[static_cast<std::size_t>(k)] * dv;
    }
  }
  return ccMatrix<2>(xu, xv, yu, yv) * pre.matrix();
}

cc2XformPoly::Polynomial cc2XformPoly::Polynomial::after(const ccXform<2>& left) const {
  Polynomial out = *this;
  const ccMatrix<2>& m = left.matrix();
  for (std::size_t k = 0; k < ax.size(); ++k) {
    out.ax[k] = m.element(0, 0) * ax[k] + m.element(0, 1) * ay[k];
    out.ay[k] = m.element(1, 0) * ax[k] + m.element(1, 1) * ay[k];
  }
  out.ax[0] += left.trans().x();
  out.ay[0] += left.trans().y();
  return out;
}

// ---------------------------------------------------------------------------------------
// cc2XformPoly

namespace {

// Least-squares polynomial of the given order taking from[i] to to[i]: pre, ax, ay.
void fitPolynomial(const std::vector<ccVector<2>>& to, const std::vector<ccVector<2>>& from,
                   int order, ccXform<2>& pre, std::vector<double>& ax, std::vector<double>& ay) {
  const int terms = numTerms(order);
  const int n = static_cast<int>(from.size());
  pre = normaliser(from);
  ccNMMatrix a(n, terms), b(n, 2);
  double pu[cc2XformPoly::kMaxOrder + 1], pv[cc2XformPoly::kMaxOrder + 1];
  for (int r = 0; r < n; ++r) {
    powers(pre.mapPoint(from[static_cast<std::size_t>(r)]), order, pu, pv);
    for (int d = 0, k = 0; d <= order; ++d)
      for (int j = 0; j <= d; ++j, ++k) a(r, k) = pu[d - j] * pv[j];
    b(r, 0) = to[static_cast<std::size_t>(r)].x();
    b(r, 1) = to[static_cast<std::size_t>(r)].y();
  }
  ccNMMatrix x;
  try {
    x = a.solveLeastSquares(b, cc2XformPoly::kRankTolerance);
  } catch (const ccMathError&) {
    throw ccMathError(L"The points do not determine a polynomial of order " +
                      std::to_wstring(order) + L" (rank deficient)");
  }
  ax.resize(static_cast<std::size_t>(terms));
  ay.resize(static_cast<std::size_t>(terms));
  for (int k = 0; k < terms; ++k) {
    ax[static_cast<std::size_t>(k)] = x(k, 0);
    ay[static_cast<std::size_t>(k)] = x(k, 1);
  }
}

// Sample points over the convex hull of `from`: the points themselves and a regular grid
// clipped to the hull.
std::vector<ccVector<2>> hullSamples(const std::vector<ccVector<2>>& from, int perSide) {
  std::vector<ccVector<2>> samples = from;
  std::vector<ccVector<2>> hull = cfConvexHull(from);
  ccRect box = ccPolyline(hull, true).boundingBox();
  const std::size_t h = hull.size();
  for (int i = 0; i < perSide; ++i) {
    for (int j = 0; j < perSide; ++j) {
      ccVector<2> p(box.x() + box.width() * (j + 0.5) / perSide,
                    box.y() + box.height() * (i + 0.5) / perSide);
      bool inside = h >= 3;
      for (std::size_t e = 0; e < h && inside; ++e) {
        inside = (hull[(e + 1) % h] - hull[e]).cross(p - hull[e]) >= 0.0;
      }
      if (inside) samples.push_back(p);
    }
  }
  return samples;
}

}  // namespace

cc2XformPoly::cc2XformPoly() {
  map_.ax = {0.0, 1.0, 0.0};
  map_.ay = {0.0, 0.0, 1.0};
  approx_ = map_;
}

cc2XformPoly::~cc2XformPoly() = default;

cc2XformPoly::cc2XformPoly(const std::vector<ccVector<2>>& toPoints,
                           const std::vector<ccVector<2>>& fromPoints, int order) {
  if (order < 1 || order > kMaxOrder) {
    throw ccBadArgument(L"A polynomial transform has order 1 to " + std::to_wstring(kMaxOrder) +
                        L", not " + std::to_wstring(order));
  }
  if (toPoints.size() != fromPoints.size()) {
    throw ccMathError(L"The point lists differ in size (" + std::to_wstring(toPoints.size()) +
                      L" to-points, " + std::to_wstring(fromPoints.size()) + L" from-points)");
  }
  const std::size_t terms = static_cast<std::size_t>(numTerms(order));
  if (fromPoints.size() < terms) {
    throw ccMathError(L"A polynomial transform of order " + std::to_wstring(order) +
                      L" needs at least " + std::to_wstring(terms) + L" point pairs, got " +
                      std::to_wstring(fromPoints.size()));
  }
  for (std::size_t i = 0; i < fromPoints.size(); ++i) {
    if (!isFinite(fromPoints[i]) || !isFinite(toPoints[i]))
      throw ccMathError(L"The point lists hold a non-finite point");
  }
  map_.order = order;
  fitPolynomial(toPoints, fromPoints, order, map_.pre, map_.ax, map_.ay);

  // Samples of the fitted map over the points' hull: check it does not fold there, then fit
  // the approximate inverse to them.
  std::vector<ccVector<2>> from = hullSamples(fromPoints, inverseSamplesPerSide(order)), to;
  to.reserve(from.size());
  std::vector<double> dets;
  dets.reserve(from.size());
  double maxDet = 0.0;
  for (const ccVector<2>& p : from) {
    to.push_back(map_.eval(p));
    dets.push_back(map_.jacobian(p).determinant());
    maxDet = std::max(maxDet, std::fabs(dets.back()));
  }
  const double sign = dets.front() > 0.0 ? 1.0 : -1.0;
  for (double d : dets) {
    if (!(sign * d > kFoldTolerance * maxDet)) {
      throw ccMathError(L"The fitted polynomial transform folds over within the points' extent");
    }
  }
  approx_.order = order;
  fitPolynomial(from, to, order, approx_.pre, approx_.ax, approx_.ay);
}

ccVector<2> cc2XformPoly::solve(const ccVector<2>& q) const {
  const ccMatrix<2>& scale = approx_.pre.matrix();  // to-frame normalisation
  ccVector<2> p = approx_.eval(q);
  ccVector<2> r = map_.eval(p) - q;
  double e = (scale * r).length();
  for (int it = 0; it < kMaxNewtonIterations && e > kNewtonConverged; ++it) {
    ccMatrix<2> j = map_.jacobian(p);
    if (j.isSingular()) break;
    ccVector<2> step = j.inverse() * r;
    bool improved = false;
    double t = 1.0;
    for (int h = 0; h < kMaxStepHalvings && !improved; ++h, t *= 0.5) {
      ccVector<2> pn = p - step * t;
      ccVector<2> rn = map_.eval(pn) - q;
      double en = (scale * rn).length();
      if (en < e) {
        p = pn;
        r = rn;
        e = en;
        improved = true;
      }
    }
    if (!improved) break;  // stalled at rounding level
  }
  if (!(e <= kNewtonAccept)) {
    throw ccMathError(
        L"The point lies outside the region where the polynomial transform can be inverted");
  }
  return p;
}

ccVector<2> cc2XformPoly::mapPoint(const ccVector<2>& p) const {
  return inverse_ ? solve(p) : map_.eval(p);
}

cc2XformBasePtrh cc2XformPoly::inverseBase() const {
  auto inv = std::make_shared<cc2XformPoly>(*this);
  inv->inverse_ = !inverse_;
  return inv;
}

cc2XformBasePtrh cc2XformPoly::clone() const {
  return std::make_shared<cc2XformPoly>(*this);
}

ccXform<2> cc2XformPoly::linearAt(const ccVector<2>& p) const {
  if (!inverse_) {
    ccMatrix<2> j = map_.jacobian(p);
    return ccXform<2>(j, map_.eval(p) - j * p);
  }
  ccVector<2> x = solve(p);
  ccMatrix<2> j = map_.jacobian(x);
  if (j.isSingular()) throw ccMathError(L"The polynomial transform is singular at this point");
  ccMatrix<2> ji = j.inverse();
  return ccXform<2>(ji, x - ji * p);
}

cc2XformBasePtrh cc2XformPoly::composedAfter(const ccXform<2>& left) const {
  if (left.isSingular())
    throw ccMathError(L"Composing with a singular transform gives no invertible map");
  const ccXform<2> leftInv = left.inverse();
  auto out = std::make_shared<cc2XformPoly>(*this);
  if (!inverse_) {
    out->map_ = map_.after(left);
    out->approx_.pre = approx_.pre * leftInv;
  } else {
    out->map_.pre = map_.pre * leftInv;
    out->approx_ = approx_.after(left);
  }
  return out;
}

namespace {

void exchangePolynomial(ccArchive& ar, int& order, ccXform<2>& pre, std::vector<double>& ax,
                        std::vector<double>& ay) {
  long o = order;
  ar || o;
  ar || pre;
  ar || ax;
  ar || ay;
  if (ar.isLoading()) {
    if (!validPolynomial(static_cast<int>(o), pre, ax, ay)) {
      throw ccArchive::BadData(L"The archive holds an invalid polynomial transform");
    }
    order = static_cast<int>(o);
  }
}

}  // namespace

void cc2XformPoly::dispatchSerialize(ccArchive& ar) {
  if (haveVisited(ar, this, sizeof(*this))) return;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw ccArchive::UnknownVersion("cc2XformPoly", version);
  ccPersistent::dispatchSerialize(ar);
  // Read into copies so that a failed read leaves the object as it was.
  bool inverse = inverse_;
  Polynomial map = map_, approx = approx_;
  ar || inverse;
  exchangePolynomial(ar, map.order, map.pre, map.ax, map.ay);
  exchangePolynomial(ar, approx.order, approx.pre, approx.ax, approx.ay);
  if (ar.isLoading()) {
    mutating();
    inverse_ = inverse;
    map_ = std::move(map);
    approx_ = std::move(approx);
  }
  setVisited(ar, this, sizeof(*this));
}

cc2XformPoly cf_2XformPolyConvert(const cc2DPolynomialMap& forward,
                                  const cc2DPolynomialMap& inverse) {
  cc2XformPoly x;
  x.map_.order = forward.order();
  x.map_.pre = ccXform<2>();
  x.map_.ax = forward.xCoefficients();
  x.map_.ay = forward.yCoefficients();
  x.approx_.order = inverse.order();
  x.approx_.pre = ccXform<2>();
  x.approx_.ax = inverse.xCoefficients();
  x.approx_.ay = inverse.yCoefficients();
  return x;
}
