// SPDX-License-Identifier: Apache-2.0
// The fiducial search: threshold the image (under the board mask when there is one), keep the
// elongated, rectangular light blobs, and find the pair of bars that forms the mark: bar A
// crossed off-centre by the axis of bar B, bar B ending at or just before that crossing.
#include <algorithm>
#include <cmath>
#include <limits>

#include "cal/checkerlabels/checker_labels.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/lines.h"
#include "platform/vision/blob.h"
#include "platform/vision/threshold.h"

namespace {

// Smallest threshold score accepted: evenly lit images must split cleanly; the retries on
// the board mask under uneven lighting take a weaker split.
constexpr double kMinScoreUniform = 0.6;
constexpr double kMinScoreNonUniform = 0.5;
// Soft segmentation band above the threshold t: t + kSoftLow .. t + kSoftHigh, softness.
constexpr int kSoftLow = 2;
constexpr int kSoftHigh = 7;
constexpr int kSoftness = 5;
// Bar blobs: no holes, light, at least this area (pixels) and elongation (length / width).
constexpr double kMinBarArea = 5.0;
constexpr double kMinBarElongation = 4.0;
// A bar fills at least this fraction of its principal box.
constexpr double kMinRectangularity = 0.6;
constexpr std::size_t kReservedCandidates = 20;
// Bars less than this far from parallel never form the mark, degrees.
constexpr double kMinBarAngleDeg = 30.0;
// Where the crossing P may lie, in bar lengths: on A between 0.1 and 0.5 from its centre;
// from B's centre between 0.5 and 2.0 (at or beyond an end); within 0.6 of one end of B.
constexpr double kMinOffCentreA = 0.1;
constexpr double kMaxOffCentreA = 0.5;
constexpr double kMinOffCentreB = 0.5;
constexpr double kMaxOffCentreB = 2.0;
constexpr double kMaxEndGapB = 0.6;

struct BarSegment {
  ccLineSeg segment;
  ccDegree direction;
};

void resetOutputs(ccAffineRectangle& rect1, ccAffineRectangle& rect2, ccVector<2>& xStep,
                  ccVector<2>& yStep, ccVector<2>& point) {
  const ccAffineRectangle degenerate(ccXform<2>(ccMatrix<2>(0, 0, 0, 0), ccVector<2>()));
  rect1 = degenerate;
  rect2 = degenerate;
  xStep = ccVector<2>();
  yStep = ccVector<2>();
  point = ccVector<2>();
}

// The segmentation threshold, or -1 when the histogram does not split clearly enough.
int fiducialThreshold(const ccPelBuffer_const<unsigned char>& image,
                      const ccPelBuffer<unsigned char>& mask, bool uniformLighting) {
  std::vector<unsigned long> histogram(256, 0);
  cf_MaskedPelHistogram(image, mask, histogram);
  ccThresholdResult result;
  cfThresholdWGV(histogram, result, 0, -1);
  const double minScore = uniformLighting ? kMinScoreUniform : kMinScoreNonUniform;
  if (!result.isComputed() || result.score() < minScore) return -1;
  return result.threshold();
}

// Light, hole-free, elongated blobs, least elongated first, that fill their principal box.
std::vector<const ccBlob*> barCandidates(ccBlobResults& blobs) {
  ccBlobSceneDescription& scene = blobs.connectedBlobs();
  scene.setFilter(ccBlob::eHoles, 0.0, 0.0, false);
  scene.setFilter(ccBlob::eLabel, 1.0, 1.0, false);
  scene.setFilter(ccBlob::eArea, kMinBarArea, std::numeric_limits<double>::max(), false);
  scene.setFilter(ccBlob::eElongation, kMinBarElongation, std::numeric_limits<double>::max(),
                  false);
  scene.setSort(ccBlob::eElongation, ccBlob::eAscending);
  std::vector<const ccBlob*> candidates;
  candidates.reserve(kReservedCandidates);
  const std::vector<const ccBlob*> bars = scene.allBlobs(true);
  if (bars.size() < 2) return candidates;
  for (const ccBlob* b : bars) {
    const ccRect box = b->boundingBox(true, b->angle());
    if (b->area() / (box.width() * box.height()) >= kMinRectangularity) candidates.push_back(b);
  }
  return candidates;
}

// The blob's extent along its principal axis, as a segment, with that axis's direction.
BarSegment barSegment(const ccBlob* blob) {
  cstd_assert_(blob != nullptr);
  const ccRadian theta = blob->angle();
  const ccRect box = blob->boundingBox(true, theta);
  const ccVector<2> c = blob->center(true, theta);
  const ccVector<2> h(0.5 * box.width(), theta);
  return BarSegment{ccLineSeg(c - h, c + h), ccDegree(theta)};
}

// How evenly the line of y cuts x: positive when x's ends lie on both sides of it, 1 when
// the line bisects x, -1 when x lies on the line.
double crossBalance(const ccLineSeg& x, const ccLineSeg& y) {
  cstd_assert_(!x.isDegenerate() && !y.isDegenerate());
  const ccVector<2> n = (y.p2() - y.p1()).unit().perp();
  const ccVector<2> m = y.midpoint();
  const double a = (x.p1() - m).dot(n), b = (x.p2() - m).dot(n);
  const double big = std::max(std::fabs(a), std::fabs(b));
  if (cfRealEq(big, 0.0, 1e-15)) return -1.0;
  return -(a * b) / (big * big);
}

// Angle between two bar directions folded into [0, 90] degrees.
double barAngleDeg(ccDegree a, ccDegree b) {
  double d = std::fabs((a - b).signedNorm().toDouble());
  return d > 90.0 ? 180.0 - d : d;
}

struct BarPair {
  int a = -1;  // index of bar A in the candidate list
  int b = -1;
};

// The qualifying pair with the longest bar (the earlier pair on equal length).
BarPair bestBarPair(const std::vector<const ccBlob*>& candidates) {
  BarPair best;
  double bestScore = 0.0;
  const int n = static_cast<int>(candidates.size());
  for (int i = 0; i < n; ++i) {
    const BarSegment si = barSegment(candidates[static_cast<std::size_t>(i)]);
    for (int j = i + 1; j < n; ++j) {
      const BarSegment sj = barSegment(candidates[static_cast<std::size_t>(j)]);
      const double angle = barAngleDeg(si.direction, sj.direction);
      if (angle < kMinBarAngleDeg) continue;
      const double e1 = crossBalance(si.segment, sj.segment),
                   e2 = crossBalance(sj.segment, si.segment);
      if (!(std::max(e1, e2) > 0.0)) continue;
      cstd_assert_(angle > 0.0);
      const std::vector<ccVector<2>> crossing =
          ccFLine(si.segment.p1(), si.direction)
              .intersection(ccFLine(sj.segment.p1(), sj.direction));
      if (crossing.size() != 1) continue;
      const ccVector<2>& p = crossing.front();

      const bool swap = e1 < e2;
      const ccLineSeg& segA = swap ? sj.segment : si.segment;
      const ccLineSeg& segB = swap ? si.segment : sj.segment;
      const double lengthA = segA.length(), lengthB = segB.length();
      const double dA = p.distance(segA.midpoint());
      const double dB = p.distance(segB.midpoint());
      const double dE = std::min(p.distance(segB.p1()), p.distance(segB.p2()));
      const bool qualifies = dA >= kMinOffCentreA * lengthA && dA <= kMaxOffCentreA * lengthA &&
                             dB >= kMinOffCentreB * lengthB && dB <= kMaxOffCentreB * lengthB &&
                             dE <= kMaxEndGapB * lengthB;
      const double score = std::max(lengthA, lengthB);
      if (qualifies && score > bestScore) {
        bestScore = score;
        best = swap ? BarPair{j, i} : BarPair{i, j};
      }
    }
  }
  return best;
}

// The bar's rectangle: its box along the principal axis.
ccAffineRectangle barRectangle(const ccBlob* blob) {
  const ccRadian theta = blob->angle();
  const ccRect box = blob->boundingBox(false, theta);
  cstd_assert_(box.width() > 0.0 && box.height() > 0.0);
  return ccAffineRectangle(blob->center(false, theta), box.width(), box.height(), theta,
                           ccRadian(0.0));
}

}  // namespace

bool cfCheckerFindFiducial(const ccPelBuffer_const<unsigned char>& image,
                           const ccPelBuffer<unsigned char>& mask,
                           const ccCalib2VertexFeatureParams& params,
                           ccAffineRectangle& fiducialRect1, ccAffineRectangle& fiducialRect2,
                           ccVector<2>& xStep, ccVector<2>& yStep, ccVector<2>& fiducialPoint) {
  resetOutputs(fiducialRect1, fiducialRect2, xStep, yStep, fiducialPoint);

  const int t = fiducialThreshold(image, mask, params.uniformLighting());
  // The soft band must fit the grey range (the top of the band would wrap past 255).
  if (t < 0 || t + kSoftHigh > 255) return false;

  ccBlobParams blobParams;
  blobParams.setSegmentationSoftThresh(t + kSoftLow, t + kSoftHigh, kSoftness, false);
  ccBlobResults blobs;
  cfBlobAnalysis(image, blobParams, blobs);
  const std::vector<const ccBlob*> candidates = barCandidates(blobs);
  if (candidates.size() < 2) return false;

  const BarPair pair = bestBarPair(candidates);
  if (pair.a < 0) return false;
  const ccBlob* barA = candidates[static_cast<std::size_t>(pair.a)];
  const ccBlob* barB = candidates[static_cast<std::size_t>(pair.b)];

  const ccVector<2> centreA = barA->center(false, barA->angle());
  const ccVector<2> centreB = barB->center(false, barB->angle());
  const std::vector<ccVector<2>> crossing =
      ccFLine(centreA, barA->angle()).intersection(ccFLine(centreB, barB->angle()));
  if (crossing.size() != 1) return false;

  fiducialPoint = crossing.front();
  xStep = (centreA - fiducialPoint).unit();
  yStep = (centreB - fiducialPoint).unit();
  fiducialRect1 = barRectangle(barA);
  fiducialRect2 = barRectangle(barB);
  const bool found = !fiducialRect1.degen() && !fiducialRect2.degen();
  cstd_assert_(found == (xStep != ccVector<2>() && yStep != ccVector<2>()));
  if (!found) resetOutputs(fiducialRect1, fiducialRect2, xStep, yStep, fiducialPoint);
  return found;
}
