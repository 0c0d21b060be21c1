// SPDX-License-Identifier: Apache-2.0
// The robust dot-grid run: regional segmentation, lattice labelling, per-dot measurement,
// the plate verdict, marker anchoring, perspective correction and the transform fits.
#include "cal/calib/robust_dot_grid.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "cal/calib/calibration_run.h"
#include "cal/calib/dot_lattice.h"
#include "cal/calib/grid_calib_results_access.h"
#include "cal/calib/grid_fit.h"
#include "cal/calib/plane_homography.h"
#include "cal/calib/regional_threshold.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"
#include "platform/foundation/diag.h"
#include "platform/foundation/graphics.h"
#include "platform/foundation/point_fitter.h"
#include "platform/foundation/xform_poly.h"
#include "platform/vision/blob.h"

namespace {

using A = ccGridCalibRunAccess;

// Candidates. The smallest dot worth measuring (a disc about 2 pixels across) and the largest
// share of the image one dot may cover.
constexpr double kMinDotArea = 4.0;  // pixels
constexpr double kMaxDotImageShare = 1.0 / 16.0;
// A dot's area against the area of the ellipse of its second moments: 1 for any ellipse,
// 0.95 for a square; whole-pixel outlines of small dots stray by up to about 0.2.
constexpr double kMinEllipseFill = 0.75;
constexpr double kMaxEllipseFill = 1.25;
// Shorter over longer axis of the moment ellipse: a disc seen 75 degrees off its axis still
// has 0.26.
constexpr double kMinDotAspect = 0.25;

// Measuring one dot in its own window. The window reaches past the dot by a quarter of its
// radius (at least 4 pixels, for blur) but stops a pixel short of the neighbouring dots.
constexpr double kWindowMarginShare = 0.25;
constexpr double kMinWindowMargin = 4.0;     // pixels
constexpr double kMinWindowClearance = 2.0;  // pixels between the dot's edge and the window's
// The ink level is the mean of the most extreme pixels covering this share of the dot.
constexpr double kInkCoreShare = 0.25;
// Ground and ink must differ by this much (grey levels), and a dot looked for where the
// lattice predicts one by at least this share of its neighbour's contrast.
constexpr double kMinContrast = 8.0;
constexpr double kMinContrastShare = 0.5;
// Soft band of the segmentation: this share of the contrast, at least kMinBand grey levels,
// centred halfway between ground and ink.
constexpr double kBandShare = 0.1;
constexpr double kMinBand = 4.0;
constexpr int kSoftness = 6;
// Outline pixels within this share of the contrast of the median ground fit the window's
// ground plane; a plane that changes by more than kMinShadingChange grey levels across the
// window, with slopes this many standard errors from zero, is evened out before the dot is
// measured.
constexpr double kShadingInlier = 0.25;
constexpr double kMinShadingChange = 2.0;
constexpr double kMinShadingSignificance = 6.0;
// The outline follows a plane when its pixels spread about it by at most this many times the
// noise, plus the grey-level quantisation.
constexpr double kMaxShadingSpread = 1.5;
constexpr double kQuantisation = 0.5;
// A remeasured centre may move this share of the shortest lattice step from the candidate's.
constexpr double kMaxRefineShift = 0.25;

// Verdict. Dot area against the local cell area (the printed design: pi / 16 = 0.196; real
// plates from 0.05 to 0.5); the dots' roundness on the plate (smaller over larger axis of the
// mean moment ellipse in lattice units, squared); the ground level between neighbouring dots
// as a share of the way from ink to ground (dot plates near 1, checkerboards 0.5).
constexpr double kMinCellFill = 0.01;
constexpr double kMaxCellFill = 0.6;
constexpr double kMinRoundness = 0.3;
constexpr double kMinSeparation = 0.75;
constexpr long kMinSpan = 3;  // rows and columns a plate must span
// The lattice must cover this share of the image (a plate smaller than that cannot
// calibrate the view, and incidental patterns in a scene are small), and may have holes
// inside it for at most this share of its dots.
constexpr double kMinImageShare = 0.01;
constexpr double kMaxHoleShare = 0.1;
constexpr long kMinDotsFloor = 4;  // smallest minDots option

// Skipped dots: probes per cell side, and how many dots found inside cells (at least 3,
// and a tenth of the lattice) make the lattice grow again, at most twice.
constexpr int kCellProbes = 6;
// Probes stay clear of the corner dots by this many radii plus a pixel for blur.
constexpr double kCornerClearance = 1.5;
constexpr double kBlurAllowance = 1.0;  // pixels
constexpr std::size_t kMinSkippedDots = 3;
constexpr std::size_t kSkippedShare = 10;
constexpr int kMaxRegrowths = 2;

// Axis search: entries of the integer matrices tried, in -kMaxAxisEntry..kMaxAxisEntry.
constexpr long kMaxAxisEntry = 2;

// Marker. Each bar runs from 0.15 to 1.35 cells out of the marker cell's centre along a
// lattice axis; everywhere else on those lines a dot plate has ground. A cell is screened
// at the bars' middles, then probed along each half-axis at kBarProbes; a bar's probes must
// all be at most kBarInkShare of the way from ink to ground (blur thins a bar's contrast),
// the other half-axes and the centre at least kGroundShare.
constexpr double kBarMiddle = 0.75;  // cells
constexpr double kBarProbes[] = {0.3, 0.5, 0.75, 1.0, 1.2};
constexpr double kGroundProbes[] = {0.0, 0.5, 0.75, 1.0};
constexpr double kBarInkShare = 0.8;
constexpr double kGroundShare = 0.9;

// Homographies of a dot's neighbourhood (perspective correction, marker point): the fewest
// dots a fit takes.
constexpr int kMinHomographyDots = 6;
// Largest perspective correction applied, as a share of the dot's radius.
constexpr double kMaxPerspectiveShift = 0.1;

constexpr int kCheckInterval = 64;

enum Ink { kDark = 0, kLight = 1 };

struct Candidates {
  std::vector<ccDotShape> dots[2];  // by Ink
};

// ----------------------------------------------------------------------------------------
// Arguments.

void checkParams(const ccGridCalibParams& p, const ccRobustGridOptions& o) {
  cfGridCheckParams(p);
  if (o.rows < 0 || o.cols < 0) throw ccCalibDefs::BadParam(L"Plate rows and columns must be >= 0");
  if (o.minDots < kMinDotsFloor) throw ccCalibDefs::BadParam(L"minDots must be >= 4");
}

// ----------------------------------------------------------------------------------------
// Geometry helpers.

// Central second moments from the blob tool's principal moments and axis angle.
void momentsOf(const ccBlob& b, ccDotShape& s) {
  const double t = b.angle().toDouble(), c = std::cos(t), n = std::sin(t);
  const double along = b.measure(ccBlob::eInertiaMax), across = b.measure(ccBlob::eInertiaMin);
  s.mxx = along * c * c + across * n * n;
  s.myy = along * n * n + across * c * c;
  s.mxy = (along - across) * c * n;
}

ccDotShape shapeOf(const ccBlob& b) {
  ccDotShape s;
  s.centre = ccVector<2>(b.measure(ccBlob::eCenterOfMassX), b.measure(ccBlob::eCenterOfMassY));
  s.area = b.area();
  momentsOf(b, s);
  return s;
}

// Semi-major axis of the moment ellipse (the radius of a disc), pixels.
double radiusOf(const ccDotShape& s) {
  const double half = 0.5 * (s.mxx + s.myy);
  const double dev = std::sqrt(0.25 * (s.mxx - s.myy) * (s.mxx - s.myy) + s.mxy * s.mxy);
  return 2.0 * std::sqrt(half + dev);
}

// Homography from labels (relative to `centre`) to image positions, fitted to the dots whose
// labels lie within `reach` of `centre` in both coordinates.
bool localHomography(const ccDotLattice& lattice, const ccVector<2>& centre, double reach,
                     ccPlaneHomography& h) {
  std::vector<ccVector<2>> plate, image;
  const long x0 = static_cast<long>(std::ceil(centre.x() - reach)),
             x1 = static_cast<long>(std::floor(centre.x() + reach));
  const long y0 = static_cast<long>(std::ceil(centre.y() - reach)),
             y1 = static_cast<long>(std::floor(centre.y() + reach));
  std::vector<int> perColumn(static_cast<std::size_t>(x1 - x0 + 1), 0),
      perRow(static_cast<std::size_t>(y1 - y0 + 1), 0);
  for (long y = y0; y <= y1; ++y) {
    for (long x = x0; x <= x1; ++x) {
      const int i = lattice.find(ccLatticeLabel(x, y));
      if (i < 0) continue;
      plate.emplace_back(static_cast<double>(x) - centre.x(), static_cast<double>(y) - centre.y());
      image.push_back(lattice.dots()[static_cast<std::size_t>(i)].shape.centre);
      ++perColumn[static_cast<std::size_t>(x - x0)];
      ++perRow[static_cast<std::size_t>(y - y0)];
    }
  }
  // Perspective along a direction needs three rows (or columns) of dots across it.
  auto lines = [](const std::vector<int>& v) {
    return std::count_if(v.begin(), v.end(), [](int n) { return n > 0; });
  };
  return static_cast<int>(plate.size()) >= kMinHomographyDots && lines(perColumn) >= 3 &&
         lines(perRow) >= 3 && cfFitPlaneHomography(plate, image, h);
}

// ----------------------------------------------------------------------------------------
// Step: regional segmentation into dot and bar candidates of both polarities.

Candidates findCandidates(const ccPelBuffer_const<unsigned char>& binary) {
  ccBlobParams params;
  params.setSegmentationHardThresh(128, false);
  ccBlobResults blobs;
  cfBlobAnalysis(binary, params, blobs);
  ccAttention::check();

  const double maxArea = kMaxDotImageShare * static_cast<double>(binary.width() * binary.height());
  Candidates out;
  const ccBlobSceneDescription& scene = blobs.connectedBlobs();
  for (std::size_t k = 0; k < scene.numBlobs(); ++k) {
    if (k % (16 * kCheckInterval) == 0) ccAttention::check();
    const ccBlob& b = scene.blob(k);
    if (b.measure(ccBlob::eNotClipped) == 0.0) continue;
    const double area = b.area();
    if (area < kMinDotArea || area > maxArea) continue;
    const double along = b.measure(ccBlob::eInertiaMax), across = b.measure(ccBlob::eInertiaMin);
    if (!(along > 0.0) || !(across > 0.0)) continue;
    const double fill = area / (4.0 * ccPi * std::sqrt(along * across));
    if (fill < kMinEllipseFill || fill > kMaxEllipseFill) continue;
    const double aspect = std::sqrt(across / along);
    // Light blobs are the binary image's foreground.
    if (aspect >= kMinDotAspect) out.dots[b.isForeground() ? kLight : kDark].push_back(shapeOf(b));
  }
  return out;
}

// ----------------------------------------------------------------------------------------
// Step: measuring one dot in its own window.

// The ground level across a window as a plane, level + gx (x - centre.x) + gy (y - centre.y)
// (image frame), fitted to the pixels of the window's outline that lie within a quarter of
// the contrast of the median ground, so that a neighbouring dot or a marker bar crossing the
// outline does not pull it.
struct ShadingPlane {
  ccVector<2> centre;
  double level = 0.0, gx = 0.0, gy = 0.0;
  double gxError = 0.0, gyError = 0.0;  // standard errors of the slopes
  double spread = 0.0;                  // outline pixels about the plane, grey levels
  double noise = 0.0;                   // pixel noise, grey levels
  double at(double x, double y) const {
    return level + gx * (x - centre.x()) + gy * (y - centre.y());
  }
  // Does the outline follow a plane (no edge crossing it), whose change across the window is
  // both large and well above the noise of its estimate? Evening out by a wrong or noisy
  // plane would do more harm than good.
  bool matters(const ccPelBuffer_const<unsigned char>& win) const {
    const double change = std::fabs(gx) * static_cast<double>(win.width()) +
                          std::fabs(gy) * static_cast<double>(win.height());
    const double significance =
        std::hypot(gx / std::max(gxError, 1e-12), gy / std::max(gyError, 1e-12));
    return spread <= kMaxShadingSpread * noise + kQuantisation && change > kMinShadingChange &&
           significance > kMinShadingSignificance;
  }
};

ShadingPlane groundPlane(const ccPelBuffer_const<unsigned char>& win, double ground,
                         double contrast) {
  ShadingPlane p;
  p.level = ground;
  const long x0 = win.offset().x(), y0 = win.offset().y(), x1 = x0 + win.width() - 1,
             y1 = y0 + win.height() - 1;
  p.centre = ccVector<2>(0.5 * static_cast<double>(x0 + x1), 0.5 * static_cast<double>(y0 + y1));
  // Normal equations of the plane fit, in coordinates relative to the centre.
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0, sv = 0, sxv = 0, syv = 0, svv = 0;
  auto add = [&](long x, long y) {
    const double v = win.at(x, y);
    if (std::fabs(v - ground) > kShadingInlier * contrast) return;
    const double dx = static_cast<double>(x) - p.centre.x(),
                 dy = static_cast<double>(y) - p.centre.y();
    n += 1;
    sx += dx;
    sy += dy;
    sxx += dx * dx;
    sxy += dx * dy;
    syy += dy * dy;
    sv += v;
    svv += v * v;
    sxv += dx * v;
    syv += dy * v;
  };
  // The outline in order (clockwise from the top left), for the plane and the noise.
  std::vector<ccPair<long>> outline;
  for (long x = x0; x < x1; ++x) outline.emplace_back(x, y0);
  for (long y = y0; y < y1; ++y) outline.emplace_back(x1, y);
  for (long x = x1; x > x0; --x) outline.emplace_back(x, y1);
  for (long y = y1; y > y0; --y) outline.emplace_back(x0, y);
  std::vector<double> steps;
  for (std::size_t k = 0; k < outline.size(); ++k) {
    add(outline[k].x(), outline[k].y());
    const ccPair<long>& next = outline[(k + 1) % outline.size()];
    steps.push_back(std::fabs(static_cast<double>(win.at(outline[k].x(), outline[k].y())) -
                              win.at(next.x(), next.y())));
  }
  // Pixel noise from the median step between outline neighbours (0.954 sigma for Gaussian
  // noise); a step edge crossing the outline (the sheet's edge, a neighbour) hardly moves it.
  std::nth_element(steps.begin(), steps.begin() + static_cast<long>(steps.size() / 2), steps.end());
  p.noise = steps[steps.size() / 2] / 0.954;
  // Cramer's rule on [n sx sy; sx sxx sxy; sy sxy syy] (level gx gy) = (sv sxv syv).
  const double det =
      n * (sxx * syy - sxy * sxy) - sx * (sx * syy - sxy * sy) + sy * (sx * sxy - sxx * sy);
  if (!(std::fabs(det) > 0.0) || n < 8) return p;
  p.level =
      (sv * (sxx * syy - sxy * sxy) - sx * (sxv * syy - sxy * syv) + sy * (sxv * sxy - sxx * syv)) /
      det;
  p.gx =
      (n * (sxv * syy - sxy * syv) - sv * (sx * syy - sxy * sy) + sy * (sx * syv - sxv * sy)) / det;
  p.gy =
      (n * (sxx * syv - sxv * sxy) - sx * (sx * syv - sxv * sy) + sv * (sx * sxy - sxx * sy)) / det;
  // Residual spread about the plane, and from it the standard errors of the two slopes.
  const double residual = std::max(0.0, (svv - p.level * sv - p.gx * sxv - p.gy * syv) / (n - 3.0));
  p.spread = std::sqrt(residual);
  p.gxError = std::sqrt(residual * (n * syy - sy * sy) / det);
  p.gyError = std::sqrt(residual * (n * sxx - sx * sx) / det);
  return p;
}

// The window with its lighting evened out: every pixel scaled by level / plane, which
// undoes a gain that varies across the window (vignetting, a lighting gradient) for ground
// and ink alike.
ccPelBuffer<unsigned char> flattened(const ccPelBuffer_const<unsigned char>& win,
                                     const ShadingPlane& p) {
  ccPelBuffer<unsigned char> out(win.window());
  for (long y = win.offset().y(); y < win.offset().y() + win.height(); ++y) {
    for (long x = win.offset().x(); x < win.offset().x() + win.width(); ++x) {
      const double gain =
          p.level / std::max(1.0, p.at(static_cast<double>(x), static_cast<double>(y)));
      out.at(x, y) =
          static_cast<unsigned char>(std::clamp(std::lround(win.at(x, y) * gain), 0L, 255L));
    }
  }
  return out;
}

// Measures the dot of the given ink nearest `guess` in the square window of half-size
// `half` around it: ground level the median of the window's outline, ink level the mean of
// the most extreme pixels of the dot's core, then the blob tool's soft segmentation halfway
// between them. False when the contrast is too low or no whole dot lies within `radius` of
// the guess.
bool measureDot(const ccPelBuffer_const<unsigned char>& image, const ccVector<2>& guess,
                double radius, double half, int ink, ccBlobResults& scratch, ccDotShape& out) {
  // The window is cut back to the image; a dot it cuts touches its border and is refused.
  const ccPelRect inside = image.window();
  const long x0 = std::max(inside.x(), static_cast<long>(std::floor(guess.x() - half)));
  const long x1 =
      std::min(inside.x() + inside.width() - 1, static_cast<long>(std::ceil(guess.x() + half)));
  const long y0 = std::max(inside.y(), static_cast<long>(std::floor(guess.y() - half)));
  const long y1 =
      std::min(inside.y() + inside.height() - 1, static_cast<long>(std::ceil(guess.y() + half)));
  if (x1 - x0 < 2 || y1 - y0 < 2) return false;
  ccPelBuffer_const<unsigned char> win = image;
  win.window(ccPelRect(x0, y0, x1 - x0 + 1, y1 - y0 + 1));

  unsigned long ring[256] = {}, all[256] = {};
  unsigned long ringCount = 0;
  for (long y = y0; y <= y1; ++y) {
    const unsigned char* row = win.row(y - y0);
    for (long x = 0; x <= x1 - x0; ++x) ++all[row[x]];
    if (y == y0 || y == y1) {
      for (long x = 0; x <= x1 - x0; ++x) ++ring[row[x]];
      ringCount += static_cast<unsigned long>(x1 - x0 + 1);
    } else {
      ++ring[row[0]];
      ++ring[row[x1 - x0]];
      ringCount += 2;
    }
  }
  unsigned long seen = 0;
  int median = 0;
  while (median < 255 && (seen += ring[median]) * 2 < ringCount) ++median;
  const double ground = median;
  const unsigned long core =
      std::max(1UL, static_cast<unsigned long>(kInkCoreShare * ccPi * radius * radius));
  double sum = 0.0;
  unsigned long taken = 0;
  for (int k = 0; k < 256 && taken < core; ++k) {
    const int v = ink == kDark ? k : 255 - k;
    const unsigned long n = std::min(all[v], core - taken);
    sum += static_cast<double>(n) * v;
    taken += n;
  }
  const double inkLevel = sum / static_cast<double>(taken);
  const double contrast = ink == kDark ? ground - inkLevel : inkLevel - ground;
  if (contrast < kMinContrast) return false;

  // Uneven lighting across the window would move the dot's edges towards its darker side:
  // the window is evened out first where that matters.
  const ShadingPlane shading = groundPlane(win, ground, contrast);
  const ccPelBuffer_const<unsigned char> measured =
      shading.matters(win) ? flattened(win, shading) : win;

  const double t = 0.5 * (shading.level + inkLevel),
               band = std::max(kMinBand, kBandShare * contrast);
  const int low = std::max(0, static_cast<int>(std::floor(t - 0.5 * band)));
  const int high = std::min(255, static_cast<int>(std::ceil(t + 0.5 * band)));
  ccBlobParams params;
  params.setSegmentationSoftThresh(low, high, kSoftness, ink == kDark);
  cfBlobAnalysis(measured, params, scratch);

  const ccBlob* best = nullptr;
  double bestD2 = radius * radius;
  const ccBlobSceneDescription& scene = scratch.connectedBlobs();
  for (std::size_t k = 0; k < scene.numBlobs(); ++k) {
    const ccBlob& b = scene.blob(k);
    if (!b.isForeground() || b.measure(ccBlob::eNotClipped) == 0.0 || b.area() < kMinDotArea)
      continue;
    const double d2 =
        (ccVector<2>(b.measure(ccBlob::eCenterOfMassX), b.measure(ccBlob::eCenterOfMassY)) - guess)
            .lengthSq();
    if (d2 <= bestD2) {
      best = &b;
      bestD2 = d2;
    }
  }
  if (best == nullptr) return false;
  out = shapeOf(*best);
  out.ground = ground;
  out.ink = inkLevel;
  return true;
}

// Half-size of the measuring window of a dot of radius r whose nearest neighbour is
// `spacing` away: past the dot by the margin, short of the neighbour.
double windowHalfSize(double r, double spacing) {
  const double wanted = r + std::max(kMinWindowMargin, kWindowMarginShare * r);
  return std::max(r + kMinWindowClearance, std::min(wanted, spacing - r - 1.0));
}

// ----------------------------------------------------------------------------------------
// Steps on the lattice.

// Measures every dot again in its own window; drops dots that cannot be measured or whose
// centre moves more than kMaxRefineShift of the step.
void refineDots(const ccPelBuffer_const<unsigned char>& image, int ink, ccDotLattice& lattice) {
  ccBlobResults scratch;
  std::vector<ccDotShape> measured(lattice.size());
  std::vector<bool> drop(lattice.size(), false);
  for (std::size_t i = 0; i < lattice.size(); ++i) {
    if (i % kCheckInterval == 0) ccAttention::check();
    const ccDotShape& s = lattice.dots()[i].shape;
    const double spacing = lattice.minSpacing(static_cast<int>(i)), r = radiusOf(s);
    drop[i] =
        !measureDot(image, s.centre, r, windowHalfSize(r, spacing), ink, scratch, measured[i]) ||
        (measured[i].centre - s.centre).length() > kMaxRefineShift * spacing;
  }
  for (std::size_t i = 0; i < lattice.size(); ++i)
    if (!drop[i]) lattice.setShape(static_cast<int>(i), measured[i]);
  lattice.remove(drop);
}

// Bilinear grey value at an image-frame point inside the window.
double sample(const ccPelBuffer_const<unsigned char>& image, const ccVector<2>& p) {
  const ccPelRect w = image.window();
  const double x =
      std::clamp(p.x(), static_cast<double>(w.x()), static_cast<double>(w.x() + w.width() - 1));
  const double y =
      std::clamp(p.y(), static_cast<double>(w.y()), static_cast<double>(w.y() + w.height() - 1));
  const long x0 = std::min(static_cast<long>(x), w.x() + w.width() - 2),
             y0 = std::min(static_cast<long>(y), w.y() + w.height() - 2);
  const long x1 = std::min(x0 + 1, w.x() + w.width() - 1),
             y1 = std::min(y0 + 1, w.y() + w.height() - 1);
  const double ax = x - static_cast<double>(x0), ay = y - static_cast<double>(y0);
  const double top = image.at(x0, y0) * (1.0 - ax) + image.at(x1, y0) * ax;
  const double bottom = image.at(x0, y1) * (1.0 - ax) + image.at(x1, y1) * ax;
  return top * (1.0 - ay) + bottom * ay;
}

// Where a dot's grey value lies between its ink (0) and its ground (1).
double groundShare(const ccPelBuffer_const<unsigned char>& image, const ccDotShape& dot,
                   const ccVector<2>& at) {
  const double contrast = dot.ground - dot.ink;
  return contrast == 0.0 ? 1.0 : (sample(image, at) - dot.ink) / contrast;
}

// Dots that the lattice stepped over. When many dots are missing among the candidates, a
// diagonal or a double step can pass for the nearest neighbours, and the lattice then holds
// only every second or third dot. A dot plate has only ground inside a cell away from its
// four corner dots; every ink spot found there on a grid of kCellProbes x kCellProbes points
// is measured, and the round ones the size of the corner dots are returned. Each dot probes
// the cell spanned by its local lattice steps.
std::vector<ccDotShape> dotsInsideCells(const ccPelBuffer_const<unsigned char>& image, int ink,
                                        const ccDotLattice& lattice) {
  ccBlobResults scratch;
  std::vector<ccDotShape> found;
  for (std::size_t i = 0; i < lattice.size(); ++i) {
    if (i % kCheckInterval == 0) ccAttention::check();
    const ccDotLattice::Dot& d = lattice.dots()[i];
    ccVector<2> bx, by;
    lattice.localBasis(static_cast<int>(i), bx, by);
    const ccVector<2> corner[4] = {d.shape.centre, d.shape.centre + bx, d.shape.centre + by,
                                   d.shape.centre + bx + by};
    const double r = radiusOf(d.shape), clear = kCornerClearance * r + kBlurAllowance;
    bool inkSeen = false;
    for (int a = 1; a < kCellProbes && !inkSeen; ++a) {
      for (int b = 1; b < kCellProbes && !inkSeen; ++b) {
        const ccVector<2> at = d.shape.centre + bx * (static_cast<double>(a) / kCellProbes) +
                               by * (static_cast<double>(b) / kCellProbes);
        bool nearCorner = false;
        for (const ccVector<2>& c : corner) nearCorner = nearCorner || (c - at).length() < clear;
        if (nearCorner || groundShare(image, d.shape, at) >= 0.5) continue;
        inkSeen = true;
        ccDotShape dot;
        const double unbounded = std::numeric_limits<double>::infinity();
        if (measureDot(image, at, r, windowHalfSize(r, unbounded), ink, scratch, dot) &&
            cfSimilarDotShapes(d.shape, dot)) {
          found.push_back(dot);
        }
      }
    }
  }
  return found;
}

// Looks for a dot wherever the lattice predicts one next to it and none was found, and
// grows on from every dot found that way.
void completeLattice(const ccPelBuffer_const<unsigned char>& image, int ink,
                     ccDotLattice& lattice) {
  ccBlobResults scratch;
  std::vector<ccLatticeLabel> work = lattice.gaps();
  std::vector<std::pair<long, long>> tried;
  auto wasTried = [&](const ccLatticeLabel& l) {
    const std::pair<long, long> k(l.x(), l.y());
    const auto it = std::lower_bound(tried.begin(), tried.end(), k);
    if (it != tried.end() && *it == k) return true;
    tried.insert(it, k);
    return false;
  };
  std::size_t n = 0;
  while (!work.empty()) {
    if (++n % kCheckInterval == 0) ccAttention::check();
    const ccLatticeLabel label = work.back();
    work.pop_back();
    if (lattice.find(label) >= 0 || wasTried(label)) continue;
    ccVector<2> where;
    int source = -1;
    if (!lattice.predict(label, where, source)) continue;
    const ccDotShape& like = lattice.dots()[static_cast<std::size_t>(source)].shape;
    const double r = radiusOf(like), spacing = lattice.minSpacing(source);
    ccDotShape found;
    if (!measureDot(image, where, r, windowHalfSize(r, spacing), ink, scratch, found)) continue;
    if (std::fabs(found.ground - found.ink) < kMinContrastShare * std::fabs(like.ground - like.ink))
      continue;
    if (!lattice.tryAdd(label, found)) continue;
    for (const ccLatticeLabel& step : {ccLatticeLabel(1, 0), ccLatticeLabel(-1, 0),
                                       ccLatticeLabel(0, 1), ccLatticeLabel(0, -1)}) {
      if (lattice.find(label + step) < 0) work.push_back(label + step);
    }
  }
}

// The dots' moment ellipses in lattice units (normalised to unit trace), averaged.
bool meanLatticeShape(const ccDotLattice& lattice, double& nxx, double& nxy, double& nyy) {
  nxx = nxy = nyy = 0.0;
  int n = 0;
  for (std::size_t i = 0; i < lattice.size(); ++i) {
    ccVector<2> bx, by;
    lattice.localBasis(static_cast<int>(i), bx, by);
    const double det = bx.cross(by);
    if (det == 0.0) continue;
    // inverse(B) M inverse(B)^T with B = [bx by].
    const double ixx = by.y() / det, ixy = -by.x() / det, iyx = -bx.y() / det, iyy = bx.x() / det;
    const ccDotShape& s = lattice.dots()[i].shape;
    const double a = ixx * s.mxx + ixy * s.mxy, b = ixx * s.mxy + ixy * s.myy;
    const double c = iyx * s.mxx + iyy * s.mxy, d = iyx * s.mxy + iyy * s.myy;
    const double txx = a * ixx + b * ixy, txy = a * iyx + b * iyy, tyy = c * iyx + d * iyy;
    const double trace = txx + tyy;
    if (!(trace > 0.0)) continue;
    nxx += txx / trace;
    nxy += txy / trace;
    nyy += tyy / trace;
    ++n;
  }
  return n > 0;
}

// Smaller over larger eigenvalue of a symmetric 2 x 2 matrix.
double eigenRatio(double xx, double xy, double yy) {
  const double half = 0.5 * (xx + yy), dev = std::sqrt(0.25 * (xx - yy) * (xx - yy) + xy * xy);
  return half + dev > 0.0 ? (half - dev) / (half + dev) : 0.0;
}

// Relabels the lattice so that its label axes are the plate's rows and columns: of the
// integer matrices m (|det| 1) the one that makes the dots round in the new labels, that is
// m N m^T closest to a multiple of the identity for the mean lattice-unit moment matrix N.
// (Under a steep oblique view the two shortest lattice steps can include a diagonal of the
// plate; a disc is round only in the plate's own axes.) Returns that roundness.
double relabelToPlateAxes(ccDotLattice& lattice) {
  double nxx, nxy, nyy;
  if (!meanLatticeShape(lattice, nxx, nxy, nyy)) return 0.0;
  double best = -1.0;
  long bm[4] = {1, 0, 0, 1};
  for (long a = -kMaxAxisEntry; a <= kMaxAxisEntry; ++a)
    for (long b = -kMaxAxisEntry; b <= kMaxAxisEntry; ++b)
      for (long c = -kMaxAxisEntry; c <= kMaxAxisEntry; ++c)
        for (long d = -kMaxAxisEntry; d <= kMaxAxisEntry; ++d) {
          if (std::labs(a * d - b * c) != 1) continue;
          // m N m^T
          const double pxx = a * a * nxx + 2.0 * a * b * nxy + b * b * nyy;
          const double pxy = a * c * nxx + (a * d + b * c) * nxy + b * d * nyy;
          const double pyy = c * c * nxx + 2.0 * c * d * nxy + d * d * nyy;
          const double ratio = eigenRatio(pxx, pxy, pyy);
          if (ratio > best + 1e-12) {
            best = ratio;
            bm[0] = a;
            bm[1] = b;
            bm[2] = c;
            bm[3] = d;
          }
        }
  lattice.relabel(bm[0], bm[1], bm[2], bm[3], ccLatticeLabel(0, 0));
  return best;
}

struct Marker {
  bool found = false;
  ccVector<2> point;  // image of the marker cell centre
};

// Finds the marker cell by probing every cell along the lines where the bars must lie and,
// when exactly one cell shows two bars on perpendicular half-axes and ground elsewhere,
// relabels the lattice to the plate's cell indices counted from the marker.
Marker anchorToMarker(const ccPelBuffer_const<unsigned char>& image, ccDotLattice& lattice) {
  Marker marker;
  const ccLatticeLabel axes[4] = {ccLatticeLabel(1, 0), ccLatticeLabel(-1, 0), ccLatticeLabel(0, 1),
                                  ccLatticeLabel(0, -1)};
  int cells = 0;
  ccLatticeLabel cell, bar[2];
  ccPlaneHomography cellH;
  for (std::size_t i = 0; i < lattice.size() && cells < 2; ++i) {
    if (i % kCheckInterval == 0) ccAttention::check();
    const ccDotShape& d = lattice.dots()[i].shape;
    ccVector<2> bx, by;
    lattice.localBasis(static_cast<int>(i), bx, by);
    // Screening at the bars' middles, in the dot's local affine frame.
    const ccVector<2> centre = d.centre + (bx + by) * 0.5;
    int inky[4], n = 0;
    for (int a = 0; a < 4; ++a) {
      const ccVector<2> step =
          bx * static_cast<double>(axes[a].x()) + by * static_cast<double>(axes[a].y());
      if (groundShare(image, d, centre + step * kBarMiddle) < kBarInkShare) inky[n++] = a;
    }
    if (n != 2 || (axes[inky[0]].x() == 0) == (axes[inky[1]].x() == 0)) continue;
    // Probing through the homography of the surrounding dots, labels relative to the centre.
    const ccLatticeLabel l = lattice.dots()[i].label;
    ccPlaneHomography h;
    if (!localHomography(lattice, ccVector<2>(l.x() + 0.5, l.y() + 0.5), 1.5, h)) continue;
    bool isMarker = true;
    for (int a = 0; a < 4 && isMarker; ++a) {
      const bool isBar = a == inky[0] || a == inky[1];
      const ccVector<2> dir(static_cast<double>(axes[a].x()), static_cast<double>(axes[a].y()));
      if (isBar) {
        for (double t : kBarProbes)
          isMarker = isMarker && groundShare(image, d, h.map(dir * t)) <= kBarInkShare;
      } else {
        for (double t : kGroundProbes)
          isMarker = isMarker && groundShare(image, d, h.map(dir * t)) >= kGroundShare;
      }
    }
    if (!isMarker) continue;
    ++cells;
    cell = l;
    bar[0] = axes[inky[0]];
    bar[1] = axes[inky[1]];
    cellH = h;
  }
  if (cells != 1) return marker;
  // Bar 1 turns clockwise (image y down) into bar 2.
  const ccVector<2> c = cellH.map(ccVector<2>());
  const ccVector<2> e0 =
      cellH.map(ccVector<2>(static_cast<double>(bar[0].x()), static_cast<double>(bar[0].y()))) - c;
  const ccVector<2> e1 =
      cellH.map(ccVector<2>(static_cast<double>(bar[1].x()), static_cast<double>(bar[1].y()))) - c;
  if (e0.cross(e1) < 0.0) std::swap(bar[0], bar[1]);
  const ccLatticeLabel d1 = bar[0], d2 = bar[1];
  // Doubled cell centre; corner (i0, j0) = centre - d1 / 2 - d2 / 2; new label =
  // ((l - corner) . d1, (l - corner) . d2).
  const long c2x = 2 * cell.x() + 1, c2y = 2 * cell.y() + 1;
  const ccLatticeLabel corner((c2x - d1.x() - d2.x()) / 2, (c2y - d1.y() - d2.y()) / 2);
  const long m00 = d1.x(), m01 = d1.y(), m10 = d2.x(), m11 = d2.y();
  lattice.relabel(m00, m01, m10, m11,
                  ccLatticeLabel(-(m00 * corner.x() + m01 * corner.y()),
                                 -(m10 * corner.x() + m11 * corner.y())));
  marker.point = c;
  marker.found = true;
  return marker;
}

// Without a marker: (0, 0) at the dot nearest the lattice's centroid, label x along the axis
// nearest image +x, label y along the other axis towards image +y.
void orientByImageAxes(ccDotLattice& lattice) {
  ccVector<2> centroid;
  for (const ccDotLattice::Dot& d : lattice.dots()) centroid += d.shape.centre;
  centroid /= static_cast<double>(lattice.size());
  int origin = 0;
  for (std::size_t i = 1; i < lattice.size(); ++i) {
    if ((lattice.dots()[i].shape.centre - centroid).lengthSq() <
        (lattice.dots()[static_cast<std::size_t>(origin)].shape.centre - centroid).lengthSq()) {
      origin = static_cast<int>(i);
    }
  }
  ccVector<2> bx, by;
  lattice.localBasis(origin, bx, by);
  const double cx = bx.x() / bx.length(), cy = by.x() / by.length();
  long m00, m01, m10, m11;
  if (std::fabs(cx) >= std::fabs(cy)) {
    m00 = cx >= 0.0 ? 1 : -1;
    m01 = 0;
    m10 = 0;
    m11 = by.y() >= 0.0 ? 1 : -1;
  } else {
    m00 = 0;
    m01 = cy >= 0.0 ? 1 : -1;
    m10 = bx.y() >= 0.0 ? 1 : -1;
    m11 = 0;
  }
  const ccLatticeLabel o = lattice.dots()[static_cast<std::size_t>(origin)].label;
  lattice.relabel(m00, m01, m10, m11,
                  ccLatticeLabel(-(m00 * o.x() + m01 * o.y()), -(m10 * o.x() + m11 * o.y())));
}

double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// Empty labels with dots on both sides of them along their row and along their column: a
// printed plate has none but where a dot was lost; a mesh or a weave that happens to look
// like a few rows of dots has many.
std::size_t interiorHoles(const ccDotLattice& lattice) {
  std::vector<std::pair<long, long>> rows, cols;  // (row, x) and (column, y) of every dot
  for (const ccDotLattice::Dot& d : lattice.dots()) {
    rows.emplace_back(d.label.y(), d.label.x());
    cols.emplace_back(d.label.x(), d.label.y());
  }
  std::sort(rows.begin(), rows.end());
  std::sort(cols.begin(), cols.end());
  auto between = [](const std::vector<std::pair<long, long>>& v, long line, long at) {
    const auto it = std::lower_bound(v.begin(), v.end(), std::make_pair(line, at));
    return it != v.begin() && std::prev(it)->first == line && it != v.end() && it->first == line;
  };
  std::size_t holes = 0;
  for (std::size_t k = 0; k + 1 < rows.size(); ++k) {
    if (rows[k].first != rows[k + 1].first) continue;
    for (long x = rows[k].second + 1; x < rows[k + 1].second; ++x) {
      if (between(cols, x, rows[k].first)) ++holes;
    }
  }
  return holes;
}

// Is this lattice a dot plate? Throws TooFewDotsFound or BadCorrespondence if not.
void judgePlate(const ccPelBuffer_const<unsigned char>& image, const ccDotLattice& lattice,
                double roundness, const ccRobustGridOptions& options, bool markerFound) {
  if (static_cast<long>(lattice.size()) < options.minDots) throw ccCalibDefs::TooFewDotsFound();
  long minX = std::numeric_limits<long>::max(), maxX = std::numeric_limits<long>::min(),
       minY = minX, maxY = maxX;
  for (const ccDotLattice::Dot& d : lattice.dots()) {
    minX = std::min(minX, d.label.x());
    maxX = std::max(maxX, d.label.x());
    minY = std::min(minY, d.label.y());
    maxY = std::max(maxY, d.label.y());
  }
  const long spanX = maxX - minX + 1, spanY = maxY - minY + 1;
  if (spanX < kMinSpan || spanY < kMinSpan) throw ccCalibDefs::TooFewDotsFound();
  if (interiorHoles(lattice) > kMaxHoleShare * static_cast<double>(lattice.size()))
    throw ccCalibDefs::BadCorrespondence();

  std::vector<double> fill, separation;
  double latticeArea = 0.0;
  for (std::size_t i = 0; i < lattice.size(); ++i) {
    const ccDotLattice::Dot& d = lattice.dots()[i];
    ccVector<2> bx, by;
    lattice.localBasis(static_cast<int>(i), bx, by);
    const double cell = std::fabs(bx.cross(by));
    latticeArea += cell;
    if (cell > 0.0) fill.push_back(d.shape.area / cell);
    for (const ccLatticeLabel& step : {ccLatticeLabel(1, 0), ccLatticeLabel(0, 1)}) {
      const int n = lattice.find(d.label + step);
      if (n < 0) continue;
      const ccVector<2> mid =
          (d.shape.centre + lattice.dots()[static_cast<std::size_t>(n)].shape.centre) * 0.5;
      separation.push_back(groundShare(image, d.shape, mid));
    }
  }
  const double imageArea = static_cast<double>(image.width()) * static_cast<double>(image.height());
  if (latticeArea < kMinImageShare * imageArea) throw ccCalibDefs::TooFewDotsFound();
  const double cellFill = median(fill);
  if (cellFill < kMinCellFill || cellFill > kMaxCellFill || roundness < kMinRoundness ||
      median(separation) < kMinSeparation) {
    throw ccCalibDefs::BadCorrespondence();
  }
  if (options.rows > 0 && options.cols > 0) {
    const bool fits = spanX <= options.cols && spanY <= options.rows;
    const bool fitsTurned = spanX <= options.rows && spanY <= options.cols;
    if (!(fits || (!markerFound && fitsTurned))) throw ccCalibDefs::BadCorrespondence();
  }
}

// Moves each dot centre from the centre of its image ellipse (what the blob tool measures)
// to the image of the disc's centre, through the homography of the dot's 3 x 3 (else 5 x 5)
// neighbourhood and the disc radius that its area gives at the homography's local scale.
void correctPerspective(ccDotLattice& lattice) {
  std::vector<ccVector<2>> shift(lattice.size());
  for (std::size_t i = 0; i < lattice.size(); ++i) {
    if (i % kCheckInterval == 0) ccAttention::check();
    const ccDotLattice::Dot& d = lattice.dots()[i];
    const ccVector<2> at(static_cast<double>(d.label.x()), static_cast<double>(d.label.y()));
    ccPlaneHomography h;
    if (!localHomography(lattice, at, 1.0, h) && !localHomography(lattice, at, 2.0, h)) continue;
    const double scale = h.areaScale(ccVector<2>());
    if (!(scale > 0.0)) continue;
    const double radius = std::sqrt(d.shape.area / (ccPi * scale));
    const ccVector<2> s = h.map(ccVector<2>()) - cfImagedCircleCentre(h, ccVector<2>(), radius);
    // The true shift is a few hundredths of the radius; a larger one means a poor fit.
    if (s.length() <= kMaxPerspectiveShift * radiusOf(d.shape)) shift[i] = s;
  }
  for (std::size_t i = 0; i < lattice.size(); ++i) {
    ccDotShape s = lattice.dots()[i].shape;
    s.centre += shift[i];
    lattice.setShape(static_cast<int>(i), s);
  }
}

// ----------------------------------------------------------------------------------------
// Step: one polarity from candidates to a judged, labelled lattice.

struct Grid {
  ccDotLattice lattice;
  int ink = kDark;
  Marker marker;
};

// A lattice over every second or third dot grows again, with the dots it stepped over.
void regrowOverSkippedDots(const ccPelBuffer_const<unsigned char>& image, int ink,
                           ccDotLattice& lattice) {
  for (int round = 0; round < kMaxRegrowths; ++round) {
    const std::vector<ccDotShape> skipped = dotsInsideCells(image, ink, lattice);
    if (skipped.size() < std::max(kMinSkippedDots, lattice.size() / kSkippedShare)) return;
    std::vector<ccDotShape> all = skipped;
    for (const ccDotLattice::Dot& d : lattice.dots()) all.push_back(d.shape);
    lattice = ccDotLattice::grow(all);
    lattice.prune();
  }
}

Grid labelPlate(const ccPelBuffer_const<unsigned char>& image, ccDotLattice lattice, int ink,
                const ccRobustGridOptions& options) {
  Grid g;
  g.ink = ink;
  refineDots(image, ink, lattice);
  lattice.prune();
  regrowOverSkippedDots(image, ink, lattice);
  ccAttention::check();
  completeLattice(image, ink, lattice);
  lattice.prune();
  ccAttention::check();
  if (static_cast<long>(lattice.size()) < options.minDots) throw ccCalibDefs::TooFewDotsFound();
  const double roundness = relabelToPlateAxes(lattice);
  g.marker = anchorToMarker(image, lattice);
  if (!g.marker.found) orientByImageAxes(lattice);
  judgePlate(image, lattice, roundness, options, g.marker.found);
  if (options.correctPerspective) correctPerspective(lattice);
  g.lattice = std::move(lattice);
  return g;
}

// Grows a lattice for each allowed polarity and labels the larger first; the other is
// tried when the larger is refused.
Grid findPlate(const ccPelBuffer_const<unsigned char>& image, const Candidates& candidates,
               ccCalibDefs::Polarity polarity, const ccRobustGridOptions& options) {
  std::vector<std::pair<ccDotLattice, int>> lattices;
  if (polarity != ccCalibDefs::ePolarityNormal)
    lattices.emplace_back(ccDotLattice::grow(candidates.dots[kDark]), kDark);
  ccAttention::check();
  if (polarity != ccCalibDefs::ePolarityInverted)
    lattices.emplace_back(ccDotLattice::grow(candidates.dots[kLight]), kLight);
  ccAttention::check();
  std::stable_sort(lattices.begin(), lattices.end(),
                   [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
  std::unique_ptr<ccCalibDefs::Errors> firstFailure;
  for (auto& [lattice, ink] : lattices) {
    if (static_cast<long>(lattice.size()) < kMinDotsFloor) break;
    try {
      return labelPlate(image, std::move(lattice), ink, options);
    } catch (const ccCalibDefs::TooFewDotsFound& e) {
      if (!firstFailure) firstFailure = std::make_unique<ccCalibDefs::TooFewDotsFound>(e);
    } catch (const ccCalibDefs::BadCorrespondence& e) {
      if (!firstFailure) firstFailure = std::make_unique<ccCalibDefs::BadCorrespondence>(e);
    }
  }
  if (firstFailure) firstFailure.release()->suicideAndRethrow();
  throw ccCalibDefs::TooFewDotsFound();
}

// ----------------------------------------------------------------------------------------
// Step: transforms and residuals.

void fitTransforms(const ccGridCalibParams& params, const std::vector<ccVector<2>>& imagePoints,
                   const std::vector<ccVector<2>>& clientPoints, ccGridCalibResults& results) {
  cfGridFitPolynomial(params, imagePoints, clientPoints, results);
  cfGridFitAffine(imagePoints, clientPoints, A::clientFromImage(results));
  if (params.calibType() == ccCalibDefs::eGridLinear) {
    A::clientFromImageBase(results) = std::make_shared<cc2XformLinear>(A::clientFromImage(results));
  }
  cfGridResiduals(imagePoints, clientPoints, results);
  if (params.ignoreGridAngle()) cfGridRemoveAngle(results);
}

// Dots in row-major label order, with their plate positions.
void storeDots(const ccGridCalibParams& params, const Grid& g, ccGridCalibResults& results,
               std::vector<ccPair<long>>& labels, std::vector<ccVector<2>>& clientPoints) {
  std::vector<const ccDotLattice::Dot*> dots;
  for (const ccDotLattice::Dot& d : g.lattice.dots()) dots.push_back(&d);
  std::sort(dots.begin(), dots.end(), [](const ccDotLattice::Dot* a, const ccDotLattice::Dot* b) {
    return a->label.y() != b->label.y() ? a->label.y() < b->label.y() : a->label.x() < b->label.x();
  });
  const double ySign = params.isLeftHanded() ? 1.0 : -1.0;
  std::vector<double> thresholds;
  for (const ccDotLattice::Dot* d : dots) {
    A::imagePoints(results).push_back(d->shape.centre);
    labels.push_back(d->label);
    clientPoints.emplace_back(static_cast<double>(d->label.x()) * params.gridPitchX(),
                              ySign * static_cast<double>(d->label.y()) * params.gridPitchY());
    thresholds.push_back(0.5 * (d->shape.ground + d->shape.ink));
  }
  A::threshold(results) =
      static_cast<unsigned char>(std::clamp(std::lround(median(thresholds)), 0L, 255L));
  A::polarity(results) =
      g.ink == kDark ? ccCalibDefs::ePolarityInverted : ccCalibDefs::ePolarityNormal;
  A::markerFound(results) = g.marker.found;
  if (g.marker.found) A::markerPoint(results) = g.marker.point;
}

}  // namespace

void cfCalibrationRunRobust(const ccPelBuffer_const<unsigned char>& image,
                            const ccGridCalibParams& params, const ccRobustGridOptions& options,
                            ccGridCalibResults& results, std::vector<ccPair<long>>& labels,
                            ccDiagObject* diag, unsigned long diagFlags) {
  results = ccGridCalibResults();
  labels.clear();
  if (!image.isBound()) throw ccPel::UnboundWindow();
  cfGridRecordInput(diag, diagFlags, image);
  ccPelBuffer_const<unsigned char> work = image;
  work.clientFromImageXform(ccXform<2>());
  A::params(results) = params;
  checkParams(params, options);
  A::mutating(results);

  const ccRegionalThreshold thresholds(work);
  if (!thresholds.valid()) throw ccCalibDefs::TooFewDotsFound();
  A::threshold(results) = static_cast<unsigned char>(thresholds.typical());
  const ccPelBuffer<unsigned char> binary = thresholds.binarise(work);
  if (diag != nullptr && diag->shouldRecord(diagFlags, kCalibDiagDots)) {
    A::edgeImage(results) = thresholds.strongEdges();
    A::segmentedImage(results).encode(binary);
  }
  const Candidates candidates = findCandidates(binary);

  const Grid grid = findPlate(work, candidates, params.polarity(), options);
  ccAttention::check();

  std::vector<ccVector<2>> clientPoints;
  std::vector<ccPair<long>> found;
  storeDots(params, grid, results, found, clientPoints);
  if (diag != nullptr && diag->shouldRecord(diagFlags, kCalibDiagDots)) {
    cfGridRecordDots(*diag, "Detected and Labelled Dots", image, params,
                     results.isMarkerFound() ? &A::markerPoint(results) : nullptr,
                     A::imagePoints(results));
  }
  fitTransforms(params, A::imagePoints(results), clientPoints, results);
  labels = std::move(found);
}
