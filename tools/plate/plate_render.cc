// SPDX-License-Identifier: Apache-2.0
// Plate renderer: exact plate layouts, the plate-to-image camera, and the supersampling
// renderer with blur, lighting and noise. Standard library only.
//
// Rendering maps every sample point of every pixel back to the plate (undistort, inverse
// homography) and asks the layout whether the point is ink, so edges are exact up to the
// supersampling. Truth positions go the other way, through the forward camera map.
#include "tools/plate/plate_render.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace {

// Dot radius, plate units (diameter 0.5 pitch).
constexpr double kDotRadius = 0.25;
// Marker bars: half width, start and end along the axis, measured from the cell centre.
constexpr double kBarHalfWidth = 0.0625;
constexpr double kBarStart = 0.15;
constexpr double kBarEnd = 1.35;
// Plain ground printed beyond the outermost dot centres, plate units.
constexpr double kDotPaperBorder = 1.5;
// Light paper printed beyond the checker margin, squares.
constexpr double kCheckerPaperBorder = 0.5;
// Checker fiducial, plate units: the dark bands and the light bars painted on them.
constexpr double kBandA[4] = {-5.0, -4.0, 2.0, -3.0};  // x0, y0, x1, y1
constexpr double kBandB[4] = {-4.0, -3.0, -3.0, 1.0};
constexpr double kBarA[4] = {-4.75, -3.75, 1.75, -3.25};
constexpr double kBarB[4] = {-3.75, -3.0, -3.25, 0.75};
// Cells the field must cover for the fiducial to have squares on every side: [-6, 3) x [-6, 2).
constexpr long kFiducialCellMin[2] = {-6, -6};
constexpr long kFiducialCellEnd[2] = {3, 2};
// Where the fiducial bar axes cross, and the two anchor vertices.
constexpr double kFiducialPoint = -3.5;
constexpr long kAnchor[2] = {-2, -2};
constexpr long kSecondAnchor[2] = {-2, -5};

// Camera builder limits: largest fill fraction, largest tilt (degrees; the plate turns
// edge-on at 90), largest field of view (degrees).
constexpr double kMaxFill = 10.0;
constexpr double kMaxTiltDeg = 80.0;
constexpr double kMaxFieldOfViewDeg = 150.0;
// Widest checker margin, squares.
constexpr double kMaxMargin = 1000.0;

// Renderer limits.
constexpr long kMaxImagePixels = 1L << 28;
constexpr int kMaxSupersample = 32;
constexpr double kMaxBlurSigma = 100.0;  // pixels
// Points of each dot's rim mapped to test that the whole dot lies inside the image.
constexpr int kDotRimPoints = 16;
// Newton iterations and tolerance (normalised radius) when undistorting.
constexpr int kUndistortIterations = 50;
constexpr double kUndistortTolerance = 1e-14;
// Step of the fold check of the distortion (relative to the radius, at least this much of
// the normalised radius), and the smallest slope of the radial map accepted in the image.
constexpr double kFoldCheckStep = 1e-3;
constexpr double kMinRadialSlope = 1e-3;

using Homography = ccPlateCamera::Homography;

bool allFinite(const Homography& h) {
  return std::all_of(h.begin(), h.end(), [](double v) { return std::isfinite(v); });
}

double determinant(const Homography& h) {
  return h[0] * (h[4] * h[8] - h[5] * h[7]) - h[1] * (h[3] * h[8] - h[5] * h[6]) +
         h[2] * (h[3] * h[7] - h[4] * h[6]);
}

Homography inverse(const Homography& h) {
  const double d = determinant(h);
  return {(h[4] * h[8] - h[5] * h[7]) / d, (h[2] * h[7] - h[1] * h[8]) / d,
          (h[1] * h[5] - h[2] * h[4]) / d, (h[5] * h[6] - h[3] * h[8]) / d,
          (h[0] * h[8] - h[2] * h[6]) / d, (h[2] * h[3] - h[0] * h[5]) / d,
          (h[3] * h[7] - h[4] * h[6]) / d, (h[1] * h[6] - h[0] * h[7]) / d,
          (h[0] * h[4] - h[1] * h[3]) / d};
}

Homography multiply(const Homography& a, const Homography& b) {
  Homography c{};
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k)
      c[3 * r + k] = a[3 * r] * b[k] + a[3 * r + 1] * b[3 + k] + a[3 * r + 2] * b[6 + k];
  return c;
}

// Radial factor 1 + k1 r^2 + k2 r^4 for squared normalised radius r2.
double radialFactor(double r2, double k1, double k2) {
  return 1.0 + r2 * (k1 + k2 * r2);
}

// Solves ru (1 + k1 ru^2 + k2 ru^4) = rd for ru by Newton's method from `guess`. Returns
// false when the slope vanishes or the iteration does not settle.
bool undistortRadius(double rd, double k1, double k2, double guess, double& ru) {
  ru = guess;
  for (int it = 0; it < kUndistortIterations; ++it) {
    const double r2 = ru * ru;
    const double f = ru * radialFactor(r2, k1, k2) - rd;
    const double slope = 1.0 + r2 * (3.0 * k1 + 5.0 * k2 * r2);
    if (!(slope > 0.0)) return false;
    const double step = f / slope;
    ru -= step;
    if (std::fabs(step) <= kUndistortTolerance * std::max(1.0, ru)) return ru >= 0.0;
  }
  return false;
}

// The camera with its sign fixed for one image: the homography is scaled so that plate
// points in front of the camera have a positive homogeneous scale, which tells pixels that
// see the plate from those beyond its horizon.
class Projector {
 public:
  Projector(const ccPlateCamera& camera, long width, long height)
      : h_(camera.homography()),
        hi_(inverse(camera.homography())),
        distorted_(camera.hasDistortion()),
        centre_(camera.distortionCentre()),
        radius_(camera.distortionRadius()),
        k1_(camera.k1()),
        k2_(camera.k2()) {
    const ccVector<2> c = undistortOrCentre(ccVector<2>(0.5 * (width - 1), 0.5 * (height - 1)));
    if (hi_[6] * c.x() + hi_[7] * c.y() + hi_[8] < 0.0) {
      for (double& v : h_) v = -v;
      for (double& v : hi_) v = -v;
    }
  }

  // Image position of a plate point; false when the point is on or beyond the horizon.
  bool toImage(const ccVector<2>& p, ccVector<2>& out) const {
    const double w = h_[6] * p.x() + h_[7] * p.y() + h_[8];
    if (!(w > 0.0)) return false;
    ccVector<2> q((h_[0] * p.x() + h_[1] * p.y() + h_[2]) / w,
                  (h_[3] * p.x() + h_[4] * p.y() + h_[5]) / w);
    if (distorted_) {
      const ccVector<2> d = q - centre_;
      q = centre_ + d * radialFactor(d.lengthSq() / (radius_ * radius_), k1_, k2_);
    }
    out = q;
    return true;
  }

  bool distorted() const { return distorted_; }

  // Undistorted position (ux, uy) of image position (x, y) and the Jacobian j (row-major
  // 2 x 2) of the undistortion there. `ratio` carries the last ratio ru / rd between calls
  // as Newton's start. False when the distortion cannot be inverted there.
  bool undistortLocal(double x, double y, double& ratio, double& ux, double& uy,
                      double (&j)[4]) const {
    const double dx = x - centre_.x(), dy = y - centre_.y();
    const double dd = std::sqrt(dx * dx + dy * dy);
    const double rd = dd / radius_;
    double s = 1.0, sPrimeOverD;  // s = ru / rd; sPrimeOverD = (ds / drd) / (R |d|)
    if (rd > 0.0) {
      double ru;
      if (!undistortRadius(rd, k1_, k2_, rd * ratio, ru)) return false;
      s = ratio = ru / rd;
      const double ru2 = ru * ru;
      const double druDrd = 1.0 / (1.0 + ru2 * (3.0 * k1_ + 5.0 * k2_ * ru2));
      sPrimeOverD = (druDrd * rd - ru) / (rd * rd) / (radius_ * dd);
    } else {
      sPrimeOverD = -2.0 * k1_ / (radius_ * radius_);  // limit of the above at the centre
    }
    ux = centre_.x() + dx * s;
    uy = centre_.y() + dy * s;
    j[0] = s + sPrimeOverD * dx * dx;
    j[1] = j[2] = sPrimeOverD * dx * dy;
    j[3] = s + sPrimeOverD * dy * dy;
    return true;
  }

  // Plate point on the ray of undistorted image position (x, y); false beyond the horizon.
  bool planeToPlate(double x, double y, double& u, double& v) const {
    const double s = hi_[6] * x + hi_[7] * y + hi_[8];
    if (!(s > 0.0)) return false;
    u = (hi_[0] * x + hi_[1] * y + hi_[2]) / s;
    v = (hi_[3] * x + hi_[4] * y + hi_[5]) / s;
    return true;
  }

  // Throws ccBadArgument when the radial map folds over (stops growing) before reaching the
  // farthest image corner.
  void checkNoFold(long width, long height) const {
    if (!distorted_) return;
    double rdMax = 0.0;
    for (double x : {-0.5, width - 0.5})
      for (double y : {-0.5, height - 0.5})
        rdMax = std::max(rdMax, ccVector<2>(x, y).distance(centre_) / radius_);
    for (double ru = 0.0;; ru += kFoldCheckStep * std::max(1.0, ru)) {
      const double r2 = ru * ru;
      if (1.0 + r2 * (3.0 * k1_ + 5.0 * k2_ * r2) < kMinRadialSlope) {
        throw ccBadArgument(L"The lens distortion folds over inside the image (k1, k2 too strong)");
      }
      if (ru * radialFactor(r2, k1_, k2_) >= rdMax) return;
    }
  }

 private:
  ccVector<2> undistortOrCentre(const ccVector<2>& p) const {
    if (!distorted_) return p;
    const ccVector<2> d = p - centre_;
    const double rd = d.length() / radius_;
    double ru;
    if (rd == 0.0 || !undistortRadius(rd, k1_, k2_, rd, ru)) return p;
    return centre_ + d * (ru / rd);
  }

  Homography h_, hi_;
  bool distorted_;
  ccVector<2> centre_;
  double radius_, k1_, k2_;
};

// ---------------------------------------------------------------------------------------
// Layouts as fast inside tests.

// Layouts answer two questions: is a plate point ink, and how far is it at least from the
// nearest edge between ink and ground (its clearance). Pixels whose whole footprint fits
// inside the clearance are uniform and need no supersampling.

struct Box {
  double x0, y0, x1, y1;
  bool contains(double u, double v) const { return u >= x0 && u < x1 && v >= y0 && v < y1; }
  ccRect rect() const { return ccRect(x0, y0, x1 - x0, y1 - y0); }
  // Distance from (u, v) to the box's outline.
  double edgeDistance(double u, double v) const {
    if (contains(u, v)) return std::min(std::min(u - x0, x1 - u), std::min(v - y0, y1 - v));
    const double dx = std::max(std::max(x0 - u, u - x1), 0.0),
                 dy = std::max(std::max(y0 - v, v - y1), 0.0);
    return std::sqrt(dx * dx + dy * dy);
  }
};

Box box(const double (&b)[4]) {
  return Box{b[0], b[1], b[2], b[3]};
}

class DotInk {
 public:
  explicit DotInk(const ccDotPlate& plate)
      : cols_(static_cast<double>(plate.cols)),
        rows_(static_cast<double>(plate.rows)),
        marker_(plate.marker) {
    const double cx = plate.markerCell.x() + 0.5, cy = plate.markerCell.y() + 0.5;
    bar1_ = Box{cx + kBarStart, cy - kBarHalfWidth, cx + kBarEnd, cy + kBarHalfWidth};
    bar2_ = Box{cx - kBarHalfWidth, cy + kBarStart, cx + kBarHalfWidth, cy + kBarEnd};
  }

  bool operator()(double u, double v) const {
    const double i = std::floor(u + 0.5), j = std::floor(v + 0.5);
    if (i >= 0.0 && i < cols_ && j >= 0.0 && j < rows_) {
      const double du = u - i, dv = v - j;
      if (du * du + dv * dv < kDotRadius * kDotRadius) return true;
    }
    return marker_ && (bar1_.contains(u, v) || bar2_.contains(u, v));
  }

  double clearance(double u, double v) const {
    // The nearest dot of a rectangular grid is the nearest grid point clamped to the grid.
    const double i = std::clamp(std::floor(u + 0.5), 0.0, cols_ - 1.0),
                 j = std::clamp(std::floor(v + 0.5), 0.0, rows_ - 1.0);
    double c = std::fabs(std::hypot(u - i, v - j) - kDotRadius);
    if (marker_) c = std::min(c, std::min(bar1_.edgeDistance(u, v), bar2_.edgeDistance(u, v)));
    return c;
  }

  const Box& bar1() const { return bar1_; }
  const Box& bar2() const { return bar2_; }

 private:
  double cols_, rows_;
  bool marker_;
  Box bar1_{}, bar2_{};
};

bool isBandCell(long i, long j) {
  return (j == -4 && i >= -5 && i <= 1) || (i == -4 && j >= -3 && j <= 0);
}

class CheckerInk {
 public:
  explicit CheckerInk(const ccCheckerPlate& plate) : fiducial_(plate.fiducial) {
    const double x0 = static_cast<double>(plate.firstCell.x()),
                 y0 = static_cast<double>(plate.firstCell.y());
    field_ = Box{x0, y0, x0 + plate.cols, y0 + plate.rows};
    outer_ = Box{field_.x0 - plate.margin, field_.y0 - plate.margin, field_.x1 + plate.margin,
                 field_.y1 + plate.margin};
  }

  bool operator()(double u, double v) const {
    if (!outer_.contains(u, v)) return false;
    if (!field_.contains(u, v)) return true;
    if (fiducial_) {
      if (box(kBarA).contains(u, v) || box(kBarB).contains(u, v)) return false;
      if (box(kBandA).contains(u, v) || box(kBandB).contains(u, v)) return true;
    }
    const long long i = static_cast<long long>(std::floor(u)),
                    j = static_cast<long long>(std::floor(v));
    return ((i + j) & 1) != 0;
  }

  double clearance(double u, double v) const {
    double c = std::min(outer_.edgeDistance(u, v), field_.edgeDistance(u, v));
    if (field_.contains(u, v)) {
      const double fu = u - std::floor(u), fv = v - std::floor(v);  // every square edge counts
      c = std::min(c, std::min(std::min(fu, 1.0 - fu), std::min(fv, 1.0 - fv)));
      if (fiducial_) {
        for (const Box& b : {box(kBandA), box(kBandB), box(kBarA), box(kBarB)})
          c = std::min(c, b.edgeDistance(u, v));
      }
    }
    return c;
  }

  const Box& field() const { return field_; }
  const Box& outer() const { return outer_; }

 private:
  bool fiducial_;
  Box field_{}, outer_{};
};

// Everything beyond the printed sheet, as a layout: "ink" is the surround.
class SurroundInk {
 public:
  explicit SurroundInk(const ccRect& paper)
      : paper_{paper.x(), paper.y(), paper.x() + paper.width(), paper.y() + paper.height()} {}
  bool operator()(double u, double v) const { return !paper_.contains(u, v); }
  double clearance(double u, double v) const { return paper_.edgeDistance(u, v); }

 private:
  Box paper_;
};

// ---------------------------------------------------------------------------------------
// Camera construction.

ccPlateCamera viewCamera(const ccRect& region, long width, long height, double tiltXDeg,
                         double tiltYDeg, double rotationDeg, double fill, double fieldOfViewDeg,
                         bool perspective) {
  if (!(region.width() > 0.0) || !(region.height() > 0.0) ||
      !std::isfinite(region.width() + region.height())) {
    throw ccBadArgument(L"The plate region to view is empty");
  }
  if (width < 1 || height < 1) throw ccBadArgument(L"The image size must be at least 1 x 1");
  if (!(fill > 0.0 && fill <= kMaxFill))
    throw ccBadArgument(L"The fill fraction must lie in (0, 10]");
  if (!(std::fabs(tiltXDeg) < kMaxTiltDeg) || !(std::fabs(tiltYDeg) < kMaxTiltDeg)) {
    throw ccBadArgument(L"A tilt must be less than 80 degrees");
  }
  if (!(fieldOfViewDeg > 0.0 && fieldOfViewDeg < kMaxFieldOfViewDeg)) {
    throw ccBadArgument(L"The field of view must lie in (0, 150) degrees");
  }
  if (!std::isfinite(rotationDeg)) throw ccBadArgument(L"The rotation must be finite");
  const double a = ccRadian(ccDegree(tiltXDeg)).toDouble(),
               b = ccRadian(ccDegree(tiltYDeg)).toDouble();
  const double g = ccRadian(ccDegree(rotationDeg)).toDouble();
  const Homography rx{1, 0, 0, 0, std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a)};
  const Homography ry{std::cos(b), 0, std::sin(b), 0, 1, 0, -std::sin(b), 0, std::cos(b)};
  const Homography rz{std::cos(g), -std::sin(g), 0, std::sin(g), std::cos(g), 0, 0, 0, 1};
  const Homography r = multiply(rz, multiply(ry, rx));

  // Plate point (u, v) -> camera frame r1 (u - uc) + r2 (v - vc) + (0, 0, distance), as
  // the homography [r1 r2 t] on (u, v, 1); orthographic views drop the depth.
  const ccVector<2> c = region.center();
  const double halfDiagonal = 0.5 * std::hypot(region.width(), region.height());
  const double distance =
      perspective ? halfDiagonal / std::tan(0.5 * ccRadian(ccDegree(fieldOfViewDeg)).toDouble())
                  : 0.0;
  Homography m{};
  for (int row = 0; row < 3; ++row) {
    m[3 * row] = r[3 * row];
    m[3 * row + 1] = r[3 * row + 1];
    m[3 * row + 2] = -c.x() * r[3 * row] - c.y() * r[3 * row + 1];
  }
  if (perspective) {
    m[8] += distance;
  } else {
    m[6] = m[7] = 0.0;
    m[8] = 1.0;
  }
  // Scale and centre the region's image in the pixel frame (image centre at (w-1)/2, (h-1)/2).
  double x0 = std::numeric_limits<double>::max(), y0 = x0, x1 = -x0, y1 = -x0;
  for (double u : {region.x(), region.x() + region.width()}) {
    for (double v : {region.y(), region.y() + region.height()}) {
      const double w = m[6] * u + m[7] * v + m[8];
      const double x = (m[0] * u + m[1] * v + m[2]) / w, y = (m[3] * u + m[4] * v + m[5]) / w;
      x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    }
  }
  const double f = fill * std::min(width / (x1 - x0), height / (y1 - y0));
  const Homography k{f, 0, 0.5 * (width - 1) - f * 0.5 * (x0 + x1),
                     0, f, 0.5 * (height - 1) - f * 0.5 * (y0 + y1),
                     0, 0, 1};
  return ccPlateCamera(multiply(k, m));
}

// ---------------------------------------------------------------------------------------
// Rendering.

void checkParams(const ccPlateRenderParams& p) {
  if (p.width < 1 || p.height < 1 || p.width > kMaxImagePixels / p.height) {
    throw ccBadArgument(L"The image size must be at least 1 x 1 and at most 2^28 pixels");
  }
  if (p.supersample < 1 || p.supersample > kMaxSupersample)
    throw ccBadArgument(L"Supersampling must be 1 to 32");
  auto level = [](double v) { return v >= 0.0 && v <= 255.0; };
  if (!level(p.lightLevel) || !level(p.darkLevel))
    throw ccBadArgument(L"Grey levels must lie in [0, 255]");
  if (!(p.blurSigma >= 0.0 && p.blurSigma <= kMaxBlurSigma))
    throw ccBadArgument(L"The blur must be 0 to 100 pixels");
  if (!(p.noiseSigma >= 0.0 && p.noiseSigma <= 255.0))
    throw ccBadArgument(L"The noise must be 0 to 255 grey levels");
  if (!(p.vignetting >= 0.0 && p.vignetting <= 1.0))
    throw ccBadArgument(L"Vignetting must lie in [0, 1]");
  if (!(p.surroundLevel <= 255.0)) throw ccBadArgument(L"The surround level must be at most 255");
  if (!std::isfinite(p.gradient.x()) || !std::isfinite(p.gradient.y())) {
    throw ccBadArgument(L"The lighting gradient must be finite");
  }
}

// Fraction of each pixel's samples that fall on ink. With distortion, each pixel centre is
// undistorted exactly and its samples through the local linearisation of the undistortion;
// the neglected second-order term is below 1e-4 pixels for |k1| <= 0.3 at a normalising
// radius of 1000 pixels or more, far below what supersampling resolves.
//
// A pixel is taken as uniform, without sampling, when the plate distance from its centre's
// plate point to each of its corners' stays below the layout's clearance there: the pixel
// square maps to a convex quadrilateral (linear map, then a homography on the visible
// side), whose farthest point from any given point is a corner, so no sample can cross an
// edge.
template <class Ink>
std::vector<double> coverage(const Projector& proj, const Ink& ink, long width, long height,
                             int n) {
  std::vector<double> cov(static_cast<std::size_t>(width) * height);
  std::vector<double> offsets(n);
  for (int k = 0; k < n; ++k) offsets[k] = (k + 0.5) / n - 0.5;
  const double perSample = 1.0 / (n * n);
  double ratio = 1.0;
  for (long y = 0; y < height; ++y) {
    double* out = &cov[static_cast<std::size_t>(y) * width];
    for (long x = 0; x < width; ++x) {
      double cx = static_cast<double>(x), cy = static_cast<double>(y);
      double j[4] = {1.0, 0.0, 0.0, 1.0};
      if (proj.distorted() && !proj.undistortLocal(cx, cy, ratio, cx, cy, j)) {
        out[x] = 0.0;  // beyond the fold: no plate seen
        continue;
      }
      double u0, v0;
      if (proj.planeToPlate(cx, cy, u0, v0)) {
        double reach = 0.0;
        bool seen = true;
        for (int corner = 0; corner < 4 && seen; ++corner) {
          const double ox = corner & 1 ? 0.5 : -0.5, oy = corner & 2 ? 0.5 : -0.5;
          double u, v;
          seen = proj.planeToPlate(cx + j[0] * ox + j[1] * oy, cy + j[2] * ox + j[3] * oy, u, v);
          reach = std::max(reach, (u - u0) * (u - u0) + (v - v0) * (v - v0));
        }
        if (seen && std::sqrt(reach) < ink.clearance(u0, v0)) {
          out[x] = ink(u0, v0) ? 1.0 : 0.0;
          continue;
        }
      }
      int hits = 0;
      for (int sj = 0; sj < n; ++sj) {
        const double oy = offsets[sj];
        for (int si = 0; si < n; ++si) {
          const double ox = offsets[si];
          double u, v;
          if (proj.planeToPlate(cx + j[0] * ox + j[1] * oy, cy + j[2] * ox + j[3] * oy, u, v) &&
              ink(u, v))
            ++hits;
        }
      }
      out[x] = hits * perSample;
    }
  }
  return cov;
}

// Separable Gaussian blur with edge pixels replicated.
void blur(std::vector<double>& image, long width, long height, double sigma) {
  if (sigma <= 0.0) return;
  const long r = static_cast<long>(std::ceil(4.0 * sigma));
  std::vector<double> k(2 * r + 1);
  double sum = 0.0;
  for (long i = -r; i <= r; ++i) sum += k[i + r] = std::exp(-0.5 * i * i / (sigma * sigma));
  for (double& v : k) v /= sum;
  std::vector<double> line(std::max(width, height) + 2 * r);
  auto pass = [&](long count, long length, long stride, long step) {
    for (long c = 0; c < count; ++c) {
      double* p = &image[c * step];
      for (long i = -r; i < length + r; ++i)
        line[i + r] = p[std::clamp(i, 0L, length - 1) * stride];
      for (long i = 0; i < length; ++i) {
        double acc = 0.0;
        for (long t = 0; t <= 2 * r; ++t) acc += k[t] * line[i + t];
        p[i * stride] = acc;
      }
    }
  };
  pass(height, width, 1, width);  // rows
  pass(width, height, width, 1);  // columns
}

// Standard normal samples from the 32-bit Mersenne Twister by the Box-Muller method, so the
// noise for a seed is the same with every standard library.
class NormalSource {
 public:
  explicit NormalSource(std::uint32_t seed) : rng_(seed) {}
  double next() {
    if (haveSpare_) {
      haveSpare_ = false;
      return spare_;
    }
    const double u1 = (rng_() + 0.5) / 4294967296.0, u2 = (rng_() + 0.5) / 4294967296.0;
    const double radius = std::sqrt(-2.0 * std::log(u1)), angle = 2.0 * ccPi * u2;
    spare_ = radius * std::sin(angle);
    haveSpare_ = true;
    return radius * std::cos(angle);
  }

 private:
  std::mt19937 rng_;
  double spare_ = 0.0;
  bool haveSpare_ = false;
};

template <class Plate, class Ink>
ccPlateRendering render(const Plate& plate, const Ink& ink, const ccPlateCamera& camera,
                        const ccPlateRenderParams& p) {
  cfCheckPlate(plate);
  checkParams(p);
  const Projector proj(camera, p.width, p.height);
  proj.checkNoFold(p.width, p.height);

  ccPlateRendering result;
  result.truth = cfPlateTruth(plate, camera, p.width, p.height);
  std::vector<double> img = coverage(proj, ink, p.width, p.height, p.supersample);

  const double ground = p.invert ? p.darkLevel : p.lightLevel;
  const double inkLevel = p.invert ? p.lightLevel : p.darkLevel;
  // Ink lies on the sheet, so ink and surround coverages add: each pixel mixes three levels.
  std::vector<double> beyond;
  if (p.surroundLevel >= 0.0) {
    beyond = coverage(proj, SurroundInk(cfPaperRegion(plate)), p.width, p.height, p.supersample);
  }
  const double cx = 0.5 * (p.width - 1), cy = 0.5 * (p.height - 1);
  const double halfDiagonalSq =
      0.25 * (static_cast<double>(p.width) * p.width + static_cast<double>(p.height) * p.height);
  for (long y = 0; y < p.height; ++y) {
    for (long x = 0; x < p.width; ++x) {
      const double dx = x - cx, dy = y - cy;
      const double gain = std::max(0.0, 1.0 + p.gradient.x() * dx + p.gradient.y() * dy) *
                          (1.0 - p.vignetting * (dx * dx + dy * dy) / halfDiagonalSq);
      double& v = img[static_cast<std::size_t>(y) * p.width + x];
      const double surround =
          beyond.empty()
              ? 0.0
              : (p.surroundLevel - ground) * beyond[static_cast<std::size_t>(y) * p.width + x];
      v = gain * (ground + (inkLevel - ground) * v + surround);
    }
  }
  blur(img, p.width, p.height, p.blurSigma);

  NormalSource noise(p.seed);
  result.image = ccPelBuffer<unsigned char>(p.width, p.height);
  for (long y = 0; y < p.height; ++y) {
    unsigned char* out = result.image.row(y);
    const double* in = &img[static_cast<std::size_t>(y) * p.width];
    for (long x = 0; x < p.width; ++x) {
      const double v = in[x] + (p.noiseSigma > 0.0 ? p.noiseSigma * noise.next() : 0.0);
      out[x] = static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
  return result;
}

bool insideImage(const ccVector<2>& q, long width, long height) {
  return q.x() >= -0.5 && q.x() < width - 0.5 && q.y() >= -0.5 && q.y() < height - 0.5;
}

ccPlateVertexTruth vertexTruth(const Projector& proj, long i, long j, long width, long height) {
  ccPlateVertexTruth t;
  t.label = ccPair<long>(i, j);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  t.image = ccVector<2>(nan, nan);
  ccVector<2> q;
  if (proj.toImage(ccVector<2>(static_cast<double>(i), static_cast<double>(j)), q)) {
    t.image = q;
    t.inImage = insideImage(q, width, height);
  }
  return t;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// ccPlateCamera

ccPlateCamera::ccPlateCamera(const Homography& homography) : h_(homography) {
  const double scale = std::fabs(h_[0]) + std::fabs(h_[1]) + std::fabs(h_[2]) + std::fabs(h_[3]) +
                       std::fabs(h_[4]) + std::fabs(h_[5]) + std::fabs(h_[6]) + std::fabs(h_[7]) +
                       std::fabs(h_[8]);
  if (!allFinite(h_) || !(scale > 0.0) ||
      std::fabs(determinant(h_)) <= 1e-14 * scale * scale * scale) {
    throw ccBadArgument(L"The camera homography is singular or not finite");
  }
  inverse_ = inverse(h_);
}

ccPlateCamera::ccPlateCamera(const ccXform<2>& imageFromPlate)
    : ccPlateCamera(
          Homography{imageFromPlate.matrix().element(0, 0), imageFromPlate.matrix().element(0, 1),
                     imageFromPlate.trans().x(), imageFromPlate.matrix().element(1, 0),
                     imageFromPlate.matrix().element(1, 1), imageFromPlate.trans().y(), 0, 0, 1}) {}

void ccPlateCamera::distortion(const ccVector<2>& centre, double normRadius, double k1, double k2) {
  if (!(normRadius > 0.0) || !std::isfinite(normRadius) || !std::isfinite(k1) ||
      !std::isfinite(k2) || !std::isfinite(centre.x()) || !std::isfinite(centre.y())) {
    throw ccBadArgument(L"Distortion needs a positive radius and finite coefficients");
  }
  centre_ = centre;
  radius_ = normRadius;
  k1_ = k1;
  k2_ = k2;
}

ccVector<2> ccPlateCamera::distort(const ccVector<2>& p) const {
  if (!hasDistortion()) return p;
  const ccVector<2> d = p - centre_;
  return centre_ + d * radialFactor(d.lengthSq() / (radius_ * radius_), k1_, k2_);
}

ccVector<2> ccPlateCamera::undistort(const ccVector<2>& p) const {
  if (!hasDistortion()) return p;
  const ccVector<2> d = p - centre_;
  const double rd = d.length() / radius_;
  if (rd == 0.0) return p;
  double ru;
  if (!undistortRadius(rd, k1_, k2_, rd, ru)) {
    throw ccMathError(L"The distortion cannot be inverted at this position");
  }
  return centre_ + d * (ru / rd);
}

ccVector<2> ccPlateCamera::imageFromPlate(const ccVector<2>& p) const {
  const double w = h_[6] * p.x() + h_[7] * p.y() + h_[8];
  if (w == 0.0 || !std::isfinite(w))
    throw ccMathError(L"The plate point lies on the camera's horizon");
  return distort(ccVector<2>((h_[0] * p.x() + h_[1] * p.y() + h_[2]) / w,
                             (h_[3] * p.x() + h_[4] * p.y() + h_[5]) / w));
}

ccVector<2> ccPlateCamera::plateFromImage(const ccVector<2>& image) const {
  const ccVector<2> q = undistort(image);
  const Homography& h = inverse_;
  const double s = h[6] * q.x() + h[7] * q.y() + h[8];
  if (s == 0.0 || !std::isfinite(s)) throw ccMathError(L"The pixel sees no point of the plate");
  return ccVector<2>((h[0] * q.x() + h[1] * q.y() + h[2]) / s,
                     (h[3] * q.x() + h[4] * q.y() + h[5]) / s);
}

ccPlateCamera cfPlateCameraView(const ccRect& region, long width, long height, double tiltXDeg,
                                double tiltYDeg, double rotationDeg, double fill,
                                double fieldOfViewDeg) {
  return viewCamera(region, width, height, tiltXDeg, tiltYDeg, rotationDeg, fill, fieldOfViewDeg,
                    true);
}

ccPlateCamera cfPlateCameraAffine(const ccRect& region, long width, long height, double tiltXDeg,
                                  double tiltYDeg, double rotationDeg, double fill) {
  return viewCamera(region, width, height, tiltXDeg, tiltYDeg, rotationDeg, fill, 1.0,
                    false);  // no field of view
}

// ---------------------------------------------------------------------------------------
// Plates

ccDotPlate cfDotPlate(long cols, long rows, bool marker) {
  ccDotPlate plate;
  plate.cols = cols;
  plate.rows = rows;
  plate.marker = marker;
  plate.markerCell = ccPair<long>(std::max(0L, (cols - 2) / 2), std::max(0L, (rows - 2) / 2));
  return plate;
}

ccCheckerPlate cfCheckerPlate(long cols, long rows, bool fiducial) {
  ccCheckerPlate plate;
  plate.cols = cols;
  plate.rows = rows;
  plate.fiducial = fiducial;
  if (fiducial) {
    const long needX = kFiducialCellEnd[0] - kFiducialCellMin[0],
               needY = kFiducialCellEnd[1] - kFiducialCellMin[1];
    plate.firstCell = ccPair<long>(kFiducialCellMin[0] - std::max(0L, cols - needX) / 2,
                                   kFiducialCellMin[1] - std::max(0L, rows - needY) / 2);
  } else {
    plate.firstCell = ccPair<long>(-(cols / 2), -(rows / 2));
  }
  return plate;
}

void cfCheckPlate(const ccDotPlate& plate) {
  if (plate.cols < 1 || plate.rows < 1 || plate.cols > kMaxPlateFeatures / plate.rows) {
    throw ccBadArgument(L"A dot plate needs 1 to 1000000 dots");
  }
  if (plate.marker &&
      (plate.cols < 2 || plate.rows < 2 || plate.markerCell.x() < 0 || plate.markerCell.y() < 0 ||
       plate.markerCell.x() > plate.cols - 2 || plate.markerCell.y() > plate.rows - 2)) {
    throw ccBadArgument(L"The marker cell must lie inside the dot grid");
  }
}

void cfCheckPlate(const ccCheckerPlate& plate) {
  if (plate.cols < 2 || plate.rows < 2 || plate.cols > kMaxPlateFeatures / plate.rows) {
    throw ccBadArgument(L"A checkerboard needs 2 x 2 to 1000000 squares");
  }
  if (!(plate.margin >= 0.0 && plate.margin <= kMaxMargin))
    throw ccBadArgument(L"The checker margin must be 0 to 1000 squares");
  const long x0 = plate.firstCell.x(), y0 = plate.firstCell.y();
  if (plate.fiducial &&
      (x0 > kFiducialCellMin[0] || y0 > kFiducialCellMin[1] ||
       x0 + plate.cols < kFiducialCellEnd[0] || y0 + plate.rows < kFiducialCellEnd[1])) {
    throw ccBadArgument(
        L"The checker field must cover squares [-6, 3) x [-6, 2) to hold the fiducial");
  }
}

ccRect cfPatternRegion(const ccDotPlate& plate) {
  return ccRect(-0.5, -0.5, static_cast<double>(plate.cols), static_cast<double>(plate.rows));
}

ccRect cfPatternRegion(const ccCheckerPlate& plate) {
  return CheckerInk(plate).field().rect();
}

ccRect cfPaperRegion(const ccDotPlate& plate) {
  return ccRect(-kDotPaperBorder, -kDotPaperBorder, plate.cols - 1 + 2 * kDotPaperBorder,
                plate.rows - 1 + 2 * kDotPaperBorder);
}

ccRect cfPaperRegion(const ccCheckerPlate& plate) {
  const ccRect r = CheckerInk(plate).outer().rect();
  return r.trim(-kCheckerPaperBorder, -kCheckerPaperBorder, -kCheckerPaperBorder,
                -kCheckerPaperBorder);
}

bool cfPlateInk(const ccDotPlate& plate, const ccVector<2>& p) {
  return DotInk(plate)(p.x(), p.y());
}
bool cfPlateInk(const ccCheckerPlate& plate, const ccVector<2>& p) {
  return CheckerInk(plate)(p.x(), p.y());
}

std::vector<ccPlateShape> cfPlateShapes(const ccDotPlate& plate) {
  cfCheckPlate(plate);
  std::vector<ccPlateShape> shapes;
  for (long j = 0; j < plate.rows; ++j) {
    for (long i = 0; i < plate.cols; ++i) {
      ccPlateShape s;
      s.kind = ccPlateShape::eDisc;
      s.centre = ccVector<2>(static_cast<double>(i), static_cast<double>(j));
      s.radius = kDotRadius;
      shapes.push_back(s);
    }
  }
  if (plate.marker) {
    const DotInk ink(plate);
    for (const Box& b : {ink.bar1(), ink.bar2()}) {
      ccPlateShape s;
      s.rect = b.rect();
      shapes.push_back(s);
    }
  }
  return shapes;
}

std::vector<ccPlateShape> cfPlateShapes(const ccCheckerPlate& plate) {
  cfCheckPlate(plate);
  const CheckerInk ink(plate);
  std::vector<ccPlateShape> shapes;
  auto add = [&shapes](const ccRect& r, bool isInk) {
    ccPlateShape s;
    s.rect = r;
    s.ink = isInk;
    shapes.push_back(s);
  };
  add(ink.outer().rect(), true);
  for (long j = plate.firstCell.y(); j < plate.firstCell.y() + plate.rows; ++j) {
    for (long i = plate.firstCell.x(); i < plate.firstCell.x() + plate.cols; ++i) {
      if ((i + j) % 2 == 0)
        add(ccRect(static_cast<double>(i), static_cast<double>(j), 1.0, 1.0), false);
    }
  }
  if (plate.fiducial) {
    add(box(kBandA).rect(), true);
    add(box(kBandB).rect(), true);
    add(box(kBarA).rect(), false);
    add(box(kBarB).rect(), false);
  }
  return shapes;
}

// ---------------------------------------------------------------------------------------
// Truth and rendering

ccPlateTruth cfPlateTruth(const ccDotPlate& plate, const ccPlateCamera& camera, long width,
                          long height) {
  cfCheckPlate(plate);
  const Projector proj(camera, width, height);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  ccPlateTruth truth;
  truth.dots.reserve(static_cast<std::size_t>(plate.cols * plate.rows));
  for (long j = 0; j < plate.rows; ++j) {
    for (long i = 0; i < plate.cols; ++i) {
      ccPlateDotTruth d;
      d.index = ccPair<long>(i, j);
      d.plate = ccVector<2>(static_cast<double>(i), static_cast<double>(j));
      d.image = ccVector<2>(nan, nan);
      ccVector<2> q;
      if (proj.toImage(d.plate, q)) {
        d.image = q;
        d.inImage = true;
        for (int k = 0; k < kDotRimPoints && d.inImage; ++k) {
          const ccVector<2> rim =
              d.plate + ccVector<2>(kDotRadius, ccRadian(2.0 * ccPi * k / kDotRimPoints));
          d.inImage = proj.toImage(rim, q) && insideImage(q, width, height);
        }
      }
      truth.dots.push_back(d);
    }
  }
  if (plate.marker) {
    truth.hasMarker = true;
    truth.markerCell = plate.markerCell;
    truth.markerPlate = ccVector<2>(plate.markerCell.x() + 0.5, plate.markerCell.y() + 0.5);
    truth.markerImage = ccVector<2>(nan, nan);
    proj.toImage(truth.markerPlate, truth.markerImage);
  }
  return truth;
}

ccPlateTruth cfPlateTruth(const ccCheckerPlate& plate, const ccPlateCamera& camera, long width,
                          long height) {
  cfCheckPlate(plate);
  const Projector proj(camera, width, height);
  ccPlateTruth truth;
  const long i0 = plate.firstCell.x(), j0 = plate.firstCell.y();
  for (long j = j0 + 1; j < j0 + plate.rows; ++j) {
    for (long i = i0 + 1; i < i0 + plate.cols; ++i) {
      if (plate.fiducial && (isBandCell(i - 1, j - 1) || isBandCell(i, j - 1) ||
                             isBandCell(i - 1, j) || isBandCell(i, j))) {
        continue;
      }
      truth.vertices.push_back(vertexTruth(proj, i, j, width, height));
    }
  }
  if (plate.fiducial) {
    truth.hasFiducial = true;
    truth.fiducialPlate = ccVector<2>(kFiducialPoint, kFiducialPoint);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    truth.fiducialImage = ccVector<2>(nan, nan);
    proj.toImage(truth.fiducialPlate, truth.fiducialImage);
    truth.anchor = vertexTruth(proj, kAnchor[0], kAnchor[1], width, height);
    truth.secondAnchor = vertexTruth(proj, kSecondAnchor[0], kSecondAnchor[1], width, height);
  }
  return truth;
}

ccPlateRendering cfRenderPlate(const ccDotPlate& plate, const ccPlateCamera& camera,
                               const ccPlateRenderParams& params) {
  cfCheckPlate(plate);
  return render(plate, DotInk(plate), camera, params);
}

ccPlateRendering cfRenderPlate(const ccCheckerPlate& plate, const ccPlateCamera& camera,
                               const ccPlateRenderParams& params) {
  cfCheckPlate(plate);
  return render(plate, CheckerInk(plate), camera, params);
}
