// SPDX-License-Identifier: Apache-2.0
// Dot detection and filtering for the dot-grid calibration.
#include "cal/calib/dot_detection.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "cal/calib/grid_calib_results_access.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"
#include "platform/foundation/pel_ops.h"
#include "platform/vision/blob.h"
#include "platform/vision/edge.h"

namespace {

// Threshold estimation.
constexpr double kTopEdgeFraction = 0.25;  // share of edge pixels that sets the cut-off
constexpr double kCutoffFraction = 0.35;   // cut-off lies this much below that magnitude
constexpr double kEdgeSmoothing = 0.89;    // gradient smoothing, pixels
constexpr double kEdgeMagnitude = 12.0;    // weakest edgelet, grey levels per pixel
constexpr int kEdgeTypeRequest = 1;        // magnitude and angle images
constexpr unsigned char kPeakThreshold = 12;
constexpr double kDefaultEdgeStrength = 8.0;
constexpr int kFallbackThreshold = 150;  // when the image has no edges

// Soft band: a fifth of the edge strength, between 8 and 100 grey levels.
constexpr double kBandPerEdgeStrength = 0.2;
constexpr double kMaxBand = 100.0;
constexpr double kMinBand = 8.0;
constexpr int kSoftness = 6;

// Blob pass.
constexpr double kMinBlobArea = 25.2;  // pixels
constexpr double kMaxBlobArea = 1e10;
constexpr double kPassBorder = 2.0;           // pixels kept clear of the window edge
constexpr double kMaxMarkerAspect = 0.4;      // marker bars are elongated
constexpr double kBackgroundMinShare = 0.05;  // a blob this large may be background
constexpr double kBackgroundMaxShare = 0.5;   // two such blobs may not cover more

// Dot tests.
constexpr double kShapeTolerance = 0.33;  // box height / width within 1 -/+ this
constexpr double kDotBorder = 5.0;        // pixels kept clear of the window edge
constexpr double kAreaSpread = 6.0;       // accepted area: median -/+ this many deviations
constexpr double kAreaSampleShare = 0.9;  // share of blobs (in area order) in the deviation

// Marker.
constexpr double kMarkerMinWidth = 1.75;                // bar length in mean dot widths
constexpr double kMarkerMinAngle = 1.0995574287564276;  // 0.35 pi
constexpr double kMarkerMaxAngle = 2.0420352248333655;  // 0.65 pi
constexpr int kMinDotsForMarker = 3;

// Blobs examined between two cancellation checks.
constexpr std::size_t kBlobsPerCheck = 64;

// Blob measure numbers used here.
enum : int {
  kLabel = 0,
  kArea = 1,
  kCenterX = 5,
  kCenterY = 6,
  kMinX = 18,
  kMaxX = 19,
  kMinY = 20,
  kMaxY = 21,
  kExtentX = 22,
  kExtentY = 23,
  kPrincipalAspect = 10,  // aspectPrincipal(false), kept by the blob tool
  kPrincipalLength = 12   // boundingBoxPrincipal(false).width(), kept by the blob tool
};
constexpr int kAscending = 0;

double measure(const ccBlob* b, int m) {
  return b->measure(m);
}

bool blobPass(const ccPelBuffer_const<unsigned char>& image, const ccBlobParams& params,
              ccBlobResults& results, std::vector<const ccBlob*>& list, ccRLEBuffer* segmented,
              bool markerMode) {
  ccBlobParams p = params;
  if (markerMode) {
    p.setSegmentationHardThresh((p.thresh() + p.hiThresh()) / 2, p.invert());
    p.keepRLE(false);
  }
  // Nothing below reads a blob smaller than the area filter.
  p.prefilterMinArea(kMinBlobArea);
  cfBlobAnalysis(image, p, results);
  ccAttention::check();

  if (!markerMode && segmented != nullptr) {
    const int n = p.softness() + 2;
    std::vector<unsigned char> table(256, 255);
    for (int i = 0; i < n; ++i) table[i] = static_cast<unsigned char>(i * (255.0 / (n - 1)));
    *segmented = results.takeRLE();
    segmented->remap(table);
  }

  const double x0 = static_cast<double>(image.offset().x()),
               y0 = static_cast<double>(image.offset().y());
  const double w = static_cast<double>(image.width()), h = static_cast<double>(image.height());
  // A window narrower than the two borders holds no blob clear of them.
  if (w < 2.0 * kPassBorder || h < 2.0 * kPassBorder) {
    list.clear();
    return false;
  }
  ccBlobSceneDescription& scene = results.connectedBlobs();
  scene.setFilter(ccBlob::Measure(kLabel), 1.0, 1.0, false);
  scene.setFilter(ccBlob::Measure(kArea), kMinBlobArea, kMaxBlobArea, false);
  scene.setSort(ccBlob::Measure(kArea), kAscending);
  scene.setFilter(ccBlob::Measure(kMinX), x0 + kPassBorder, x0 + w - kPassBorder, false);
  scene.setFilter(ccBlob::Measure(kMaxX), x0 + kPassBorder, x0 + w - kPassBorder, false);
  scene.setFilter(ccBlob::Measure(kMinY), y0 + kPassBorder, y0 + h - kPassBorder, false);
  scene.setFilter(ccBlob::Measure(kMaxY), y0 + kPassBorder, y0 + h - kPassBorder, false);
  list = scene.allBlobs(true);
  ccAttention::check();

  if (markerMode) {
    list.erase(std::remove_if(list.begin(), list.end(),
                              [](const ccBlob* b) {
                                return !(measure(b, kPrincipalAspect) < kMaxMarkerAspect);
                              }),
               list.end());
  }
  if (list.size() < 2) return false;

  if (!markerMode) {
    // The pass failed when the segmentation took the background for the dots.
    scene.clearFilters();
    scene.setSort(ccBlob::Measure(kArea), kAscending);
    scene.setFilter(ccBlob::Measure(kLabel), 1.0, 1.0, false);
    scene.setFilter(ccBlob::Measure(kArea), kBackgroundMinShare * w * h, kMaxBlobArea, false);
    std::vector<const ccBlob*> big = scene.allBlobs(true);
    double covered = 0.0;
    for (std::size_t k = 0; k < big.size() && k < 2; ++k) covered += big[k]->area();
    if (covered > kBackgroundMaxShare * w * h) return false;
  }
  return true;
}

// Accepted area range: the median area -/+ kAreaSpread mean absolute deviations, the
// deviation taken over the first 90 % of the blobs in area order.
void areaBounds(const std::vector<const ccBlob*>& list, double& lo, double& hi) {
  cstd_assert_(!list.empty());
  if (list.empty()) {
    lo = hi = 0.0;
    return;
  }
  const std::size_t n = list.size();
  const double middle =
      (n % 2 == 1) ? list[n / 2]->area() : 0.5 * (list[n / 2 - 1]->area() + list[n / 2]->area());
  const std::size_t k = static_cast<std::size_t>(iRound(kAreaSampleShare * static_cast<double>(n)));
  double dev = 0.0;
  for (std::size_t i = 0; i < k; ++i) dev += std::fabs(list[i]->area() - middle);
  if (k > 0) dev /= static_cast<double>(k);
  lo = middle - kAreaSpread * dev;
  hi = middle + kAreaSpread * dev;
}

}  // namespace

int cfCalibEstimateThreshold(const ccPelBuffer_const<unsigned char>& image, double topEdgeFraction,
                             double cutoffFraction, ccRLEBuffer& edgeImage, double& edgeStrength) {
  cstd_assert_(topEdgeFraction > 0.0 && topEdgeFraction <= 1.0);
  cstd_assert_(topEdgeFraction + cutoffFraction > 0.0 && topEdgeFraction + cutoffFraction <= 1.0);

  ccPelBuffer_const<unsigned char> grey = image;
  grey.offset(0, 0);

  ccPelBuffer<unsigned char> magnitude, angle;
  cfEdgeDetect(grey, ccEdgeletParams(kEdgeSmoothing, kEdgeMagnitude, kEdgeTypeRequest), magnitude,
               angle);
  ccAttention::check();
  // The peak image replaces the magnitude image (in place).
  long count = 0;
  cfTruePeak(magnitude, angle, kPeakThreshold, magnitude, count);
  ccAttention::check();
  if (count == 0) return -1;
  const ccPelBuffer<unsigned char>& peaks = magnitude;

  const std::vector<unsigned long> h = cfPelHistogram(peaks);
  const unsigned long total = static_cast<unsigned long>(peaks.width() * peaks.height());
  const unsigned long edges = total - h[0];
  const unsigned long target =
      static_cast<unsigned long>(topEdgeFraction * static_cast<double>(edges));
  unsigned long sum = 0;
  int k = 255;
  while (sum < target && k > 0) sum += h[k--];
  // A cut-off of 0 would call every pixel a strong edge; 1 keeps "no magnitude" out.
  const int cutoff = std::max(1, static_cast<int>(iRound(k * (1.0 - cutoffFraction))));

  unsigned long weighted = 0, strong = 0;
  for (int b = 255; b >= cutoff; --b) {
    weighted += static_cast<unsigned long>(b) * h[b];
    strong += h[b];
  }
  // No pixel at or above the cut-off (possible with very few edge pixels): keep the preset.
  if (strong > 0) edgeStrength = static_cast<double>(static_cast<long>(weighted / strong));

  // Strong-edge map (255 at or above the cut-off), kept as the edge image; the angle image
  // is no longer needed and holds it.
  std::vector<unsigned char> table(256, 0);
  for (int b = cutoff; b < 256; ++b) table[b] = 255;
  ccPelBuffer<unsigned char>& strongMap = angle;
  cfPelMap(peaks, table, strongMap);
  edgeImage.encode(strongMap);
  edgeImage.offset(ccPair<long>(edgeImage.offset().x() + image.offset().x(),
                                edgeImage.offset().y() + image.offset().y()));

  // Mean grey value on strong edges: the histogram of min(strong map, grey), whose
  // non-zero bins are the grey values under strong edges.
  std::vector<unsigned long> g(256, 0);
  for (long j = 0; j < grey.height(); ++j) {
    const unsigned char* gr = grey.row(j);
    const unsigned char* e = strongMap.row(j);
    for (long i = 0; i < grey.width(); ++i) {
      if (e[i] != 0) ++g[gr[i]];
    }
  }
  double greySum = 0.0;
  unsigned long running = 0;
  for (int b = 255; b >= 1; --b) {
    running += g[b];
    greySum += static_cast<double>(running);
  }
  unsigned long nonZero = 0;
  for (int b = 1; b < 256; ++b) nonZero += g[b];
  if (nonZero == 0) return -1;
  return static_cast<int>(iRound(greySum / static_cast<double>(nonZero)));
}

void cfCalibDetectDots(const ccPelBuffer_const<unsigned char>& image,
                       ccCalibDefs::Polarity polarity, double minFillRatio, double maxFillRatio,
                       ccGridCalibResults& results) {
  using A = ccGridCalibRunAccess;

  double edgeStrength = kDefaultEdgeStrength;
  int t = cfCalibEstimateThreshold(image, kTopEdgeFraction, kCutoffFraction, A::edgeImage(results),
                                   edgeStrength);
  if (t < 0) t = kFallbackThreshold;
  A::threshold(results) = static_cast<unsigned char>(t);
  ccAttention::check();

  const double band = std::max(kMinBand, std::min(kMaxBand, kBandPerEdgeStrength * edgeStrength));
  const int low = std::max(0, static_cast<int>(t - band / 2.0));
  const int high = std::min(255, static_cast<int>(t + band / 2.0));

  bool invert = polarity == ccCalibDefs::ePolarityInverted;
  A::polarity(results) = invert ? ccCalibDefs::ePolarityInverted : ccCalibDefs::ePolarityNormal;

  ccBlobParams params;
  params.setSegmentationSoftThresh(low, high, kSoftness, invert);
  params.keepRLE(true);

  ccBlobResults blobResults;
  std::vector<const ccBlob*> blobs;
  if (!blobPass(image, params, blobResults, blobs, &A::segmentedImage(results), false)) {
    if (polarity == ccCalibDefs::ePolarityAny) {
      params.setSegmentationSoftThresh(low, high, kSoftness, !params.invert());
      blobPass(image, params, blobResults, blobs, &A::segmentedImage(results), false);
    }
    if (blobs.size() < 2) throw ccCalibDefs::TooFewDotsFound();
    A::polarity(results) = ccCalibDefs::ePolarityInverted;
  }

  double lo = 0.0, hi = 0.0;
  areaBounds(blobs, lo, hi);

  const double x0 = static_cast<double>(image.offset().x()),
               y0 = static_cast<double>(image.offset().y());
  const double w = static_cast<double>(image.width()), h = static_cast<double>(image.height());
  std::vector<ccVector<2>>& points = A::imagePoints(results);
  points.clear();
  double widthSum = 0.0;
  for (std::size_t k = 0; k < blobs.size(); ++k) {
    if (k % kBlobsPerCheck == 0) ccAttention::check();
    const ccBlob* b = blobs[k];
    const double ex = measure(b, kExtentX), ey = measure(b, kExtentY), area = b->area();
    const double shape = ey / ex;
    if (!(shape >= 1.0 - kShapeTolerance && shape <= 1.0 + kShapeTolerance)) continue;
    const double fill = area / (ey * ex);
    if (!(fill >= minFillRatio && fill <= maxFillRatio)) continue;
    if (!(area >= lo && area <= hi)) continue;
    if (!(measure(b, kMinX) >= x0 + kDotBorder && measure(b, kMaxX) <= x0 + w - kDotBorder &&
          measure(b, kMinY) >= y0 + kDotBorder && measure(b, kMaxY) <= y0 + h - kDotBorder)) {
      continue;
    }
    points.emplace_back(measure(b, kCenterX), measure(b, kCenterY));
    widthSum += measure(b, kPrincipalLength);
  }

  // Marker: two elongated blobs, each at least 1.75 dot widths long, crossing at roughly a
  // right angle; the marker point is where their axes cross.
  // The dot blobs are no longer needed: the marker pass reuses their results' memory.
  A::markerFound(results) = false;
  if (points.size() < static_cast<std::size_t>(kMinDotsForMarker)) return;
  ccAttention::check();
  std::vector<const ccBlob*> bars;
  blobs.clear();
  if (!blobPass(image, params, blobResults, bars, nullptr, true)) return;
  const double minBar = kMarkerMinWidth * widthSum / static_cast<double>(points.size());
  for (std::size_t i = bars.size() - 1; i >= 1; --i) {
    if ((bars.size() - 1 - i) % kBlobsPerCheck == 0) ccAttention::check();
    if (!(measure(bars[i], kPrincipalLength) >= minBar)) continue;
    for (std::size_t j = i; j-- > 0;) {
      if (!(measure(bars[j], kPrincipalLength) >= minBar)) continue;
      const double ti = bars[i]->angle().toDouble(), tj = bars[j]->angle().toDouble();
      const double diff = std::fabs(ti - tj);
      if (!(diff > kMarkerMinAngle && diff < kMarkerMaxAngle)) continue;
      const ccVector<2> pi = bars[i]->centerOfMass(), pj = bars[j]->centerOfMass();
      const double a1 = std::sin(ti), b1 = -std::cos(ti), c1 = -(a1 * pi.x() + b1 * pi.y());
      const double a2 = std::sin(tj), b2 = -std::cos(tj), c2 = -(a2 * pj.x() + b2 * pj.y());
      const double d = a1 * b2 - a2 * b1;
      A::markerPoint(results) = ccVector<2>((b1 * c2 - b2 * c1) / d, (a2 * c1 - a1 * c2) / d);
      A::markerFound(results) = true;
      return;
    }
  }
}
