// SPDX-License-Identifier: Apache-2.0
// The checker-area mask and the background flattening that the fiducial retry under uneven
// lighting searches on: the board's convex hull as a mask, a median window of about five
// grid pitches, and the image minus its median background re-centred on mid grey.
#include <algorithm>
#include <cmath>

#include "cal/checkerlabels/checker_labels.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/pel_ops.h"
#include "platform/foundation/polyline.h"
#include "platform/foundation/region_tree.h"
#include "platform/vision/median.h"
#include "platform/vision/pel_arith.h"

namespace {

// Relative slack of the tolerant floor and ceiling: a value this close to an integer counts
// as that integer, so positions computed as k - tiny land in pixel k.
constexpr double kTolerantRounding = 1e-11;
// Row alignment of the mask buffer, bytes.
constexpr int kMaskRowAlignment = 32;
constexpr unsigned char kMaskInside = 255;
// Mesh corners with this many linked corners (3 or 4) lie inside the board, not on a loose end.
constexpr std::size_t kMinHullLinks = 3;
constexpr std::size_t kMaxHullLinks = 4;
// The median window spans this many grid pitches.
constexpr double kMedianPitches = 5.0;
constexpr long kMaxMedianSize = ccPelMedianParams::kMaxSize;
// Largest median kernel area kept before the window is narrowed, pixels.
constexpr long kMaxMedianArea = 32768;
// Mid grey, and the signed difference range around it that the flattened image keeps.
constexpr int kMidGrey = 128;
constexpr int kFlattenLimit = 127;

double sign(double v) {
  return v > 0.0 ? 1.0 : v < 0.0 ? -1.0 : 0.0;
}
long tolerantFloor(double v) {
  return static_cast<long>(std::floor(v * (1.0 + kTolerantRounding * sign(v))));
}
long tolerantCeil(double v) {
  return static_cast<long>(std::ceil(v * (1.0 - kTolerantRounding * sign(v))));
}

bool insideBoard(const cc_Corner& c) {
  return c.valid && c.linked.size() >= kMinHullLinks && c.linked.size() <= kMaxHullLinks;
}

// Background of `image` by a masked median of window `size` (a plain copy for a window of
// one pixel), over the image window cut to the mask's.
ccPelBuffer<unsigned char> medianBackground(const ccPelBuffer_const<unsigned char>& image,
                                            const ccPelBuffer<unsigned char>& mask,
                                            const ccPair<long>& size) {
  if (size.x() < 2 && size.y() < 2) return cfPelCopy(image);
  ccPair<long> k(size.x() | 1, size.y() | 1);
  cstd_assert_(k.x() >= 1 && k.y() >= 1);
  while (k.x() * k.y() >= kMaxMedianArea) {
    if (k.x() > k.y())
      k.x(k.x() - 2);
    else
      k.y(k.y() - 2);
  }
  // Grey levels that take part: mid grey +- the flattening limit, within the pixel range.
  const ccPair<long> range(std::max(0, kMidGrey - kFlattenLimit),
                           std::min(255, kMidGrey + kFlattenLimit));
  const ccPelMedianParams params(k, range, true);
  ccPelBuffer<unsigned char> background;
  if (mask.isBound())
    cfPelMedian(image, mask, params, background);
  else
    cfPelMedian(image, params, background);
  return background;
}

}  // namespace

void cfCheckerCreateMask(const std::vector<cc_Corner>& corners, ccPelBuffer<unsigned char>& mask,
                         unsigned long& count) {
  ccPelRect box;
  std::vector<ccVector<2>> points;
  points.reserve(corners.size());
  for (const cc_Corner& c : corners) {
    if (!insideBoard(c)) continue;
    box |= ccPelRect(tolerantFloor(c.position.x()), tolerantFloor(c.position.y()), 1, 1);
    points.push_back(c.position);
  }
  count = points.size();
  mask = ccPelBuffer<unsigned char>();
  if (box.isNull()) return;

  mask = ccPelBuffer<unsigned char>(box, kMaskRowAlignment);
  cfPelSet(mask, static_cast<unsigned char>(0));
  const ccPolyline hull(cfConvexHull(points), true);
  cfRasterize(ccRegionTree(hull, false), mask, kMaskInside, eBoundaryInclude,
              RasterizeSampParams());
}

ccPair<long> cfCheckerMedianSize(const ccPelRect& window, unsigned long count) {
  cstd_assert_(count >= 1);
  const long area = window.width() * window.height();
  long s = tolerantCeil(kMedianPitches *
                        std::sqrt(static_cast<double>(area) / static_cast<double>(count)));
  s |= 1;
  s = std::min(s, kMaxMedianSize);
  return ccPair<long>(s, s);
}

ccPelBuffer<unsigned char> cfCheckerFlattenBackground(const ccPelBuffer_const<unsigned char>& image,
                                                      const ccPelBuffer<unsigned char>& mask,
                                                      const ccPair<long>& medianSize) {
  ccPelRect common = image.window();
  if (mask.isBound()) common &= mask.window();

  ccPelBuffer<unsigned char> background = medianBackground(image, mask, medianSize);
  ccPelBuffer<unsigned char> flat = cfPelCopy(image);
  flat.window(common);
  background.window(common);

  cf_PelSubClamp(flat, background, kFlattenLimit);
  cfPelSet(background, static_cast<unsigned char>(kMidGrey));
  cf_PelAddClamp(flat, background);
  return flat;
}
