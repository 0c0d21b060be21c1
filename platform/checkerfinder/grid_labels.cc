// SPDX-License-Identifier: Apache-2.0
// Label frames: the start-point convention and the plate's fiducial.
#include "platform/checkerfinder/grid_labels.h"

#include <array>
#include <cmath>
#include <limits>

namespace cclft_internal {
namespace {

// The fiducial on the plate, in squares: the anchor vertex, the cells whose centres lie on
// the light bars, and the dark strips beside the bars.
constexpr int kAnchor = -2;
constexpr double kBarAxis = -3.5;       // bar A along y = -3.5, bar B along x = -3.5
constexpr int kBarACells[2] = {-5, 1};  // cells i = -5 .. 1 lie under bar A
constexpr int kBarBCells[2] = {-3, 0};  // cells j = -3 .. 0 lie under bar B
constexpr double kStripOffset = 0.375;  // dark strips at the bar axis +- this
// Vertices used to fit the local homography: within this many squares of the anchor.
constexpr int kFitReach = 5;
constexpr int kMinFitPoints = 6;
// Bar samples allowed to fail the "lighter than mid grey" test.
constexpr int kMaxBarMisses = 1;
// The strips must be darker than the bars by this fraction of the board's contrast.
constexpr double kMinStripDrop = 0.25;

// Plate-to-image homography, h[8] = 1.
struct Homography {
  std::array<double, 9> h{};
  Vec map(double u, double v) const {
    const double w = h[6] * u + h[7] * v + h[8];
    return Vec((h[0] * u + h[1] * v + h[2]) / w, (h[3] * u + h[4] * v + h[5]) / w);
  }
};

// Least-squares homography from plate points to image points (at least 4, not collinear).
// Image points are taken relative to `centre` and divided by `scale` for conditioning.
bool fitHomography(const std::vector<Vec>& plate, const std::vector<Vec>& img, const Vec& centre,
                   double scale, Homography& out) {
  double a[8][9] = {};
  for (std::size_t k = 0; k < plate.size(); ++k) {
    const double u = plate[k].x(), v = plate[k].y();
    const double x = (img[k].x() - centre.x()) / scale, y = (img[k].y() - centre.y()) / scale;
    const double r1[9] = {u, v, 1, 0, 0, 0, -u * x, -v * x, x};
    const double r2[9] = {0, 0, 0, u, v, 1, -u * y, -v * y, y};
    for (int i = 0; i < 8; ++i) {
      for (int j = 0; j < 9; ++j) a[i][j] += r1[i] * r1[j] + r2[i] * r2[j];
    }
  }
  for (int c = 0; c < 8; ++c) {
    int piv = c;
    for (int r = c + 1; r < 8; ++r) {
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
    }
    if (std::fabs(a[piv][c]) < 1e-12) return false;
    if (piv != c) {
      for (int j = 0; j < 9; ++j) std::swap(a[c][j], a[piv][j]);
    }
    for (int r = 0; r < 8; ++r) {
      if (r == c) continue;
      const double f = a[r][c] / a[c][c];
      for (int j = c; j < 9; ++j) a[r][j] -= f * a[c][j];
    }
  }
  double h[9];
  for (int i = 0; i < 8; ++i) h[i] = a[i][8] / a[i][i];
  h[8] = 1.0;
  // Undo the conditioning: image = centre + scale * x.
  for (int j = 0; j < 3; ++j) {
    out.h[static_cast<std::size_t>(j)] = scale * h[j] + centre.x() * h[6 + j];
    out.h[static_cast<std::size_t>(3 + j)] = scale * h[3 + j] + centre.y() * h[6 + j];
    out.h[static_cast<std::size_t>(6 + j)] = h[6 + j];
  }
  return true;
}

// Mean grey at the plate points through h that fall inside the image; false when fewer
// than kMinInside of them do (a fiducial cut by the image border still counts).
constexpr double kMinInside = 0.6;
bool meanAt(const GrayView& image, const Homography& h, const std::vector<Vec>& pts, double& mean,
            std::vector<double>* values = nullptr) {
  double s = 0;
  int n = 0;
  for (const Vec& p : pts) {
    const Vec q = h.map(p.x(), p.y());
    if (!std::isfinite(q.x()) || !image.inside(q, 1.0)) continue;
    const double g = image.sample(q.x(), q.y());
    if (values) values->push_back(g);
    s += g;
    ++n;
  }
  if (n < kMinInside * static_cast<double>(pts.size()) || n == 0) return false;
  mean = s / n;
  return true;
}

// How clearly the fiducial shows through h (bars minus strips, grey levels), or -1.
double fiducialScore(const GrayView& image, const Homography& h, double minContrast) {
  static const std::vector<Vec> light = {{-1.5, -1.5}, {-0.5, -0.5}, {-1.5, 0.5}, {0.5, -1.5}};
  static const std::vector<Vec> dark = {{-0.5, -1.5}, {-1.5, -0.5}, {0.5, -0.5}, {-0.5, 0.5}};
  std::vector<Vec> bar, strip;
  for (int i = kBarACells[0]; i <= kBarACells[1]; ++i) {
    bar.emplace_back(i + 0.5, kBarAxis);
    strip.emplace_back(i + 0.5, kBarAxis - kStripOffset);
    strip.emplace_back(i + 0.5, kBarAxis + kStripOffset);
  }
  for (int j = kBarBCells[0]; j <= kBarBCells[1]; ++j) {
    bar.emplace_back(kBarAxis, j + 0.5);
    strip.emplace_back(kBarAxis - kStripOffset, j + 0.5);
    strip.emplace_back(kBarAxis + kStripOffset, j + 0.5);
  }
  double l, d, b, s;
  std::vector<double> barValues;
  if (!meanAt(image, h, light, l) || !meanAt(image, h, dark, d)) return -1;
  const double contrast = l - d;
  if (contrast < minContrast) return -1;
  if (!meanAt(image, h, bar, b, &barValues) || !meanAt(image, h, strip, s)) return -1;
  const double mid = 0.5 * (l + d);
  int misses = 0;
  for (double g : barValues) misses += g <= mid ? 1 : 0;
  if (misses > kMaxBarMisses) return -1;
  if (b - s < kMinStripDrop * contrast) return -1;
  return b - s;
}

}  // namespace

LabelMap cfStartPointLabels(const Grid& grid, const Vec& startPoint) {
  LabelMap map;
  const GridNode* origin = nullptr;
  double best = std::numeric_limits<double>::infinity();
  for (const GridNode& n : grid.nodes) {
    if (!n.alive) continue;
    const double d = (n.pos - startPoint).lengthSq();
    if (d < best) {
      best = d;
      origin = &n;
    }
  }
  if (origin == nullptr) return map;
  const Vec ai = cfGridAxis(grid, *origin, 0), aj = cfGridAxis(grid, *origin, 1);
  map.originI = origin->i;
  map.originJ = origin->j;
  if (std::fabs(ai.x()) > std::fabs(aj.x())) {
    const int sx = ai.x() < 0 ? -1 : 1, sy = aj.y() < 0 ? -1 : 1;
    map.m[0][0] = sx, map.m[0][1] = 0;
    map.m[1][0] = 0, map.m[1][1] = sy;
  } else {
    const int sx = aj.x() < 0 ? -1 : 1, sy = ai.y() < 0 ? -1 : 1;
    map.m[0][0] = 0, map.m[0][1] = sx;
    map.m[1][0] = sy, map.m[1][1] = 0;
  }
  return map;
}

bool cfFiducialLabels(const GrayView& image, const Grid& grid, double minContrast, LabelMap& map) {
  // The eight signed permutations from grid offsets to plate offsets.
  static const int kMaps[8][2][2] = {{{1, 0}, {0, 1}},   {{-1, 0}, {0, 1}}, {{1, 0}, {0, -1}},
                                     {{-1, 0}, {0, -1}}, {{0, 1}, {1, 0}},  {{0, -1}, {1, 0}},
                                     {{0, 1}, {-1, 0}},  {{0, -1}, {-1, 0}}};
  double bestScore = -1;
  std::vector<Vec> platePts, imagePts;
  for (const GridNode& a : grid.nodes) {
    if (!a.alive) continue;
    for (const auto& m : kMaps) {
      // Grid offsets of plate +x and +y: the rows of m (m is orthogonal).
      const int exi = m[0][0], exj = m[0][1], eyi = m[1][0], eyj = m[1][1];
      if (grid.find(a.i + exi, a.j + exj) < 0 || grid.find(a.i + eyi, a.j + eyj) < 0) continue;
      if (grid.find(a.i - exi, a.j - exj) >= 0 || grid.find(a.i - eyi, a.j - eyj) >= 0) continue;
      const Vec dx = a.step[0] * exi + a.step[1] * exj;
      const Vec dy = a.step[0] * eyi + a.step[1] * eyj;
      if (dx.cross(dy) <= 0) continue;  // a mirrored plate
      platePts.clear();
      imagePts.clear();
      for (const GridNode& n : grid.nodes) {
        if (!n.alive) continue;
        const int di = n.i - a.i, dj = n.j - a.j;
        const int px = m[0][0] * di + m[0][1] * dj, py = m[1][0] * di + m[1][1] * dj;
        if (std::abs(px) > kFitReach || std::abs(py) > kFitReach) continue;
        platePts.emplace_back(px + kAnchor, py + kAnchor);
        imagePts.push_back(n.pos);
      }
      if (static_cast<int>(platePts.size()) < kMinFitPoints) continue;
      Homography h;
      if (!fitHomography(platePts, imagePts, a.pos, std::max(dx.length(), 1.0), h)) continue;
      const double score = fiducialScore(image, h, minContrast);
      if (score > bestScore) {
        bestScore = score;
        map.originI = a.i;
        map.originJ = a.j;
        for (int r = 0; r < 2; ++r) {
          for (int c = 0; c < 2; ++c) map.m[r][c] = m[r][c];
        }
        map.shiftX = kAnchor;
        map.shiftY = kAnchor;
      }
    }
  }
  return bestScore >= 0;
}

}  // namespace cclft_internal
