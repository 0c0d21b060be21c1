// SPDX-License-Identifier: Apache-2.0
// Gradient-orthogonality refinement of checker vertices, on integer pixels of a locally
// smoothed image: the weighted sums over the pixel grid equal their continuous integrals
// for images this smooth, so the estimate has no sub-pixel phase bias (bilinear
// resampling would add a few hundredths of a pixel of it).
#include "platform/checkerfinder/vertex_refine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace cclft_internal {
namespace {

constexpr int kMaxIterations = 10;
// Iteration stops when q moves less than this, pixels.
constexpr double kConvergedShift = 1e-3;
// A system whose smaller eigenvalue is below this fraction of the larger one has gradients
// of essentially one direction: an edge, not a junction.
constexpr double kMinEigenRatio = 0.02;
// Gaussian smoothing before the gradients, standard deviation in pixels, and its reach.
constexpr double kSmoothSigma = 1.2;
constexpr int kSmoothReach = 4;
// The smoothing correlates the gradient noise of neighbouring pixels, which the per-pixel
// propagation below ignores; this factor on the variance makes the predicted scatter match
// the measured one on rendered boards (noise 1 to 4 grey levels, blur 0.7 to 2 px).
constexpr double kCorrelatedNoiseFactor = 12.0;
// The window's weight reaches zero at this multiple of the radius (plus half a pixel).
constexpr double kWindowReachPerRadius = 1.3;
// The patch reaches this many pixels beyond the window and is rebuilt only when q has moved
// farther than that from where it was built.
constexpr int kPatchSlack = 2;
// Least noise variance assumed, grey levels squared: the 8-bit rounding.
constexpr double kQuantisationVariance = 1.0 / 12.0;

std::vector<double> makeKernel() {
  std::vector<double> k(2 * kSmoothReach + 1);
  double s = 0;
  for (int i = -kSmoothReach; i <= kSmoothReach; ++i) {
    k[static_cast<std::size_t>(i + kSmoothReach)] =
        std::exp(-i * i / (2 * kSmoothSigma * kSmoothSigma));
    s += k[static_cast<std::size_t>(i + kSmoothReach)];
  }
  for (double& v : k) v /= s;
  return k;
}

const std::vector<double>& kernel() {
  static const std::vector<double> k = makeKernel();
  return k;
}

// Variance of a smoothed central-difference gradient component per unit pixel variance.
double gradientNoiseGain() {
  const std::vector<double>& k = kernel();
  const int n = static_cast<int>(k.size());
  double sd = 0, ss = 0;
  for (int i = -1; i <= n; ++i) {
    const double a = (i + 1 < n && i + 1 >= 0 ? k[static_cast<std::size_t>(i + 1)] : 0.0);
    const double b = (i - 1 >= 0 && i - 1 < n ? k[static_cast<std::size_t>(i - 1)] : 0.0);
    sd += 0.25 * (a - b) * (a - b);
  }
  for (double v : k) ss += v * v;
  return sd * ss;
}

// The smoothed image and its gradients on the integer pixels of a square around a point.
class GradientPatch {
 public:
  // Covers pixels within `half` of floor(centre); false when that leaves the image.
  bool build(const GrayView& image, const Vec& centre, int half) {
    centre_ = centre;
    x0_ = static_cast<int>(std::floor(centre.x())) - half;
    y0_ = static_cast<int>(std::floor(centre.y())) - half;
    n_ = 2 * half + 2;
    const int m = n_ + 2;  // smoothed values, one more on each side for the differences
    const int ex0 = x0_ - 1 - kSmoothReach, ey0 = y0_ - 1 - kSmoothReach, en = m + 2 * kSmoothReach;
    if (ex0 < 0 || ey0 < 0 || ex0 + en > image.width || ey0 + en > image.height) return false;
    const std::vector<double>& k = kernel();
    tmp_.resize(static_cast<std::size_t>(en) * m);
    for (int y = 0; y < en; ++y) {
      const std::uint8_t* row =
          image.data + static_cast<std::ptrdiff_t>(ey0 + y) * image.stride + (x0_ - 1);
      double* t = tmp_.data() + static_cast<std::size_t>(y) * m;
      for (int x = 0; x < m; ++x) {
        double a = 0;
        for (int i = -kSmoothReach; i <= kSmoothReach; ++i)
          a += k[static_cast<std::size_t>(i + kSmoothReach)] * row[x + i];
        t[x] = a;
      }
    }
    smooth_.resize(static_cast<std::size_t>(m) * m);
    for (int y = 0; y < m; ++y) {
      double* o = smooth_.data() + static_cast<std::size_t>(y) * m;
      for (int x = 0; x < m; ++x) o[x] = 0.0;
      for (int i = -kSmoothReach; i <= kSmoothReach; ++i) {
        const double w = k[static_cast<std::size_t>(i + kSmoothReach)];
        const double* t = tmp_.data() + static_cast<std::size_t>(y + kSmoothReach + i) * m;
        for (int x = 0; x < m; ++x) o[x] += w * t[x];
      }
    }
    gx_.resize(static_cast<std::size_t>(n_) * n_);
    gy_.resize(static_cast<std::size_t>(n_) * n_);
    for (int y = 0; y < n_; ++y) {
      const double* s = smooth_.data() + static_cast<std::size_t>(y + 1) * m + 1;
      for (int x = 0; x < n_; ++x) {
        gx_[static_cast<std::size_t>(y) * n_ + x] = 0.5 * (s[x + 1] - s[x - 1]);
        gy_[static_cast<std::size_t>(y) * n_ + x] = 0.5 * (s[x + m] - s[x - m]);
      }
    }
    return true;
  }
  // The point the patch was built around.
  const Vec& centre() const { return centre_; }
  int x0() const { return x0_; }
  int y0() const { return y0_; }
  int size() const { return n_; }
  double gx(int x, int y) const { return gx_[static_cast<std::size_t>(y) * n_ + x]; }
  double gy(int x, int y) const { return gy_[static_cast<std::size_t>(y) * n_ + x]; }
  // Bilinear value of the smoothed image at an image position inside the patch.
  double smoothAt(double px, double py) const {
    const int m = n_ + 2;
    const double fx = px - (x0_ - 1), fy = py - (y0_ - 1);
    const int ix = std::min(std::max(static_cast<int>(fx), 0), m - 2);
    const int iy = std::min(std::max(static_cast<int>(fy), 0), m - 2);
    const double ax = fx - ix, ay = fy - iy;
    const double* r0 = smooth_.data() + static_cast<std::size_t>(iy) * m + ix;
    const double* r1 = r0 + m;
    return (1 - ay) * ((1 - ax) * r0[0] + ax * r0[1]) + ay * ((1 - ax) * r1[0] + ax * r1[1]);
  }

 private:
  Vec centre_;
  int x0_ = 0, y0_ = 0, n_ = 0;
  std::vector<double> tmp_, smooth_, gx_, gy_;
};

// The weight of a window of the given radius reaches zero at this distance, pixels.
double windowReach(int radius) {
  return kWindowReachPerRadius * radius + 0.5;
}

// Weight of a pixel at squared relative distance r2 = |p - q|^2 / rw^2 (zero from 1 on):
// smooth, so that the sums over the pixel grid follow q continuously.
double windowWeight(double r2) {
  if (r2 >= 1.0) return 0.0;
  const double a = (1 - r2) * (1 - r2);
  return a * a;
}

// The normal equations of the fit at q, with the lighting's own gradient removed: that is
// the weighted mean gradient c of the window (the checker part of the gradient is odd about
// a vertex and averages out; a ramp or vignetting would otherwise pull q towards the
// brighter side). With g' = g - c and d = p - q: A = sum w g' g'^T, b = sum w g' g'^T d,
// both from raw moments of one pass.
struct NormalEquations {
  double a11 = 0, a12 = 0, a22 = 0, b1 = 0, b2 = 0;
  Vec lighting;
};

NormalEquations normalEquations(const GradientPatch& patch, const Vec& q, double rw) {
  double sw = 0, sgx = 0, sgy = 0, gxx = 0, gxy = 0, gyy = 0, bx = 0, by = 0;
  double mxx = 0, mxy = 0, myx = 0, myy = 0, sdx = 0, sdy = 0;  // m_ab = sum w g_a d_b
  const double inv = 1.0 / (rw * rw);
  const int lo = std::max(0, static_cast<int>(std::floor(q.y() - rw)) - patch.y0());
  const int hi = std::min(patch.size() - 1, static_cast<int>(std::ceil(q.y() + rw)) - patch.y0());
  for (int y = lo; y <= hi; ++y) {
    const double dy = patch.y0() + y - q.y();
    for (int x = 0; x < patch.size(); ++x) {
      const double dx = patch.x0() + x - q.x();
      const double w = windowWeight((dx * dx + dy * dy) * inv);
      if (w == 0.0) continue;
      const double gx = patch.gx(x, y), gy = patch.gy(x, y);
      sw += w;
      sgx += w * gx;
      sgy += w * gy;
      const double wxx = w * gx * gx, wxy = w * gx * gy, wyy = w * gy * gy;
      gxx += wxx;
      gxy += wxy;
      gyy += wyy;
      bx += wxx * dx + wxy * dy;
      by += wxy * dx + wyy * dy;
      mxx += w * gx * dx;
      mxy += w * gx * dy;
      myx += w * gy * dx;
      myy += w * gy * dy;
      sdx += w * dx;
      sdy += w * dy;
    }
  }
  NormalEquations e;
  if (!(sw > 0)) return e;
  const double cx = sgx / sw, cy = sgy / sw;
  e.lighting = Vec(cx, cy);
  e.a11 = gxx - sgx * cx;
  e.a12 = gxy - sgx * cy;
  e.a22 = gyy - sgy * cy;
  const double trace = mxx + myy, cd = cx * sdx + cy * sdy;
  e.b1 = bx - (mxx * cx + mxy * cy) - cx * trace + cx * cd;
  e.b2 = by - (myx * cx + myy * cy) - cy * trace + cy * cd;
  return e;
}

}  // namespace

double cfImageNoiseVariance(const GrayView& image) {
  // Every kNoiseRowStep-th row: d = I(x) - (I(x - 1) + I(x + 1)) / 2 has variance 1.5 s^2
  // for white noise of variance s^2; the median of |d| ignores the edges.
  constexpr int kNoiseRowStep = 8;
  std::vector<int> hist(512, 0);
  long count = 0;
  for (int y = 1; y + 1 < image.height; y += kNoiseRowStep) {
    const std::uint8_t* r = image.data + static_cast<std::ptrdiff_t>(y) * image.stride;
    for (int x = 1; x + 1 < image.width; ++x) {
      const int d2 = std::abs(2 * r[x] - r[x - 1] - r[x + 1]);  // 2 |d|
      ++hist[static_cast<std::size_t>(d2)];
      ++count;
    }
  }
  if (count == 0) return kQuantisationVariance;
  long seen = 0;
  int median = 0;
  while (median < 511 && seen + hist[static_cast<std::size_t>(median)] <= count / 2)
    seen += hist[static_cast<std::size_t>(median++)];
  const double sigma = 1.4826 * (0.5 * median) / std::sqrt(1.5);
  return std::max(kQuantisationVariance, sigma * sigma);
}

double cfMaxRefineRadius(double reach) {
  // The patch reaches windowReach + 2 + kPatchSlack pixels, plus the differences' and the
  // smoothing's reach, from where it is built; one pixel more for the rounding.
  return (reach - 0.5 - 2 - kPatchSlack - 2 - kSmoothReach - 1) / kWindowReachPerRadius;
}

RefinedVertex cfRefineVertex(const GrayView& image, const Vec& start, int radius,
                             double noiseVariance) {
  RefinedVertex out;
  const double rw = windowReach(radius);
  const int half = static_cast<int>(rw) + 2 + kPatchSlack;
  thread_local GradientPatch patch;
  Vec q = start;
  if (!patch.build(image, q, half)) return out;
  for (int iter = 0; iter < kMaxIterations; ++iter) {
    if (std::fabs(q.x() - patch.centre().x()) > kPatchSlack - 0.5 ||
        std::fabs(q.y() - patch.centre().y()) > kPatchSlack - 0.5) {
      if (!patch.build(image, q, half)) return out;
    }
    const NormalEquations e = normalEquations(patch, q, rw);
    const double det = e.a11 * e.a22 - e.a12 * e.a12;
    const double tr = e.a11 + e.a22;
    const double disc = std::sqrt(std::max(0.0, 0.25 * tr * tr - det));
    const double lmin = 0.5 * tr - disc, lmax = 0.5 * tr + disc;
    if (!(lmax > 0) || lmin < kMinEigenRatio * lmax) return out;
    const Vec shift((e.a22 * e.b1 - e.a12 * e.b2) / det, (e.a11 * e.b2 - e.a12 * e.b1) / det);
    q += shift;
    if (q.distance(start) > radius) return out;
    if (shift.length() < kConvergedShift) break;
  }
  if (std::fabs(q.x() - patch.centre().x()) > kPatchSlack - 0.5 ||
      std::fabs(q.y() - patch.centre().y()) > kPatchSlack - 0.5) {
    if (!patch.build(image, q, half)) return out;
  }
  // Covariance: noise in each gradient (variance sg2 per component) perturbs equation
  // g . d = 0 by a variance sg2 |d|^2, so C = sg2 A^-1 (sum w^2 |d|^2 g g^T) A^-1.
  const NormalEquations e = normalEquations(patch, q, rw);
  const double a11 = e.a11, a12 = e.a12, a22 = e.a22;
  double s11 = 0, s12 = 0, s22 = 0;
  for (int y = 0; y < patch.size(); ++y) {
    const double dy = patch.y0() + y - q.y();
    for (int x = 0; x < patch.size(); ++x) {
      const double dx = patch.x0() + x - q.x();
      const double w = windowWeight((dx * dx + dy * dy) / (rw * rw));
      if (w == 0.0) continue;
      const double gx = patch.gx(x, y) - e.lighting.x(), gy = patch.gy(x, y) - e.lighting.y();
      const double wd = w * w * (dx * dx + dy * dy);
      s11 += wd * gx * gx;
      s12 += wd * gx * gy;
      s22 += wd * gy * gy;
    }
  }
  const double det = a11 * a22 - a12 * a12;
  if (!(det > 0)) return out;
  static const double kGain = gradientNoiseGain();
  const double sg2 = kCorrelatedNoiseFactor * kGain * noiseVariance;
  const double i11 = a22 / det, i12 = -a12 / det, i22 = a11 / det;
  const double t11 = i11 * s11 + i12 * s12, t12 = i11 * s12 + i12 * s22;
  const double t21 = i12 * s11 + i22 * s12, t22 = i12 * s12 + i22 * s22;
  out.covXX = sg2 * (t11 * i11 + t12 * i12);
  out.covXY = sg2 * (t11 * i12 + t12 * i22);
  out.covYY = sg2 * (t21 * i12 + t22 * i22);
  // Point symmetry of the window about q.
  double num = 0, den = 0, mean = 0, sw = 0;
  const int reach = static_cast<int>(rw);
  for (int dy = -reach; dy <= reach; ++dy) {
    for (int dx = -reach; dx <= reach; ++dx) {
      const double w = windowWeight((dx * dx + dy * dy) / (rw * rw));
      if (w == 0.0) continue;
      const double a = patch.smoothAt(q.x() + dx, q.y() + dy),
                   b = patch.smoothAt(q.x() - dx, q.y() - dy);
      num += w * (a - b) * (a - b);
      mean += w * a;
      den += w * a * a;
      sw += w;
    }
  }
  mean /= sw;
  const double var = den / sw - mean * mean;
  out.asymmetry = var > 0 ? 0.5 * (num / sw) / var : 1.0;
  out.pos = q;
  out.ok = true;
  return out;
}

}  // namespace cclft_internal
