// SPDX-License-Identifier: Apache-2.0
// Checker tiles from segmented blobs: a fixed chain of shape and surround filters, and the
// grown convex outline that the mesh stage compares between tiles.
#include <algorithm>
#include <cmath>
#include <vector>

#include "cal/checkertiles/checker_stages.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"
#include "platform/foundation/histo_stats.h"
#include "platform/foundation/pel_ops.h"
#include "platform/foundation/rle_buffer.h"

namespace {

// Blobs between two cancellation checks.
constexpr std::size_t kBlobsPerCheck = 64;
// A blob whose holes add up to this share of its area or more is no checker square.
constexpr double kMaxHoleShare = 0.05;
// A blob covering more than this share of the smaller of itself and a fiducial zone is part
// of the fiducial.
constexpr double kMaxFiducialOverlap = 0.5;
// Outline growth about its centre: scale, and the distance added first (pixels) in the
// uniform and non-uniform paths. Grown outlines of diagonally touching squares overlap.
constexpr double kGrowScale = 1.3;
constexpr double kGrowUniform = 4.0;
constexpr double kGrowNonUniform = 2.0;
// Largest accepted ratio of the principal moments of the grown outline (a w x h box gives
// (w / h)^2); m1 within this of 0 means a degenerate outline (ratio 0).
constexpr double kMaxElongation = 8.0;
constexpr double kZeroMoment = 1e-15;
// Non-uniform lighting: share of the ring around a blob that must be edge pixels (strictly
// more than this), and the surround of the brightness test, a quarter of the blob's box on
// every side.
constexpr double kMinRingEdgeShare = 0.75;
constexpr long kSurroundDivisor = 4;
// Values of the thickened edge map.
constexpr std::size_t kEdgePel = 0;
constexpr std::size_t kNoEdgePel = 255;

// One fiducial zone: its polygon in image coordinates and the polygon's bounding box.
struct Zone {
  ccPolyline polygon;
  ccRect box;
  double area = 0.0;
};

// The zone of one fiducial rectangle in image coordinates, corners in an order that passes
// the convexity test (which depends on the orientation).
Zone zoneOf(const ccAffineRectangle& rectInClient, const ccXform<2>& imageFromClient) {
  const ccAffineRectangle r = rectInClient.mapped(imageFromClient);
  ccPolyline poly({r.cornerPo(), r.cornerPx(), r.cornerPopp(), r.cornerPy()}, true);
  if (!poly.isConvex())
    poly = ccPolyline({r.cornerPo(), r.cornerPy(), r.cornerPopp(), r.cornerPx()}, true);
  cstd_assert_(poly.isConvex());
  Zone z;
  z.polygon = poly;
  z.box = poly.boundingBox();
  z.area = poly.area();
  return z;
}

std::vector<Zone> fiducialZones(const ccPelBuffer_const<unsigned char>& image,
                                const ccAffineRectangle& r1, const ccAffineRectangle& r2) {
  cstd_assert_(r1.degen() == r2.degen());
  std::vector<Zone> zones;
  if (r1.degen()) return zones;
  const ccXform<2> imageFromClient = image.imageFromClientXform();
  zones.push_back(zoneOf(r1, imageFromClient));
  if (!r2.degen()) zones.push_back(zoneOf(r2, imageFromClient));
  return zones;
}

// True when the blob's direct children (its holes) cover kMaxHoleShare of its area or more.
bool hasLargeHoles(const ccBlob& blob) {
  double holes = 0.0;
  for (const ccBlob* c = blob.firstChild(); c != nullptr; c = c->nextSibling()) holes += c->area();
  return holes > 0.0 && holes >= kMaxHoleShare * blob.area();
}

// The blob's outer boundary as a closed polygon along pixel edges, image coordinates.
ccPolyline outlineOf(const ccBlob& blob) {
  const ccBlobChainCode chain = blob.boundaryChainCode();
  cstd_assert_(chain.codes.size() >= 4 && chain.codes.back() == eBlobDirEnd);
  return ccPolyline(chain.vertices(), true);
}

bool overlapsFiducial(const ccPolyline& outline, const std::vector<Zone>& zones) {
  if (zones.empty()) return false;
  const ccRect box = outline.boundingBox();
  const double area = outline.area();
  for (const Zone& z : zones) {
    if ((z.box & box).degen()) continue;
    if (cfCheckerPolygonOverlapArea(z.polygon, outline, false) >
        kMaxFiducialOverlap * std::min(z.area, area)) {
      return true;
    }
  }
  return false;
}

// Every vertex pushed away from the outline's centroid by `grow` pixels and the result scaled
// by kGrowScale about it; the convex hull of those points.
ccPolyline grownHull(const ccPolyline& outline, double grow) {
  const ccVector<2> c = outline.centroid();
  std::vector<ccVector<2>> moved;
  moved.reserve(outline.vertices().size());
  for (const ccVector<2>& v : outline.vertices()) {
    const double d = (v - c).length();
    const double s = d > 0.0 ? kGrowScale * (d + grow) / d : 0.0;
    moved.push_back(c + (v - c) * s);
  }
  return ccPolyline(cfConvexHull(moved), true);
}

bool tooElongated(const ccPolyline& hull) {
  const ccPolyline::PrincipalMoments m = hull.principalMomentsArea();
  const double elongation = cfRealEq(m.m1, 0.0, kZeroMoment) ? 0.0 : std::fabs(m.m2 / m.m1);
  return elongation >= kMaxElongation;
}

// Share of edge pixels of the thickened edge map in the one-pixel ring around the blob.
double ringEdgeShare(const ccBlob& blob, const ccPelBuffer_const<unsigned char>& edgeMap) {
  const ccRLEBuffer region = blob.region();
  const ccRLEBuffer padded = region.rewindow(region.window().trim(-1, -1, -1, -1), 0);
  ccRLEBuffer ring = padded.gmorphMax(ccRLEBuffer::eShapeSquare3);
  ring.mask(padded, 1, 0, false);
  cstd_assert_(edgeMap.window().encloses(ring.window()));
  if (!edgeMap.window().encloses(ring.window())) return 0.0;
  const std::vector<unsigned long> h = ring.histogramUnder(edgeMap);
  const double edge = static_cast<double>(h[kEdgePel]), other = static_cast<double>(h[kNoEdgePel]);
  cstd_assert_(edge + other > 0.0);
  return edge + other > 0.0 ? edge / (edge + other) : 0.0;
}

// True when the median grey level of the blob's pixels is above that of its surround (the
// rest of its box grown by a quarter on every side, within the work window).
bool brighterThanSurround(const ccBlob& blob, const ccPelBuffer_const<unsigned char>& image,
                          const ccPelRect& workWindow) {
  const ccPelRect box = blob.imageBoundingBox();
  const long gx = box.width() / kSurroundDivisor, gy = box.height() / kSurroundDivisor;
  const ccPelRect around = box.trim(-gx, -gx, -gy, -gy, false) & workWindow;
  if (around.degen()) return false;
  ccPelBuffer_const<unsigned char> patch = image;
  patch.window(around);
  std::vector<unsigned long> surround = cfPelHistogram(patch);
  const std::vector<unsigned long> inside = blob.region().histogramUnder(patch);
  for (std::size_t v = 0; v < surround.size(); ++v) {
    cstd_assert_(surround[v] >= inside[v]);
    surround[v] = surround[v] >= inside[v] ? surround[v] - inside[v] : 0;
  }
  return ccHistoStats(inside, true).median() > ccHistoStats(surround, true).median();
}

void recordTile(const ccBlob& blob, const ccPolyline& hullInImage, std::vector<cc_Checker>& tiles) {
  cstd_assert_(tiles.size() < tiles.capacity());
  tiles.emplace_back();
  cc_Checker& t = tiles.back();
  t.angle = blob.angle();
  t.center = blob.center(false, t.angle);
  t.boundingBox = blob.boundingBox(false, t.angle);
  t.centerOfMass = blob.centerOfMass();
  const ccBlobSceneDescription* scene = blob.scene();
  t.polygon = scene != nullptr ? hullInImage.mapped(scene->clientFromImageXform()) : hullInImage;
  t.polygonBox = t.polygon.boundingBox();
  t.area = t.polygon.area();
}

}  // namespace

double cfCheckerPolygonOverlapArea(const ccPolyline& p, const ccPolyline& q, bool boxPreTest) {
  if (boxPreTest && (p.boundingBox() & q.boundingBox()).degen()) return 0.0;
  const ccPolyline clipped = cfClipPolygon(q, p);
  return clipped.numVertices() < 3 ? 0.0 : clipped.signedArea();
}

void cfCheckerTilesFromBlobs(const ccPelBuffer_const<unsigned char>& image,
                             const ccPelBuffer_const<unsigned char>& edgeMap,
                             const ccAffineRectangle& fiducialRect1,
                             const ccAffineRectangle& fiducialRect2,
                             const std::vector<const ccBlob*>& blobList, bool uniformLighting,
                             std::vector<cc_Checker>& tiles) {
  const std::vector<Zone> zones = fiducialZones(image, fiducialRect1, fiducialRect2);
  tiles.clear();
  tiles.reserve(blobList.size());
  const ccPelRect workWindow = uniformLighting ? image.window() : image.window().trim(1, 1, 1, 1);
  const double grow = uniformLighting ? kGrowUniform : kGrowNonUniform;

  for (std::size_t i = 0; i < blobList.size(); ++i) {
    if (i % kBlobsPerCheck == 0) ccAttention::check();
    const ccBlob& blob = *blobList[i];
    if (hasLargeHoles(blob)) continue;
    const ccPolyline outline = outlineOf(blob);
    if (overlapsFiducial(outline, zones)) continue;
    const ccPolyline hull = grownHull(outline, grow);
    if (tooElongated(hull)) continue;
    if (!uniformLighting) {
      if (!(ringEdgeShare(blob, edgeMap) > kMinRingEdgeShare)) continue;
      if (!brighterThanSurround(blob, image, workWindow)) continue;
    }
    recordTile(blob, hull, tiles);
  }
}
