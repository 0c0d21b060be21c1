// SPDX-License-Identifier: Apache-2.0
// Homography fit, area scale and the imaged centre of a circle.
#include "cal/calib/plane_homography.h"

#include <cmath>
#include <cstddef>
#include <utility>

namespace {

// Solves the n x n system m x = b in place by Gaussian elimination with partial pivoting.
// False when m is singular to working precision.
bool solveInPlace(std::vector<double>& m, std::vector<double>& b, int n) {
  for (int c = 0; c < n; ++c) {
    int pivot = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(m[static_cast<std::size_t>(r * n + c)]) >
          std::fabs(m[static_cast<std::size_t>(pivot * n + c)]))
        pivot = r;
    if (!(std::fabs(m[static_cast<std::size_t>(pivot * n + c)]) > 1e-12)) return false;
    if (pivot != c) {
      for (int k = 0; k < n; ++k)
        std::swap(m[static_cast<std::size_t>(c * n + k)],
                  m[static_cast<std::size_t>(pivot * n + k)]);
      std::swap(b[static_cast<std::size_t>(c)], b[static_cast<std::size_t>(pivot)]);
    }
    for (int r = c + 1; r < n; ++r) {
      const double f =
          m[static_cast<std::size_t>(r * n + c)] / m[static_cast<std::size_t>(c * n + c)];
      for (int k = c; k < n; ++k)
        m[static_cast<std::size_t>(r * n + k)] -= f * m[static_cast<std::size_t>(c * n + k)];
      b[static_cast<std::size_t>(r)] -= f * b[static_cast<std::size_t>(c)];
    }
  }
  for (int c = n - 1; c >= 0; --c) {
    double v = b[static_cast<std::size_t>(c)];
    for (int k = c + 1; k < n; ++k)
      v -= m[static_cast<std::size_t>(c * n + k)] * b[static_cast<std::size_t>(k)];
    b[static_cast<std::size_t>(c)] = v / m[static_cast<std::size_t>(c * n + c)];
  }
  return true;
}

}  // namespace

double ccPlaneHomography::areaScale(const ccVector<2>& p) const {
  const ccVector<2> q = map(p);
  const double w = h[6] * p.x() + h[7] * p.y() + h[8];
  const double j00 = (h[0] - q.x() * h[6]) / w, j01 = (h[1] - q.x() * h[7]) / w;
  const double j10 = (h[3] - q.y() * h[6]) / w, j11 = (h[4] - q.y() * h[7]) / w;
  return std::fabs(j00 * j11 - j01 * j10);
}

bool cfFitPlaneHomography(const std::vector<ccVector<2>>& plane,
                          const std::vector<ccVector<2>>& image, ccPlaneHomography& out) {
  const std::size_t n = plane.size();
  if (n < 4) return false;
  auto normaliser = [n](const std::vector<ccVector<2>>& pts, ccVector<2>& mean, double& scale) {
    mean = ccVector<2>();
    for (const ccVector<2>& p : pts) mean += p;
    mean /= static_cast<double>(n);
    double spread = 0.0;
    for (const ccVector<2>& p : pts) spread += (p - mean).length();
    scale = spread > 0.0 ? static_cast<double>(n) / spread : 1.0;
  };
  ccVector<2> mp, mi;
  double sp = 1.0, si = 1.0;
  normaliser(plane, mp, sp);
  normaliser(image, mi, si);
  constexpr int kUnknowns = 8;
  std::vector<double> ata(kUnknowns * kUnknowns, 0.0), atb(kUnknowns, 0.0);
  for (std::size_t k = 0; k < n; ++k) {
    const ccVector<2> p = (plane[k] - mp) * sp, q = (image[k] - mi) * si;
    const double rows[2][kUnknowns] = {
        {p.x(), p.y(), 1.0, 0.0, 0.0, 0.0, -q.x() * p.x(), -q.x() * p.y()},
        {0.0, 0.0, 0.0, p.x(), p.y(), 1.0, -q.y() * p.x(), -q.y() * p.y()}};
    const double rhs[2] = {q.x(), q.y()};
    for (int e = 0; e < 2; ++e) {
      for (int r = 0; r < kUnknowns; ++r) {
        atb[static_cast<std::size_t>(r)] += rows[e][r] * rhs[e];
        for (int c = 0; c < kUnknowns; ++c)
          ata[static_cast<std::size_t>(r * kUnknowns + c)] += rows[e][r] * rows[e][c];
      }
    }
  }
  if (!solveInPlace(ata, atb, kUnknowns)) return false;
  const double hn[9] = {atb[0], atb[1], atb[2], atb[3], atb[4], atb[5], atb[6], atb[7], 1.0};
  // H = inverse(Ti) * Hn * Tp, with Tp: p -> (p - mp) sp and Ti likewise.
  const double tp[9] = {sp, 0, -sp * mp.x(), 0, sp, -sp * mp.y(), 0, 0, 1};
  const double ti[9] = {1.0 / si, 0, mi.x(), 0, 1.0 / si, mi.y(), 0, 0, 1};
  double t[9];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      t[r * 3 + c] = 0.0;
      for (int k = 0; k < 3; ++k) t[r * 3 + c] += hn[r * 3 + k] * tp[k * 3 + c];
    }
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      out.h[r * 3 + c] = 0.0;
      for (int k = 0; k < 3; ++k) out.h[r * 3 + c] += ti[r * 3 + k] * t[k * 3 + c];
    }
  return true;
}

ccVector<2> cfImagedCircleCentre(const ccPlaneHomography& h, const ccVector<2>& centre,
                                 double radius) {
  // G = H T, with T the shift to the circle's centre; the pole is G (-r^2 g6, -r^2 g7, g8)^T.
  const double* m = h.h;
  const double g6 = m[6], g7 = m[7], g8 = m[6] * centre.x() + m[7] * centre.y() + m[8];
  const double r2 = radius * radius;
  const double u = -r2 * g6, v = -r2 * g7, w = g8;
  // T (u, v, w) = (u + cx w, v + cy w, w).
  return h.map(u + centre.x() * w, v + centre.y() * w, w);
}
